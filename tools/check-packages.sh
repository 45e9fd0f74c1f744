#!/usr/bin/env bash
# Makes the packages of the builds that exist (the Debian package of
# build/linux, the Windows ZIP of build/windows) and checks what a user gets:
# lintian finds no error and no warning in the .deb, the .deb holds the
# programs, their manual pages, the sample firmware, the copyright file and
# the changelog, and the ZIP holds just what a Windows technician needs, with
# nothing of this machine in it. The listings go to build/packages.log.
#
#   tools/check-packages.sh
#
# Prints one line per check, then "N passed, N failed"; exits 1 when a check
# failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
log=$root/build/packages.log
mkdir -p "$root/build"
: >"$log"

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@" >>"$log" 2>&1; then
    echo "  ok    $what"
    passed=$((passed + 1))
  else
    echo "  FAIL  $what (see $log)"
    failed=$((failed + 1))
  fi
}

make_package() {
  local build=$1
  rm -rf "$build/packages"
  (cd "$build" && cpack)
}

version_of() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"; }

# The exact list of names in the archive, against the list it should hold.
zip_holds_exactly() {
  local zip=$1 top=$2
  diff <(unzip -Z1 "$zip" | sort) <(
    printf '%s\n' "$top/LICENSE.txt" "$top/README.txt" "$top/THIRD-PARTY.txt" \
      "$top/TarvexUpd.exe" "$top/samples/" "$top/samples/pager-demo.hex" "$top/tarvex-flash.exe" \
      "$top/TarvexBench.exe" "$top/pagersim.exe" \
      "$top/manual/" "$top/manual/tarvex-flash.txt" "$top/manual/pagersim.txt" |
      sort)
}

# No path of the machine that built it: not the source tree, not a home or
# build folder, in any file of the archive.
zip_has_no_build_paths() {
  local zip=$1 dir
  dir=$(mktemp -d)
  unzip -q "$zip" -d "$dir" || return 1
  local found
  found=$(grep -r -l -a -F -e "$root" -e "${root//\//\\}" -e "/usr/x86_64-w64-mingw32" "$dir")
  rm -rf "$dir"
  [[ -z $found ]] || { echo "build paths in: $found"; return 1; }
}

readme_has_crlf_lines() {
  unzip -p "$1" "$2/README.txt" | head -n1 | grep -q $'\r$'
}

# Every line of a text file of the ZIP ends in CR LF, and no other control
# character is left (the manuals' bold and underlining, or a tab).
zip_text_is_plain_crlf() {
  local zip=$1 file=$2 bad
  bad=$(unzip -p "$zip" "$file" | LC_ALL=C grep -n -a -v -E $'^[^\x01-\x1f\x7f]*\r$' | head -n3)
  [[ -z $bad ]] || { echo "$file: lines without CR LF or with control characters: $bad"; return 1; }
}

# A manual of the ZIP reads as the page does: its sections are there.
zip_manual_has_sections() {
  local zip=$1 file=$2 text section
  text=$(unzip -p "$zip" "$file" | tr -d '\r')
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS; do
    grep -qx "$section" <<<"$text" || { echo "$file: no $section section"; return 1; }
  done
}

