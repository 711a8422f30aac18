#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   test.sh             plain build
#   test.sh --sanitize  the same suite under AddressSanitizer and UBSan
#   test.sh --tsan      the tests of the threaded code under ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
select=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build/asan
  bash scripts/build.sh "$dir" Debug -DZEYLA_SANITIZE=ON -DZEYLA_WERROR=ON
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
elif [ "${1:-}" = "--tsan" ]; then
  dir=build/tsan
  bash scripts/build.sh "$dir" RelWithDebInfo -DZEYLA_TSAN=ON -DZEYLA_WERROR=ON
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
  # Search workers and duplicate filter, transfer workers beside their screens,
  # the clipboard timer, the ending signals, the duplicate scan. Left out: the tmux
  # end-to-end runs, where a report would go unseen; the generator's signal runs
  # stay, as they check that the program ended by the signal and by nothing else.
  select=(-R '^(search_|transfer_|duplicates_|passgen_|platform_clipboard|framework_signals\.)' -E '_e2e$')
else
  dir=build/test
  bash scripts/build.sh "$dir" RelWithDebInfo -DZEYLA_WERROR=ON
  # The layering and the one-definition rule hold before any test runs.
  python3 scripts/check_structure.py "$dir"
fi
ctest --test-dir "$dir" -j"$(nproc)" --timeout 600 --output-on-failure "${select[@]}"
