#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test Tarvex Flasher:
# the native toolchain and test libraries, mingw-w64 for the Windows build,
# Wine, Xvfb and xdotool to run and drive it, clang and valgrind for the
# fault tests, the header-only libraries of the command-line flasher and
# libcrypto, whose SHA-256 it logs and with which it checks a job's
# signature, openssl and faketime to sign jobs and move the clock in the
# tests, groff and col to render the manual pages as text for the Windows
# ZIP, and socat, which joins two COM ports of a Wine prefix as two adapters
# wired TX to RX. (tools/fleet/try-fleet.sh installs rsyslog and PostgreSQL
# itself, declining rsyslog-pgsql's database setup.)
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev valgrind
  openssl faketime
  libcli11-dev nlohmann-json3-dev libfmt-dev libssl-dev
  g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth xdotool x11-utils libx11-dev imagemagick python3
  fonts-wine dpkg-dev unzip lintian groff-base bsdextrautils socat
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]} == 0)); then exit 0; fi

echo "Installing: ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; else SUDO=; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
