#!/usr/bin/env bash
# Builds kora, makes the demo tables in build/demo/ and opens one of them.
#   scripts/run-demo.sh [TABLE]   TABLE: a file name in build/demo/ (default: demo.dbf)
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
"$repo/scripts/deps.sh" build
fixtures="${KORA_FIXTURES:-$repo/../shared/fixtures}"
cmake -S "$repo" -B "$repo/build" -G Ninja -DKORA_FIXTURES_DIR="$fixtures" >/dev/null
cmake --build "$repo/build" -j"$(nproc)" --target kora make_demo

demo="$repo/build/demo"
mkdir -p "$demo"
"$repo/build/make_demo" "$demo"

if [ $# -gt 0 ]; then
  table="$demo/$1"
else
  table="$demo/demo.dbf"
fi
if [ -z "$table" ] || [ ! -f "$table" ]; then
  echo "run-demo.sh: no demo table found in $demo" >&2
  exit 1
fi
echo "Opening $table"
exec "$repo/build/kora" "$table"