# What README.txt must tell a Windows technician, taken from where the truth
# lives: each exit code with its name (station/ExitCode.h and .cpp), each option
# of the usage block (README.md, the same as --help), each field of the log
# (the manual page), and its sections; and each title is underlined to its
# own length.
readme_txt_is_complete() {
  local text missing=() codes code name option fields field section
  text=$(unzip -p "$1" "$2/README.txt" | tr -d '\r')
  codes=$(join -o 1.2,2.2 <(sed -nE 's/^ *(k[A-Za-z]+) = ([0-9]+),.*/\1 \2/p' station/ExitCode.h | sort) \
    <(sed -nE 's/.*\{ExitCode::(k[A-Za-z]+), "([a-z-]+)".*/\1 \2/p' station/ExitCode.cpp | sort))
  (($(wc -l <<<"$codes") >= 13)) || missing+=("the exit codes (not found in station/ExitCode.*)")
  while read -r code name; do
    grep -qE "^ +$code +$name " <<<"$text" || missing+=("exit code $code ($name)")
  done <<<"$codes"
  for option in $(sed -n '/^tarvex-flash \[options\] -p PORT FILE.hex$/,/^```$/p' README.md |
    grep -oE -- '--[a-z-]+'); do
    grep -qF -- "$option" <<<"$text" || missing+=("option $option")
  done
  # "A line of the --log file carries time, port, ... and seconds; with
  # --station also number and station_start."
  fields=$(tr '\n' ' ' <cli/tarvex-flash.1 | grep -oE 'file carries [^;]*; with .{0,30}also [^.]*' |
    sed -E 's/.*carries //; s/; with .*also / /; s/,| and / /g')
  [[ $fields == *sha256* ]] || missing+=("the log's fields (not found in cli/tarvex-flash.1)")
  for field in $fields; do
    grep -qE "^ +$field " <<<"$text" || missing+=("log field $field")
  done
  for section in "The window, TarvexUpd.exe" "Picking a port" "Where the settings are kept" \
    "The command line, tarvex-flash.exe" "The production bench, tarvex-flash --station" \
    "The log, --log FILE" "Exit codes" "Trying a bench without pagers"; do
    grep -qxF "$section" <<<"$text" || missing+=("section \"$section\"")
  done
  # A rule of = or - under a line must be just as long.
  missing+=($(awk '/^(=+|-+)$/ && NR > 1 && length($0) != length(previous) { print "underline@" NR }
    { previous = $0 }' <<<"$text"))
  ((${#missing[@]} == 0)) || { printf 'README.txt lacks: %s\n' "${missing[@]}"; return 1; }
}

# The exes carry the program's icon, at 16, 32 and 48 px: windres reads an
# exe's resources back as a script, the icon group's sizes in it.
exes_carry_the_icon() {
  local zip=$1 top=$2 dir exe group size
  dir=$(mktemp -d)
  unzip -q "$zip" "$top/*.exe" -d "$dir" || return 1
  for exe in TarvexUpd.exe tarvex-flash.exe TarvexBench.exe; do
    group=$(x86_64-w64-mingw32-windres -J coff -O rc -i "$dir/$top/$exe" |
      sed -n '/RT_GROUP_ICON/,/^END/p')
    for size in '\020\020' '\040\040' '\060\060'; do
      grep -qF "\"$size\000\000\"" <<<"$group" || { echo "$exe: no icon image $size"; rm -rf "$dir"; return 1; }
    done
  done
  rm -rf "$dir"
}

# Each exe is one file: it imports only DLLs of Windows itself, none of the
# compiler's (libstdc++, libgcc, winpthread) that a PC would lack.
exes_import_only_windows_dlls() {
  local zip=$1 top=$2 dir exe foreign
  dir=$(mktemp -d)
  unzip -q "$zip" "$top/*.exe" -d "$dir" || return 1
  for exe in "$dir/$top"/*.exe; do
    foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
      grep -viE '^(advapi32|bcrypt|cfgmgr32|comctl32|comdlg32|crypt32|gdi32|kernel32|msvcrt|ole32|oleaut32|setupapi|shell32|shlwapi|user32|uxtheme|winmm)\.dll$')
    [[ -z $foreign ]] || { echo "$(basename "$exe") imports $foreign"; rm -rf "$dir"; return 1; }
  done
  rm -rf "$dir"
}

deb_holds() {
  local deb=$1 listing
  listing=$(dpkg-deb --contents "$deb" | awk '{print $6}')
  local path
  for path in ./usr/bin/tarvex-flash ./usr/bin/pagersim ./usr/share/man/man1/tarvex-flash.1.gz \
    ./usr/share/man/man1/pagersim.1.gz ./usr/share/tarvex-flasher/pager-demo.hex \
    ./usr/share/doc/tarvex-flasher/copyright ./usr/share/doc/tarvex-flasher/changelog.gz \
    ./usr/share/lintian/overrides/tarvex-flasher; do
    grep -qx "$path" <<<"$listing" || { echo "missing from the package: $path"; return 1; }
  done
}

# `cmake --install` to a prefix of one's own puts the programs, the manual
# pages and the sample where the manual page says (PREFIX/share/...), and
# no lintian override: that belongs to the package. The build's own
# install_manifest.txt and install_folders.txt, a user's way to undo an
# install, are kept.
user_install_has_no_override() {
  local build=$1 prefix kept status=0
  prefix=$(mktemp -d)
  kept=$(mktemp -d)
  cp "$build"/install_manifest.txt "$build"/install_folders.txt "$kept/" 2>/dev/null
  cmake --install "$build" --prefix "$prefix" >/dev/null || status=1
  rm -f "$build"/install_manifest.txt "$build"/install_folders.txt
  cp "$kept"/* "$build/" 2>/dev/null
  rm -rf "$kept"
  [[ -f $prefix/share/tarvex-flasher/pager-demo.hex && -x $prefix/bin/tarvex-flash ]] ||
    { echo "the sample or the program is not where the manual page says"; status=1; }
  [[ ! -e $prefix/share/lintian ]] || { echo "a lintian override in $prefix/share/lintian"; status=1; }
  rm -rf "$prefix"
  return $status
}

# The uninstall target takes back what `cmake --install` put under a prefix
# of one's own, and the folders it made, the prefix itself among them; a
# folder that was there before stays. The build's own record of an earlier
# install is kept.
uninstall_leaves_no_folder() {
  local build=$1 root kept status=0 left prefix
  root=$(mktemp -d)
  kept=$(mktemp -d)
  cp "$build"/install_manifest.txt "$build"/install_folders.txt "$kept/" 2>/dev/null
  mkdir -p "$root/existing/bin"
  for prefix in "$root/existing" "$root/new/tarvex"; do
    { cmake --install "$build" --prefix "$prefix" && cmake --build "$build" --target uninstall; } \
      >/dev/null || status=1
  done
  rm -f "$build"/install_manifest.txt "$build"/install_folders.txt
  cp "$kept"/* "$build/" 2>/dev/null
  rm -rf "$kept"
  left=$(cd "$root" && find . | sort | tr '\n' ' ')
  [[ $left == ". ./existing ./existing/bin " ]] || { echo "left after the uninstall: $left"; status=1; }
  rm -rf "$root"
  return $status
}

if [[ -f build/linux/CMakeCache.txt ]]; then
  echo "Debian package:"
  check "cpack makes the .deb" make_package build/linux
  deb=$(ls build/linux/packages/*.deb 2>/dev/null | head -n1)
  {
    echo "== $deb"
    dpkg-deb --info "$deb" && dpkg-deb --contents "$deb"
  } >>"$log" 2>&1
  check "lintian: no error, no warning" lintian --fail-on error,warning "$deb"
  check "the .deb holds programs, manual pages, sample, copyright, changelog, override" deb_holds "$deb"
  check "cmake --install to one's own prefix writes no lintian override" \
    user_install_has_no_override build/linux
  check "the uninstall target removes the files and the folders the install made" \
    uninstall_leaves_no_folder build/linux
fi

if [[ -f build/windows/CMakeCache.txt ]]; then
  echo "Windows ZIP:"
  check "cpack makes the ZIP" make_package build/windows
  top=tarvex-flasher-$(version_of build/windows)-win64
  zip=build/windows/packages/$top.zip
  {
    echo "== $zip"
    unzip -l "$zip"
  } >>"$log" 2>&1
  check "the ZIP is named $top.zip and holds just its files" zip_holds_exactly "$zip" "$top"
  check "the ZIP holds no path of the build machine" zip_has_no_build_paths "$zip"
  check "README.txt has Windows line ends" readme_has_crlf_lines "$zip" "$top"
  check "README.txt tells every exit code, option, log field and section" \
    readme_txt_is_complete "$zip" "$top"
  for page in tarvex-flash pagersim; do
    check "manual/$page.txt is plain text with Windows line ends" \
      zip_text_is_plain_crlf "$zip" "$top/manual/$page.txt"
    check "manual/$page.txt holds the page's sections" \
      zip_manual_has_sections "$zip" "$top/manual/$page.txt"
  done
  check "the exes carry the icon at 16, 32 and 48 px" exes_carry_the_icon "$zip" "$top"
  check "the exes import only DLLs of Windows itself" exes_import_only_windows_dlls "$zip" "$top"
fi

echo "Packages: $passed passed, $failed failed"
((failed == 0))
