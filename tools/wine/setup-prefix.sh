#!/usr/bin/env bash
# Makes a private Wine prefix whose COM1 and COM2 are stable symlinks inside
# the prefix (tarvex-com1, tarvex-com2). The pager emulator points those links
# at its pseudo-terminal, so no registry change is needed per run: Wine's
# mount manager rebuilds dosdevices/comN from the registry at every start.
#
#   tools/wine/setup-prefix.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "${1:?usage: setup-prefix.sh PREFIX}")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
marker=$prefix/.tarvex-ready

if [[ -f $marker ]]; then exit 0; fi
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1 || true
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$prefix/tarvex-com1" /f >/dev/null
wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /t REG_SZ /d "$prefix/tarvex-com2" /f >/dev/null
# A port numbered as USB adapters get numbered, above COM9.
wine reg add 'HKLM\Software\Wine\Ports' /v COM12 /t REG_SZ /d "$prefix/tarvex-com12" /f >/dev/null
wineserver -w
touch "$marker"
