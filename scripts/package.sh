#!/usr/bin/env bash
# Makes the packages into build/packages/, with CPack:
#   tarnwick-cli_<version>_amd64.deb  and tarnwick_<version>_amd64.deb (the
#                                  desktop program, which depends on the
#                                  first), from the Linux build (preset default);
#   tarnwick-<version>-win64.zip   and -win32.zip, from the Windows builds
#                                  (presets windows-x64, windows-x86), when
#                                  mingw-w64 is installed (scripts/test.sh
#                                  installs it; so does scripts/test-windows.sh).
# Builds only what the packages hold; a build folder already there is reused.
# Packages of an earlier run are removed first, so that build/packages/ holds
# what this run made and nothing else.
# Installs what is missing with apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-deps.sh
# help2man writes the manual pages; dpkg-shlibdeps (dpkg-dev) and file find
# the package's dependencies.
scripts/ensure-deps.sh help2man dpkg-dev file

out=$PWD/build/packages
rm -rf "$out"
mkdir -p "$out"

package() {  # package PRESET GENERATOR
  local preset=$1 generator=$2
  echo "=== $preset: $generator"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --parallel 2 --target tarnwick_package_contents
  cpack --config "build/$preset/CPackConfig.cmake" -G "$generator" -B "$out"
}

package default DEB
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v i686-w64-mingw32-g++-posix >/dev/null; then
  package windows-x64 ZIP
  package windows-x86 ZIP
else
  echo "mingw-w64 is not installed: no Windows archives (scripts/test-windows.sh installs it)."
fi
rm -rf "$out/_CPack_Packages"
echo "Packages in $out:"
ls -l "$out"
