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

# The marker names the port list, so a prefix made with fewer ports gains
# the new ones on the next run.
marker=$prefix/.tarvex-ready-$(echo "${ports[*]}" | md5sum | cut -c1-8)
if [[ -f $marker ]]; then exit 0; fi

mkdir -p "$prefix"
if [[ ! -f $prefix/system.reg ]]; then wineboot -i >/dev/null 2>&1 || true; fi
for port in "${ports[@]}"; do
  link=$prefix/tarvex-${port,,}
  wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$link" /f >/dev/null
done
wineserver -w
rm -f "$prefix"/.tarvex-ready* "$prefix"/.tarvex-cli-ports
touch "$marker"
