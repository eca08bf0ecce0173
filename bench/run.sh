#!/bin/sh
# Builds the benchmarks (optimised, in build-bench beside the sources) and
# runs them. Extra arguments go to engine_bench, e.g. --records 100000.
# The large tables are written to a temporary folder under ${TMPDIR:-/tmp}
# and removed afterwards.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 engine_bench make_big_table >/dev/null
exec "$build/bench/engine_bench" --dir "${TMPDIR:-/tmp}" "$@"
