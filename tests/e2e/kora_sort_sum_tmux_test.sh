#!/bin/sh
# End-to-end run of kora in a real terminal (tmux) on a copy of a FoxPro
# table of 975 records:
#  1. Ctrl+S by the Character field NOM, descending and then ascending:
#     the first rows on the screen are the records in the order Python's
#     stable sorted() gives for the same keys (upper-cased when the dialog's
#     "Ignore case" is ticked), ties included;
#  2. Del on the first record, then Ctrl+F2 on the numeric field NF: the
#     three totals are those python3-dbfread computes from the file.
# Usage: kora_sort_sum_tmux_test.sh path/to/kora path/to/table.dbf
set -u
usage="usage: kora_sort_sum_tmux_test.sh path/to/kora path/to/table.dbf"
. "$(dirname "$0")/tmux_lib.sh"
rows=15

# The NF values of the first $rows data rows on the screen.
shown_numbers() {
  screen | sed -n "5,$((rows + 4))p" | sed 's/^║.│//' | awk -F'│' '{ gsub(/ /, "", $1); print $1 }' | tr '\n' ' '
}

# NF of the first $rows records sorted by NOM: asc or desc, folded or not.
expected_numbers() {
  "$python" - "$work/run/f5.dbf" "$1" "$2" "$rows" <<'EOF'
import sys, dbfread
path, direction, fold, rows = sys.argv[1], sys.argv[2], sys.argv[3] == "1", int(sys.argv[4])
table = dbfread.DBF(path, encoding="latin-1", load=True)
records = list(table.records)
# Upper-casing as the table's code page does it: ASCII letters, and for the
# bytes above 127 the Cyrillic letters of code page 866 or of Windows-1251.
def oem(b):
    return b - 0x20 if 0xA0 <= b <= 0xAF else b - 0x50 if 0xE0 <= b <= 0xEF else 0xF0 if b == 0xF1 else b
def ansi(b):
    return b - 0x20 if b >= 0xE0 else b
def key(name, high):
    data = name.encode("latin-1").ljust(20)
    if not fold:
        return data
    return bytes(b - 0x20 if 0x61 <= b <= 0x7A else high(b) if b >= 0x80 else b for b in data)
def first(high):
    order = sorted(range(len(records)), key=lambda i: key(records[i]["NOM"], high))
    if direction == "desc":
        order.reverse()  # descending keeps ties last-first
    return [records[i]["NF"] for i in order[:rows]]
oem_rows, ansi_rows = first(oem), first(ansi)
if oem_rows != ansi_rows:
    sys.exit("the first rows depend on the code page: pick other rows")
print(" ".join(str(n) for n in oem_rows) + " ")
EOF
}

start_on_copy "${1:?$usage}" "${2:?$usage}" f5 100 25 "1 / 975"

# ---- 1. sorting by NOM -------------------------------------------------------
sort_by_nom() {  # direction, 1 when the keys tick or untick Ignore case, the keys
  direction=$1
  toggle=$2
  shift 2
  keys C-s
  wait_for "Sort type" || { fail sort "Ctrl+S did not open the Sort dialog"; return; }
  fold=$toggle
  screen | grep -q "\[x\] Ignore case" && fold=$((1 - toggle))
  keys "$@"
  wait_gone "Sort type" || { fail sort "the dialog did not close"; return; }
  # The cursor stayed on its record; the first rows are at the top.
  keys C-Home
  wait_for " 1 ([0-9]*) / 975" || fail sort "Ctrl+Home did not reach the first sorted row"
  want=$(expected_numbers "$direction" "$fold") || { fail sort "$want"; return; }
  i=0
  until [ "$(shown_numbers)" = "$want" ]; do
    i=$((i + 1)); [ $i -gt "$wait_tenths" ] && break
    sleep 0.1
  done
  got=$(shown_numbers)
  [ "$got" = "$want" ] || fail sort "$direction (ignore case $fold): shown [$got] want [$want]"
  echo "sorted $direction by NOM, ignore case $fold: NF $got"
}

keys Right Right  # the cursor to NOM
sort_by_nom desc 0 Down Down Down Down Down Down Space Enter
sort_by_nom asc 0 Down Down Down Down Down Space Enter
sort_by_nom desc 1 Down Down Down Down Space Down Down Space Enter

# ---- 2. the sum of NF -----------------------------------------------------------
keys M-s
wait_gone " ([0-9]*) / 975" || fail sum "Alt+S did not go back to the record order"
keys Left Left Delete
wait_for "^║\*│" || fail sum "Del did not mark the first record"
keys C-F2
wait_for "Deleted records only" || { fail sum "Ctrl+F2 did not show the totals"; screen; }
totals=$(screen | grep -E "All records|Without deleted records|Deleted records only" |
  sed -E 's/.*(All records|Without deleted records|Deleted records only) +([-0-9.]+).*/\1=\2/')
keys Enter
wait_gone "Deleted records only" || fail sum "OK did not close the totals"
quit_kora

want=$("$python" - "$work/run/f5.dbf" <<'EOF'
import sys, dbfread
table = dbfread.DBF(sys.argv[1], encoding="latin-1", load=True)
kept = sum(r["NF"] for r in table.records)
deleted = sum(r["NF"] for r in table.deleted)
print("All records=%f" % (kept + deleted))
print("Without deleted records=%f" % kept)
print("Deleted records only=%f" % deleted)
if len(table.deleted) != 1:
    print("records deleted: %d, not the one marked" % len(table.deleted))
EOF
)
[ "$totals" = "$want" ] || fail sum "shown [$totals] want [$want]"
echo "sum of NF: $(echo "$totals" | tr '\n' ' ')"
report
