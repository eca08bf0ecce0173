#!/bin/sh
# Builds the benchmarks (optimised, in build-bench beside the sources) and the
# native reference pass, and runs them. Extra arguments go to engine_bench,
# e.g. --records 100000, or --only scan for the scanner against the native
# pass alone. The large tables are written to a temporary folder under
# ${TMPDIR:-/tmp} and removed afterwards.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BENCH_BUILD:-$root/build-bench}
reference=${KORA_BENCH_REFERENCE:-$root/../shared/bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 engine_bench make_big_table >/dev/null
gcc -O2 -o "$build/dbfpass" "$reference/dbfpass.c"
exec "$build/bench/engine_bench" --dir "${TMPDIR:-/tmp}" --gen "$reference/gen_dbf.py" --dbfpass "$build/dbfpass" "$@"
