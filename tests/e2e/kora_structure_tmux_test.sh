#!/bin/sh
# End-to-end run of Ctrl+F4 in a real terminal (tmux, TERM=xterm-256color) on
# a copy of a table with a memo file: the CODE field is widened in the
# structure editor and confirmed, the table is shown again with the same
# record count, python3-dbfread reads the new width and every record, and the
# .bak beside it holds the old file byte for byte.
# Usage: kora_structure_tmux_test.sh path/to/kora table.dbf
set -u
usage="usage: kora_structure_tmux_test.sh path/to/kora table.dbf"
program=${1:?$usage}
table=${2:?$usage}
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
program=$(absolute "$program")
command -v tmux >/dev/null 2>&1 || { echo "SKIP: tmux not installed"; exit 77; }
python=/usr/bin/python3
"$python" -c "import dbfread" 2>/dev/null || { echo "SKIP: no dbfread for $python"; exit 77; }

work=$(mktemp -d)
socket=kora_structure_e2e_$$
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

# The fields as "NAME TYPE LENGTH DECIMALS" and the number of records.
fields() {
  "$python" - "$1" <<'PY'
import sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding="latin-1", load=True)
print(";".join("%s %s %d %d" % (f.name, f.type, f.length, f.decimal_count) for f in t.fields))
print(len(t.records))
print(";".join(str(r["CODE"]).strip() for r in t.records))
PY
}
before=$(fields "$work/goods.dbf") || { echo "FAIL: dbfread could not read the table"; exit 1; }
count=$(echo "$before" | sed -n 2p)
echo "$before" | sed -n 1p | grep -q "CODE C 50 0" || { echo "FAIL: the table has no CODE C(50)"; exit 1; }

tmux_ -f /dev/null new-session -d -s "$session" -x 132 -y 30 \
  "cd '$work' && env TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 '$program' goods.dbf; echo \"EXIT=\$?\"; sleep 30"
wait_for "\[0\]goods.dbf" || { fail start "program did not start"; screen; exit 1; }
wait_for "1 / $count" || fail start "counter does not show $count records"
keys C-F4
wait_for "Modify structure" || { fail editor "Ctrl+F4 did not open the structure editor"; screen; exit 1; }
screen | grep -q "  #  Name        Type        Width  Decimal" || fail editor "no column heading"
# CODE is the sixth field: down to it, over the name and the type to the width.
keys Down Down Down Down Down Enter Enter
keys -l "60"
keys Tab Enter
wait_gone "Modify structure" || { fail confirm "the editor did not close"; screen; }
wait_for "\[0\]goods.dbf" || fail reopen "the table is not shown again"
wait_for "1 / $count" || { fail reopen "counter does not show $count records"; screen; }
keys F10
wait_for "EXIT=0" || { fail quit "F10 did not end the program"; screen; }

after=$(fields "$work/goods.dbf") || fail read "dbfread could not read the new table"
expected=$(echo "$before" | sed -n 1p | sed "s/CODE C 50 0/CODE C 60 0/")
[ "$(echo "$after" | sed -n 1p)" = "$expected" ] || fail fields "fields are $(echo "$after" | sed -n 1p)"
[ "$(echo "$after" | sed -n 2p)" = "$count" ] || fail count "$(echo "$after" | sed -n 2p) records, not $count"
[ "$(echo "$after" | sed -n 3p)" = "$(echo "$before" | sed -n 3p)" ] || fail values "CODE values changed"
cmp -s "$work/goods.bak" "$work/goods_ref.dbf" || fail bak "goods.bak is not the old table"
ls "$work" | grep -q "tmp" && fail temp "a temporary file was left: $(ls "$work")"
[ "$failures" -eq 0 ] || exit 1
echo "OK: CODE widened to 60 over $count records, goods.bak is the old table"
