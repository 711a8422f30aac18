#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 30),
# starting from a scratch copy of its seeds so that the repository's seeds stay
# small. Any crash, leak, time-out or broken property fails the run and leaves
# the reproducer in build/fuzz/runs/TARGET/.
#   fuzz.sh [SECONDS] [TARGET...]   (no TARGET: every target)
# FUZZ_JOBS (default 4) targets run at once; each is one single-threaded process.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
jobs="${FUZZ_JOBS:-4}"
dir=build/fuzz
bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEYLA_FUZZ=ON >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzz_targets

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# One target's run; its verdict goes to $work/result, its report to $work/report.
run_target() {
  local name="$1" binary="$2" seeds="$3" dict="$4" timeout="$5" work="$dir/runs/$1"
  local args=(-max_total_time="$seconds" -timeout="$timeout" -print_final_stats=1 -artifact_prefix="$work/")
  [ -z "$dict" ] || args+=(-dict="$dict")
  local result=ok
  "$binary" "${args[@]}" "$work/corpus" >"$work/log" 2>&1 || result=FAILED
  {
    if [ "$result" = FAILED ]; then
      echo "fuzz: $name FAILED"
      grep -E 'ERROR|fuzz property broken|SUMMARY' "$work/log" | head -n 5 || true
      for artifact in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
        if [ -e "$artifact" ]; then echo "  reproduce: $binary $artifact"; fi
      done
      echo "  full log: $work/log"
    fi
  } >"$work/report"
  echo "$result" >"$work/result"
}

names=()
running=0
while IFS='|' read -r name binary seeds dict timeout; do
  [ -n "$name" ] || continue
  if [ "$#" -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  work="$dir/runs/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  if [ -d "$seeds" ]; then cp "$seeds"/* "$work/corpus/" 2>/dev/null || true; fi
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  echo "fuzz: $name for ${seconds}s"
  run_target "$name" "$binary" "$seeds" "$dict" "$timeout" &
  running=$((running + 1))
  names+=("$name")
done <"$dir/fuzz_targets.txt"
wait

if [ "${#names[@]}" -eq 0 ]; then
  echo "fuzz: no target named $*; the targets are listed in $dir/fuzz_targets.txt" >&2
  exit 1
fi
# Reports and the table in the list's order, whatever order the runs ended in.
failed=()
summary=()
for name in "${names[@]}"; do
  work="$dir/runs/$name"
  result=$(cat "$work/result" 2>/dev/null || echo FAILED)
  [ "$result" = ok ] || failed+=("$name")
  cat "$work/report" 2>/dev/null || true
  execs=$(awk '/stat::average_exec_per_sec/{print $2}' "$work/log" 2>/dev/null || true)
  summary+=("$(printf '%-34s %-7s %10s exec/s' "$name" "$result" "${execs:-?}")")
done
printf '%s\n' "${summary[@]}"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
