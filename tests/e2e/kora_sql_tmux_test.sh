#!/bin/sh
# End-to-end run of Ctrl+Q in a real terminal (tmux, TERM=xterm-256color) on
# a copy of a table with a NAME text field and a PRICE number field: the
# statement leaves NAME and the computed DOUBLE as the only columns, in that
# order, over the records with PRICE above 0 sorted by NAME, and the first
# row and the counter agree with what python3-dbfread computes. An UPDATE is
# refused with its reason and the file stays as it was.
# Usage: kora_sql_tmux_test.sh path/to/kora table.dbf
set -u
usage="usage: kora_sql_tmux_test.sh path/to/kora table.dbf"
. "$(dirname "$0")/tmux_lib.sh"
start_on_copy "${1:?$usage}" "${2:?$usage}" goods 132 30 "\[0\]goods.dbf"
cp "$work/run/goods.dbf" "$work/goods_ref.dbf"

# What the view should show: the count, and the first row's NAME and
# PRICE*2 as a computed column prints it ("%20.6f").
expected=$("$python" - "$work/run/goods.dbf" <<'PY'
import sys, dbfread
table = dbfread.DBF(sys.argv[1], encoding="latin-1", ignore_missing_memofile=True, load=True)
rows = sorted((r for r in table.records if r["PRICE"] and r["PRICE"] > 0), key=lambda r: r["NAME"])
print(len(rows))
print(rows[0]["NAME"].strip())
print("%.6f" % (float(rows[0]["PRICE"]) * 2))
PY
) || { echo "FAIL: dbfread could not read the table"; exit 1; }
count=$(echo "$expected" | sed -n 1p)
first_name=$(echo "$expected" | sed -n 2p)
first_double=$(echo "$expected" | sed -n 3p)
total=$("$python" -c "import dbfread,sys; print(len(dbfread.DBF(sys.argv[1], ignore_missing_memofile=True)))" "$work/run/goods.dbf")

wait_for "1 / $total" || fail start "counter does not show $total records"
keys C-q
wait_for "Expression" || { fail box "Ctrl+Q did not open the Expression box"; screen; }
keys -l "SELECT NAME, PRICE*2 AS DOUBLE FROM x WHERE PRICE>0 ORDER BY NAME"
keys Enter
wait_for "/ $count" || { fail view "counter does not show $count records"; screen; }
captions=$(screen | sed -n 3p | sed "s/[^A-Za-z0-9_*]\{1,\}/ /g; s/^ *//; s/ *$//")
case "$captions" in
  "* NAME DOUBLE" | "NAME DOUBLE") ;;
  *) fail captions "captions are '$captions', not NAME then DOUBLE" ;;
esac
first_row=$(screen | sed -n 5p)
echo "$first_row" | grep -qF "$first_name" || fail row "first row does not begin with '$first_name': $first_row"
echo "$first_row" | grep -qF " $first_double" || fail row "first row does not show $first_double: $first_row"
echo "NAME and DOUBLE over $count of $total records, first row $first_name $first_double"
keys C-q
wait_for "Expression" || { fail box "Ctrl+Q did not open the Expression box again"; screen; }
keys -l "UPDATE goods SET PRICE=0"
keys Enter
wait_for "UPDATE is not taken" || { fail refusal "an UPDATE is not refused with its reason"; screen; }
keys Enter
wait_gone "UPDATE is not taken" || fail refusal "the refusal does not close on Enter"
quit_kora
cmp -s "$work/run/goods.dbf" "$work/goods_ref.dbf" || fail file "the statement changed the table"
report
