#!/bin/sh
# End-to-end run of Ctrl+Q in a real terminal (tmux, TERM=xterm-256color) on
# a copy of a table with a NAME text field and a PRICE number field: the
# statement leaves NAME and the computed DOUBLE as the only columns, in that
# order, over the records with PRICE above 0 sorted by NAME, and the first
# row and the counter agree with what python3-dbfread computes.
# Usage: kora_sql_tmux_test.sh path/to/kora table.dbf
set -u
usage="usage: kora_sql_tmux_test.sh path/to/kora table.dbf"
program=${1:?$usage}
table=${2:?$usage}
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
program=$(absolute "$program")
command -v tmux >/dev/null 2>&1 || { echo "SKIP: tmux not installed"; exit 77; }
python=/usr/bin/python3
"$python" -c "import dbfread" 2>/dev/null || { echo "SKIP: no dbfread for $python"; exit 77; }

work=$(mktemp -d)
socket=kora_sql_e2e_$$
session=kora
tmux_() { tmux -L "$socket" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
cp "$table" "$work/goods.dbf" && chmod u+w "$work/goods.dbf"
memo="${table%.*}.dbt"
[ -f "$memo" ] && cp "$memo" "$work/goods.dbt" && chmod u+w "$work/goods.dbt"
cp "$work/goods.dbf" "$work/goods_ref.dbf"
mkdir "$work/bin" && cp "$program" "$work/bin/kora" && program="$work/bin/kora"

. "$(dirname "$0")/tmux_lib.sh"
keys() { tmux_ send-keys -t "$session" "$@"; }

# What the view should show: the count, and the first row's NAME and
# PRICE*2 as a computed column prints it ("%20.6f").
expected=$("$python" - "$work/goods.dbf" <<'PY'
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
total=$("$python" -c "import dbfread,sys; print(len(dbfread.DBF(sys.argv[1], ignore_missing_memofile=True)))" "$work/goods.dbf")

tmux_ -f /dev/null new-session -d -s "$session" -x 132 -y 30 \
  "cd '$work' && env TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 '$program' goods.dbf; echo \"EXIT=\$?\"; sleep 30"
wait_for "\[0\]goods.dbf" || { fail start "program did not start"; screen; exit 1; }
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
keys F10
wait_for "EXIT=0" || { fail quit "F10 did not end the program"; screen; }
cmp -s "$work/goods.dbf" "$work/goods_ref.dbf" || fail file "the statement changed the table"
[ "$failures" -eq 0 ] || exit 1
echo "OK: NAME and DOUBLE over $count of $total records, first row $first_name $first_double"
