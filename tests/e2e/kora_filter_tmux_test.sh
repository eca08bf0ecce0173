#!/bin/sh
# End-to-end run of kora in a real terminal (tmux) on a copy of a FoxPro
# table of 975 records; each time the record counter must show the number
# of records python3-dbfread counts for the same condition:
#  1. Alt+F3, "NF>300" as a new filter;
#  2. Alt+F3, "NFP<400" merged with it (a blank NFP compares as 0);
#  3. Ctrl+E on the SEXE cell of the first record shown: that value alone,
#     compared without regard to case when the dialog's box is ticked.
# Usage: kora_filter_tmux_test.sh path/to/kora path/to/table.dbf
set -u
usage="usage: kora_filter_tmux_test.sh path/to/kora path/to/table.dbf"
. "$(dirname "$0")/tmux_lib.sh"
# Records passing a Python condition over the record r (deleted ones too,
# as the filter sees them while they are shown).
count() {
  "$python" - "$work/run/f5.dbf" "$1" <<'EOF'
import sys, dbfread
table = dbfread.DBF(sys.argv[1], encoding="latin-1", load=True)
print(sum(1 for r in list(table.records) + list(table.deleted) if eval(sys.argv[2])))
EOF
}

# The number after "/" on the status line.
counter() { screen | head -1 | sed -n 's/.* \/ \([0-9]*\).*/\1/p'; }

expect_count() {  # step, wanted count
  i=0
  until [ "$(counter)" = "$2" ]; do
    i=$((i + 1)); [ $i -gt "$wait_tenths" ] && break
    sleep 0.1
  done
  got=$(counter)
  [ "$got" = "$2" ] || fail "$1" "the counter shows [$got], python3-dbfread counts [$2]"
  echo "$1: $got records"
}

# Alt+F3 with a condition, New (0) or Merge (1).
filter() {  # condition, merge
  keys M-F3
  wait_for "Merge with current filter" || { fail filter "Alt+F3 did not open the Filter dialog"; return; }
  screen | grep -q "\[x\] Ignore case" && fold=1 || fold=0
  keys -l "$1"
  keys Tab Tab Tab Tab
  [ "$2" = 1 ] && keys Tab
  keys Space Enter
  wait_gone "Merge with current filter" || fail filter "the dialog did not close"
}

start_on_copy "${1:?$usage}" "${2:?$usage}" f5 100 25 "1 / 975"

fold=0
filter "NF>300" 0
expect_count "NF>300" "$(count 'r["NF"] > 300')"
filter "NFP<400" 1
expect_count "(NF>300)&(NFP<400)" "$(count 'r["NF"] > 300 and (r["NFP"] or 0) < 400')"

# The first record shown now, and its SEXE value as the cell holds it.
first=$("$python" - "$work/run/f5.dbf" <<'EOF'
import sys, dbfread
table = dbfread.DBF(sys.argv[1], encoding="latin-1", load=True)
print(next(r["SEXE"] for r in table.records if r["NF"] > 300 and (r["NFP"] or 0) < 400))
EOF
)
keys C-Home Right C-e
if [ "$fold" = 1 ]; then
  expect_count "Ctrl+E on SEXE=$first" "$(count "r['SEXE'].upper() == '$first'.upper()")"
else
  expect_count "Ctrl+E on SEXE=$first" "$(count "r['SEXE'] == '$first'")"
fi

quit_kora
report
