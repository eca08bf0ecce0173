#!/bin/bash
# The batch export timed beside the native reference pass and the converters
# installed here, on the 1,000,000-record table of gen_dbf.py: CSV of every
# live record, of those with AMOUNT > 0, and sorted by CITY. Prints the
# median of three runs of each, page cache warm. Uses the kora of
# $KORA_BUILD (default: build beside the sources).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BUILD:-$root/build}
reference=${KORA_BENCH_REFERENCE:-$root/../shared/bench}
records=${RECORDS:-1000000}
work=$(mktemp -d "${TMPDIR:-/tmp}/kora-export-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$reference/gen_dbf.py" "$records" "$work/big.dbf" >/dev/null
gcc -O2 -o "$work/dbfpass" "$reference/dbfpass.c"
ln -s "$build/kora" "$work/kora"      # its kora.ini is the one beside it
printf '[Export]\nOverwrite=1\n' >"$work/kora.ini"
cat "$work/big.dbf" >/dev/null

median() {  # runs the command three times, prints the median seconds
  local times=()
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    bash -c "$1" >/dev/null 2>&1 || { echo failed; return; }
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 2p
}

row() { printf '%-34s %8.3f s\n' "$1" "$(median "$2")"; }

cd "$work"
row "kora /x:csv"                 "./kora /x:csv big.dbf -"
row "dbfpass (CSV)"               "./dbfpass -o /dev/null big.dbf"
row "kora /f:\"AMOUNT>0\" /x:csv" "./kora '/f:AMOUNT>0' /x:csv big.dbf -"
row "dbfpass -g AMOUNT"           "./dbfpass -g AMOUNT -o /dev/null big.dbf"
row "kora /s:CITY /x:csv"         "./kora /s:CITY /x:csv big.dbf -"
row "dbfpass -s CITY"             "./dbfpass -s CITY -o /dev/null big.dbf"
command -v pgdbf >/dev/null && row "pgdbf" "pgdbf big.dbf"
command -v dbview >/dev/null && row "dbview -b -t" "dbview -b -t big.dbf"
command -v ogr2ogr >/dev/null && row "ogr2ogr -f CSV" "ogr2ogr -f CSV /vsistdout/ big.dbf"
exit 0
