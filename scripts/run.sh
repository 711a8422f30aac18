#!/usr/bin/env bash
# Installs what is missing, builds one program, and starts it: run.sh Tovrel|Vornix|Lumeno|Gemmit|Corvane
set -euo pipefail
cd "$(dirname "$0")/.."
programs="Tovrel Vornix Lumeno Gemmit Corvane"
program="${1:-}"
if [ -z "$program" ] || ! grep -qw -- "$program" <<<"$programs"; then
  echo "usage: $0 PROGRAM   (one of: $programs)" >&2
  exit 2
fi
bash scripts/install-deps.sh
dir=build/release
log="$dir/build-$program.log"
mkdir -p "$dir"
echo "Building $program..."
# Only the program's own target: tests and benchmarks are the test command's.
if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release && cmake --build "$dir" -j"$(nproc)" --target "$program"; } >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "Building $program failed; the whole log is in $log" >&2
  exit 1
fi
binary=$(find "$dir" -type f -name "$program" -perm -u+x | head -n1)
if [ -z "$binary" ]; then
  echo "$program was not built." >&2
  exit 1
fi
exec "$binary"
