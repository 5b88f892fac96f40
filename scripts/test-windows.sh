#!/usr/bin/env bash
# Builds the Windows program, 32-bit (tarnwick.exe as its users run it) and
# 64-bit, with mingw-w64, and runs the Windows tests under Wine: the engine's
# unit tests, the Win32 serial port against the simulated device on a
# pseudo-terminal, and the whole program driven through its window under Xvfb.
# Installs what is missing with apt-get. Run by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-deps.sh \
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix \
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 \
  wine wine64 fonts-wine xvfb xauth socat libcli11-dev python3

# The 32-bit Wine runs the 32-bit program; it comes from Debian's i386 packages.
wine32=yes
if [[ ! -x /usr/lib/wine/wine ]]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    if [[ $(id -u) -eq 0 ]]; then dpkg --add-architecture i386; else sudo dpkg --add-architecture i386; fi
  fi
  scripts/ensure-deps.sh wine32:i386 || wine32=no
  [[ -x /usr/lib/wine/wine ]] || wine32=no
fi
# Some kernels cannot run 32-bit programs at all, Wine's 32-bit loader included.
if [[ $wine32 == yes ]] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "This machine cannot run 32-bit programs: the 32-bit Windows build is built but not tested."
  wine32=no
fi

# The simulated device and the image packer run natively, from a Linux build.
host=build/default
if [[ ! -x $host/device/tarnwick-device || ! -x $host/tools/tarnwick-pack ]]; then
  host=build/windows-host
  cmake --preset engine -B "$host" >/dev/null
  cmake --build "$host" --parallel 2 --target tarnwick-device tarnwick-pack
fi
host=$(cd "$host" && pwd)

status=0
for arch in x86 x64; do
  preset=windows-$arch
  echo "=== $preset"
  cmake --preset "$preset" -DTARNWICK_HOST_BUILD_DIR="$host" >/dev/null
  if [[ $arch == x86 && $wine32 == no ]]; then
    # Only the programs: their tests could not run here.
    cmake --build --preset "$preset" --parallel 2 --target tarnwick tarnwick-cli tarnwick-device tarnwick-pack
    echo "32-bit Wine is not available here: the 32-bit programs are built but not tested."
    continue
  fi
  cmake --build --preset "$preset" --parallel 2
  ctest --preset "$preset" || status=1
  WINEPREFIX=$PWD/build/$preset/wine-prefix wineserver -k >/dev/null 2>&1 || true
done
exit "$status"
