#!/bin/sh
# Builds undo_bench (optimised, in build-bench beside the sources) and times an
# insert at the top of a 10,000,000-record table and the pack of a
# 1,000,000-record table, without and with the undo history, under
# ${TMPDIR:-/tmp}. Extra arguments go to undo_bench, e.g. --repeat 5.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 undo_bench >/dev/null
exec "$build/bench/undo_bench" --dir "${TMPDIR:-/tmp}" "$@"
