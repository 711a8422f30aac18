#!/usr/bin/env bash
# Installs what is missing, builds, and starts one program: run.sh Tovrel|Vornix|Lumeno|Gemmit|Corvane
set -euo pipefail
cd "$(dirname "$0")/.."
programs="Tovrel Vornix Lumeno Gemmit Corvane"
program="${1:-}"
if [ -z "$program" ] || ! grep -qw -- "$program" <<<"$programs"; then
  echo "usage: $0 PROGRAM   (one of: $programs)" >&2
  exit 2
fi
bash scripts/install-deps.sh
bash scripts/build.sh build/release Release >/dev/null
binary=$(find build/release -type f -name "$program" -perm -u+x | head -n1)
if [ -z "$binary" ]; then
  echo "$program is not built yet." >&2
  exit 1
fi
exec "$binary"
