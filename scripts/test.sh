#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   test.sh             plain build
#   test.sh --sanitize  the same suite under AddressSanitizer and UBSan
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ "${1:-}" = "--sanitize" ]; then
  dir=build/asan
  bash scripts/build.sh "$dir" Debug -DZEYLA_SANITIZE=ON -DZEYLA_WERROR=ON
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  dir=build/test
  bash scripts/build.sh "$dir" RelWithDebInfo -DZEYLA_WERROR=ON
fi
ctest --test-dir "$dir" -j"$(nproc)" --timeout 600 --output-on-failure
