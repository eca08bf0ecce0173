#!/bin/sh
# Builds sort_bench (optimised, in build-bench beside the sources) and the
# native reference pass, and runs them side by side: the sort of a
# 1,000,000-record table against dbfpass -s, then the sort of a
# 10,000,000-record table (about 1.4 GB, written under ${TMPDIR:-/tmp} and
# removed afterwards). Extra arguments go to sort_bench, e.g. --huge 0.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BENCH_BUILD:-$root/build-bench}
reference=${KORA_BENCH_REFERENCE:-$root/../shared/bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 sort_bench >/dev/null
gcc -O2 -o "$build/dbfpass" "$reference/dbfpass.c"
exec "$build/bench/sort_bench" --gen "$reference/gen_dbf.py" --dbfpass "$build/dbfpass" \
  --dir "${TMPDIR:-/tmp}" "$@"
