#!/usr/bin/env bash
# Configures and builds one build folder: build.sh DIR BUILD_TYPE [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1" type="$2"
shift 2
# CMake's file API describes the targets for scripts/check_structure.py.
mkdir -p "$dir/.cmake/api/v1/query" && touch "$dir/.cmake/api/v1/query/codemodel-v2"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
