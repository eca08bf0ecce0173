#!/bin/bash
# The batch export timed beside the native reference pass and the converters
# installed here, on the 1,000,000-record table of gen_dbf.py: CSV of every
# live record, of those with AMOUNT > 0, and sorted by CITY. Prints the
# median of three runs of each, page cache warm. Uses the kora of
# $KORA_BUILD (default: build beside the sources); installs the converters
# it compares with (pgdbf, dbview) when they are missing.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BUILD:-$root/build}
"$root/scripts/deps.sh" bench >/dev/null || echo "run_export.sh: some converters could not be installed" >&2
reference=${KORA_BENCH_REFERENCE:-$root/../shared/bench}
records=${RECORDS:-1000000}
work=$(mktemp -d "${TMPDIR:-/tmp}/kora-export-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$reference/gen_dbf.py" "$records" "$work/big.dbf" >/dev/null
gcc -O2 -o "$work/dbfpass" "$reference/dbfpass.c"
ln -s "$build/kora" "$work/kora"      # its kora.ini is the one beside it
printf '[Export]\nOverwrite=1\n' >"$work/kora.ini"
cat "$work/big.dbf" >/dev/null

. "$root/bench/median.sh"

# row LABEL COMMAND [REFERENCE-LABEL]: the figures, and the ratio to the
# reference row named (the same walk done by dbfpass).
declare -A wall_of cpu_of
row() {
  local figures wall cpu ratio=""
  figures=$(median "$2")
  wall=${figures% *}
  cpu=${figures#* }
  wall_of[$1]=$wall
  cpu_of[$1]=$cpu
  if [ -n "${3:-}" ] && [ -n "${wall_of[$3]:-}" ]; then
    ratio=$(echo "${wall_of[$1]} ${wall_of[$3]} ${cpu_of[$1]} ${cpu_of[$3]}" |
      awk '{ printf "%.2fx wall, %.2fx cpu of dbfpass", $1 / $2, $3 / $4 }')
  fi
  printf '%-30s %7s s wall %7s s cpu   %s\n' "$1" "$wall" "$cpu" "$ratio"
}

cd "$work"
row "dbfpass (CSV)"               "./dbfpass -o /dev/null big.dbf"
row "kora /x:csv"                 "./kora /x:csv big.dbf -" "dbfpass (CSV)"
row "dbfpass -g AMOUNT"           "./dbfpass -g AMOUNT -o /dev/null big.dbf"
row "kora /f:\"AMOUNT>0\" /x:csv" "./kora '/f:AMOUNT>0' /x:csv big.dbf -" "dbfpass -g AMOUNT"
row "dbfpass -s CITY"             "./dbfpass -s CITY -o /dev/null big.dbf"
row "kora /s:CITY /x:csv"         "./kora /s:CITY /x:csv big.dbf -" "dbfpass -s CITY"
command -v pgdbf >/dev/null && row "pgdbf" "pgdbf big.dbf" "dbfpass (CSV)"
command -v dbview >/dev/null && row "dbview -b -t" "dbview -b -t big.dbf" "dbfpass (CSV)"
command -v ogr2ogr >/dev/null && row "ogr2ogr -f CSV" "ogr2ogr -f CSV /vsistdout/ big.dbf" "dbfpass (CSV)"
exit 0
