#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages that building, testing and
# running Tarnwick need, when any is missing. Does nothing when all are there.
#   ensure-deps.sh             the packages of the Linux build
#   ensure-deps.sh PACKAGE...  these packages instead (names may carry :arch)
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-dejavu-core
  xvfb xauth x11-utils
  # The asan preset: clang with its sanitizer runtimes, lld, and
  # llvm-symbolizer for file and line in sanitizer reports.
  clang libclang-rt-14-dev lld llvm
  # tarnwick-cli's option parser (header-only; the Windows builds use it too).
  libcli11-dev
  # Tests parse every JSON line the programs write with a real parser.
  nlohmann-json3-dev
  # The manual pages, written from the programs' --help at build time.
  help2man
)
[[ $# -gt 0 ]] && packages=("$@")

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "Please install as root: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
