#!/usr/bin/env bash
# Makes a private Wine prefix whose COM ports are stable symlinks inside the
# prefix (tarvex-com1, tarvex-com2, ...). The pager emulator points those
# links at its pseudo-terminal, so no registry change is needed per run:
# Wine's mount manager rebuilds dosdevices/comN from the registry at every
# start.
#
#   tools/wine/setup-prefix.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "${1:?usage: setup-prefix.sh PREFIX}")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# COM1 and COM2: the channel's tests and the window's end-to-end runs.
# COM5 and COM6: the command-line flasher, one pager and two at once.
# COM7: the command-line flasher's station, pagers one after another.
# COM12: a port numbered as USB adapters get numbered, above COM9.
ports=(COM1 COM2 COM5 COM6 COM7 COM12)

# Wine's own fonts: Marlett draws the title bar's buttons (without it they
# show as "0 1 r"), and the system and dialog fonts come from here too.
# Debian's Wine keeps them in /usr/share/wine/fonts (package fonts-wine), and
# wineboot does not put them into the prefix's Fonts folder, where Wine looks.
wine_fonts=/usr/share/wine/fonts

# The marker names the port list and the font step, so a prefix made before
# either gains what it lacks on the next run.
marker=$prefix/.tarvex-ready-$(echo "${ports[*]} fonts" | md5sum | cut -c1-8)
if [[ -f $marker ]]; then exit 0; fi

mkdir -p "$prefix"
if [[ ! -f $prefix/system.reg ]]; then wineboot -i >/dev/null 2>&1 || true; fi
for port in "${ports[@]}"; do
  link=$prefix/tarvex-${port,,}
  wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$link" /f >/dev/null
done
wineserver -w
if [[ ! -f $wine_fonts/marlett.ttf ]]; then
  echo "setup-prefix.sh: $wine_fonts/marlett.ttf is missing (install fonts-wine)" >&2
  exit 1
fi
fonts_dir=$prefix/drive_c/windows/Fonts
mkdir -p "$fonts_dir"
cp -n "$wine_fonts"/*.ttf "$wine_fonts"/*.fon "$fonts_dir/"
rm -f "$prefix"/.tarvex-ready* "$prefix"/.tarvex-cli-ports
touch "$marker"
