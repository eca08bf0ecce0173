#!/bin/bash
# The batch outputs timed side by side in one run on the 1,000,000-record
# table of gen_dbf.py: CSV beside dbfpass (the aim: within 1.3x), CSV
# sorted by CITY beside dbfpass -s (within 1.5x), JSON Lines beside kora's
# own CSV (within 1.5x), the SQLite database beside ogr2ogr -f SQLite (at least 5x faster)
# and beside sqlite3's own .import of dbfpass's CSV (faster). Prints the
# median of three runs of each, page cache warm. Uses the kora of
# $KORA_BUILD (default: build beside the sources, best a Release tree).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BUILD:-$root/build}
"$root/scripts/deps.sh" bench >/dev/null || echo "run_formats.sh: some converters could not be installed" >&2
reference=${KORA_BENCH_REFERENCE:-$root/../shared/bench}
records=${RECORDS:-1000000}
work=$(mktemp -d "${TMPDIR:-/tmp}/kora-formats-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$reference/gen_dbf.py" "$records" "$work/big.dbf" >/dev/null
gcc -O2 -o "$work/dbfpass" "$reference/dbfpass.c"
ln -s "$build/kora" "$work/kora"      # its kora.ini is the one beside it
# The command line keeps its own defaults, whatever a kora.ini says.
cat "$work/big.dbf" >/dev/null
"$work/dbfpass" -o "$work/pass.csv" "$work/big.dbf" 2>/dev/null

. "$root/bench/median.sh"

# row LABEL COMMAND [REFERENCE-LABEL...]: the figures, and the wall-time
# ratio to each reference row named.
declare -A wall_of cpu_of
row() {
  local label=$1 command=$2 figures ratios=""
  shift 2
  figures=$(median "$command")
  wall_of[$label]=${figures% *}
  cpu_of[$label]=${figures#* }
  for reference in "$@"; do
    [ -n "${wall_of[$reference]:-}" ] || continue
    ratios+=$(echo "${wall_of[$label]} ${wall_of[$reference]}" |
      awk -v r="$reference" '{ printf "  %.2fx of %s", $1 / $2, r }')
  done
  printf '%-24s %7s s wall %7s s cpu %s\n' "$label" "${wall_of[$label]}" "${cpu_of[$label]}" "$ratios"
}

cd "$work"
row "dbfpass (CSV)"          "./dbfpass -o /dev/null big.dbf"
row "kora /x:csv"            "./kora /x:csv big.dbf -" "dbfpass (CSV)"
row "dbfpass -s CITY"        "./dbfpass -s CITY -o /dev/null big.dbf"
row "kora /x:csv /s:CITY"    "./kora /x:csv /s:CITY big.dbf -" "dbfpass -s CITY"
row "kora /x:jsonl"          "./kora /x:jsonl big.dbf -" "kora /x:csv" "dbfpass (CSV)"
row "ogr2ogr -f SQLite"      "rm -f ogr.sqlite; ogr2ogr -f SQLite ogr.sqlite big.dbf"
row "sqlite3 .import"        "rm -f import.sqlite; sqlite3 import.sqlite '.import --csv pass.csv big'"
row "kora /x:sqlite"         "rm -f big.sqlite; ./kora /x:sqlite big.dbf big.sqlite" "ogr2ogr -f SQLite" \
    "sqlite3 .import" "kora /x:csv"
exit 0
