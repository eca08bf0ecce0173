#!/bin/sh
# Builds append_bench (optimised, in build-bench beside the sources) and
# appends a generated 1,000,000-record table into a copy of itself, plain
# and under a filter, under ${TMPDIR:-/tmp} (about 600 MB while it runs,
# removed afterwards). Extra arguments go to append_bench, e.g. --repeat 5.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 append_bench >/dev/null
exec "$build/bench/append_bench" --dir "${TMPDIR:-/tmp}" "$@"
