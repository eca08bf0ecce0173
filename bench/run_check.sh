#!/bin/bash
# The health check timed on the 1,000,000-record table of gen_dbf.py beside
# dbfpass's filter walk (dbfpass -g AMOUNT), the aim: within 2x. Both read
# every record and look at its values; the check looks at every field of a
# type it can check (ID, AMOUNT, BORN, ACTIVE) and the deletion flag. Also
# the FoxPro table with a memo file, where every tenth record's memo pointer
# is followed. Prints the median of three runs of each, page cache warm.
# Uses the kora of $KORA_BUILD (default: build beside the sources, best a
# Release tree).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORA_BUILD:-$root/build}
reference=${KORA_BENCH_REFERENCE:-$root/../shared/bench}
records=${RECORDS:-1000000}
work=$(mktemp -d "${TMPDIR:-/tmp}/kora-check-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$reference/gen_dbf.py" "$records" "$work/big.dbf" >/dev/null
python3 "$reference/gen_dbf.py" "$records" "$work/fox.dbf" --foxpro >/dev/null
gcc -O2 -o "$work/dbfpass" "$reference/dbfpass.c"
cat "$work/big.dbf" "$work/fox.dbf" "$work/fox.fpt" >/dev/null

. "$root/bench/median.sh"

# The table is sound: a check that found anything would not be the walk timed.
"$build/kora" /check "$work/big.dbf" >/dev/null || { echo "run_check.sh: the generated table is not sound" >&2; exit 1; }

pass=$(median "'$work/dbfpass' -g AMOUNT -o /dev/null '$work/big.dbf'")
check=$(median "'$build/kora' /check '$work/big.dbf'")
fox=$(median "'$build/kora' /check '$work/fox.dbf'")
printf '%-26s %7s s wall %7s s cpu\n' "dbfpass -g AMOUNT" ${pass}
printf '%-26s %7s s wall %7s s cpu  %s\n' "kora /check" ${check} \
  "$(echo "${check%% *} ${pass%% *}" | awk '{ printf "%.2fx of dbfpass -g AMOUNT", $1 / $2 }')"
printf '%-26s %7s s wall %7s s cpu\n' "kora /check (FoxPro, memo)" ${fox}
