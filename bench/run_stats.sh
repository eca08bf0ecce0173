#!/bin/bash
# Column statistics and the frequency list of CITY and of AMOUNT beside the
# native reference filter walk `dbfpass -g AMOUNT`, on tables of gen_dbf.py
# (1,000,000 records; more with RECORDS="1000000 10000000"), written under
# ${TMPDIR:-/tmp} and removed afterwards. Prints median wall and processor
# seconds of three runs, the ratios, and the peak memory of each stats run.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BENCH_BUILD:-$root/build-bench}
reference=${KORA_BENCH_REFERENCE:-$root/../shared/bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 stats_bench >/dev/null
gcc -O2 -o "$build/dbfpass" "$reference/dbfpass.c"
work=$(mktemp -d "${TMPDIR:-/tmp}/stats_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
. "$root/bench/median.sh"

for n in ${RECORDS:-1000000}; do
  table=$work/t$n.dbf
  python3 "$reference/gen_dbf.py" "$n" "$table" 2>/dev/null
  cat "$table" >/dev/null
  read -r ref_wall ref_cpu < <(median "'$build/dbfpass' -g AMOUNT -o /dev/null '$table'")
  echo "$n records: dbfpass -g AMOUNT  wall $ref_wall s  cpu $ref_cpu s"
  for field in CITY AMOUNT; do
    read -r wall cpu < <(median "'$build/bench/stats_bench' '$table' $field")
    /usr/bin/time -v "$build/bench/stats_bench" "$table" $field >"$work/out" 2>"$work/time"
    peak=$(awk -F': ' '/Maximum resident/ {printf "%.0f", $2 / 1024}' "$work/time")
    echo "  $field: wall $wall s ($(awk "BEGIN {printf \"%.2f\", $wall / $ref_wall}")x)" \
      " cpu $cpu s ($(awk "BEGIN {printf \"%.2f\", $cpu / $ref_cpu}")x)  peak $peak MB  -- $(cat "$work/out")"
  done
  rm -f "$table"
done
