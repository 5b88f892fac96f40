#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
# The same suite built with clang under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset asan
cmake --build --preset asan --parallel 2
ctest --preset asan
# The native Windows program, cross-built, tested under Wine.
scripts/test-windows.sh
# The Debian packages and the Windows archives, made from the builds above,
# then checked: lintian, the metadata validators, the files they hold, and
# their programs run from them.
scripts/package.sh
scripts/check-packages.sh
# Each fuzz target under libFuzzer for a short while, from its seed corpus,
# as built in the asan folder.
TARNWICK_FUZZ_BUILD=build/asan scripts/fuzz.sh all "${TARNWICK_FUZZ_SECONDS:-10}"
