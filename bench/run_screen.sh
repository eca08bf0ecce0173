#!/bin/sh
# Builds the screen benchmark (optimised, in build-bench beside the sources)
# and runs it twice: output to a pseudo-terminal and to /dev/null. Extra
# arguments go to screen_bench, e.g. --frames 1000 --copies 50000.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 screen_bench >/dev/null
"$build/bench/screen_bench" --out pty "$@"
echo
"$build/bench/screen_bench" --out null "$@"
