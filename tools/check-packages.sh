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
      "$top/TarvexUpd.exe" "$top/samples/" "$top/samples/pager-demo.hex" "$top/tarvex-flash.exe" |
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

deb_holds() {
  local deb=$1 listing
  listing=$(dpkg-deb --contents "$deb" | awk '{print $6}')
  local path
  for path in ./usr/bin/tarvex-flash ./usr/bin/pagersim ./usr/share/man/man1/tarvex-flash.1.gz \
    ./usr/share/man/man1/pagersim.1.gz ./usr/share/tarvex-flasher/pager-demo.hex \
    ./usr/share/doc/tarvex-flasher/copyright ./usr/share/doc/tarvex-flasher/changelog.gz; do
    grep -qx "$path" <<<"$listing" || { echo "missing from the package: $path"; return 1; }
  done
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
  check "the .deb holds programs, manual pages, sample, copyright, changelog" deb_holds "$deb"
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
fi

echo "Packages: $passed passed, $failed failed"
((failed == 0))
