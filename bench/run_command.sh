#!/bin/sh
# Builds command_bench (optimised, in build-bench beside the sources) and runs
# the Filter and Sort commands of the program on a headless screen beside the
# engine calls alone, over a generated 1,000,000-record table under
# ${TMPDIR:-/tmp}, removed afterwards. Extra arguments go to command_bench,
# e.g. --repeat 9 or --table existing.dbf.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 command_bench >/dev/null
exec "$build/bench/command_bench" --dir "${TMPDIR:-/tmp}" "$@"
