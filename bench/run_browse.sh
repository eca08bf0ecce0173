#!/bin/sh
# Builds browse_bench (optimised, in build-bench beside the sources) and runs
# it: first screen, Ctrl+End, PgDn/PgUp and memory of the program on a small
# and a huge table, side by side. Extra arguments go to browse_bench, e.g.
# --large 1000000 --rounds 5. The tables are written to a temporary folder
# under ${TMPDIR:-/tmp} and removed afterwards.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 browse_bench >/dev/null
exec "$build/bench/browse_bench" --dir "${TMPDIR:-/tmp}" "$@"
