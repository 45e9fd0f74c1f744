#!/usr/bin/env bash
# Makes a private Wine prefix whose COM1, COM2, COM5 and COM6 are stable
# symlinks inside the prefix (tarvex-com1, ...). The pager emulator points
# those links at its pseudo-terminal, so no registry change is needed per
# run: Wine's mount manager rebuilds dosdevices/comN from the registry at
# every start.
#
#   tools/wine/setup-prefix.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "${1:?usage: setup-prefix.sh PREFIX}")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
marker=$prefix/.tarvex-ready

if [[ ! -f $marker ]]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$prefix/tarvex-com1" /f >/dev/null
  wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /t REG_SZ /d "$prefix/tarvex-com2" /f >/dev/null
  wineserver -w
  touch "$marker"
fi

# COM5 and COM6: the command-line flasher's tests, one pager and two at once.
# Their own marker, so a prefix made before them gains them too.
cli_marker=$prefix/.tarvex-cli-ports
if [[ ! -f $cli_marker ]]; then
  wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$prefix/tarvex-com5" /f >/dev/null
  wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /t REG_SZ /d "$prefix/tarvex-com6" /f >/dev/null
  wineserver -w
  touch "$cli_marker"
fi
