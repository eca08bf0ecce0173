#!/bin/sh
# Builds filter_bench (optimised, in build-bench beside the sources) and runs
# the filter AMOUNT>0 beside dbfpass -g AMOUNT on a generated 1,000,000-record
# table under ${TMPDIR:-/tmp}, removed afterwards. Extra arguments go to
# filter_bench, e.g. --repeat 9 or --table existing.dbf.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 filter_bench >/dev/null
exec "$build/bench/filter_bench" --dir "${TMPDIR:-/tmp}" "$@"
