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
# COM7 and COM8 also as the two ends of one link (tools/wine/com-pair.sh):
#   the Windows emulator on one, the flasher on the other.
# COM12: a port numbered as USB adapters get numbered, above COM9.
ports=(COM1 COM2 COM5 COM6 COM7 COM8 COM12)

# USB adapters as their drivers describe them to SetupAPI: a device of the
# Ports class with its friendly name and maker, and the COM name it was given
# under Device Parameters. Wine lists such devices as Windows does, so the
# Comm Port menu and --list-ports show names and serial numbers as on a PC.
# COM1, COM2 and COM7 stay ports without a device, known from SERIALCOMM
# alone. The FTDI adapter keeps its latency timer beside its COM name, at the
# driver's default of 16 ms, as --tune-adapters finds it on a PC.
#   COM name|instance ID|friendly name without "(COMn)"|maker|service[|latency timer]
adapters=(
  'COM5|FTDIBUS\VID_0403+PID_6001+FT5KQ2R7A\0000|USB Serial Port|FTDI|FTSER2K|16'
  'COM6|USB\VID_10C4&PID_EA60\0001|Silicon Labs CP210x USB to UART Bridge|Silicon Labs|silabser'
  'COM12|USB\VID_1A86&PID_7523\5&2C4A1B3F&0&2|USB-SERIAL CH340|wch.cn|CH341SER_A64'
)
ports_class='{4D36E978-E325-11CE-BFC1-08002BE10318}'

# Wine's own fonts: Marlett draws the title bar's buttons (without it they
# show as "0 1 r"), and the system and dialog fonts come from here too.
# Debian's Wine keeps them in /usr/share/wine/fonts (package fonts-wine), and
# wineboot does not put them into the prefix's Fonts folder, where Wine looks.
wine_fonts=/usr/share/wine/fonts

# The marker names the port list and the font step, so a prefix made before
# either gains what it lacks on the next run.
marker=$prefix/.tarvex-ready-$(echo "${ports[*]} ${adapters[*]} fonts" | md5sum | cut -c1-8)
if [[ -f $marker ]]; then exit 0; fi

mkdir -p "$prefix"
if [[ ! -f $prefix/system.reg ]]; then wineboot -i >/dev/null 2>&1 || true; fi
for port in "${ports[@]}"; do
  link=$prefix/tarvex-${port,,}
  wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$link" /f >/dev/null
done
adapters_reg=$prefix/tarvex-adapters.reg
{
  printf 'REGEDIT4\n'
  for adapter in "${adapters[@]}"; do
    IFS='|' read -r port id friendly maker service timer <<<"$adapter"
    key="HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\$id"
    printf '\n[%s]\n"ClassGUID"="%s"\n"FriendlyName"="%s (%s)"\n"Mfg"="%s"\n"Service"="%s"\n' \
      "$key" "$ports_class" "$friendly" "$port" "$maker" "$service"
    printf '\n[%s\\Device Parameters]\n"PortName"="%s"\n' "$key" "$port"
    if [[ -n $timer ]]; then printf '"LatencyTimer"=dword:%08x\n' "$timer"; fi
  done
} >"$adapters_reg"
wine regedit /S "$(winepath -w "$adapters_reg")"
rm -f "$adapters_reg"
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
