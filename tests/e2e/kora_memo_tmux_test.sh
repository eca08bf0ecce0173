#!/bin/sh
# The memo editor's block keys in a real terminal (tmux, TERM=xterm-256color),
# which sends Shift with the cursor keys inside escape sequences: on a copy
# of a dBase III table with memos, Shift+Right selects the first word of
# the first memo, Ctrl+C copies it, End and Ctrl+V put it after the line;
# Shift+End and Shift+Del cut the second line; Ctrl+W wraps; F2 saves.
# dbfread then finds exactly that memo changed, its CR LF line ends kept.
# Usage: kora_memo_tmux_test.sh path/to/kora path/to/dbase_83.dbf
set -u
program=${1:?usage: kora_memo_tmux_test.sh kora table.dbf}
table=${2:?usage: kora_memo_tmux_test.sh kora table.dbf}
. "$(dirname "$0")/tmux_lib.sh"
start_on_copy "$program" "$table" goods 100 30 "goods.dbf"

keys M-v m
wait_for "Memo editor" || fail open "the memo editor did not open"
keys S-Right S-Right S-Right C-c End C-v Down S-End S-DC C-w
wait_for "Let usOur" || fail paste "the copied word is not after the first line"
keys F2
wait_gone "Memo editor" || fail save "F2 did not save and close"
quit_kora

"$python" - "$table" "$work/run/goods.dbf" <<'PY' || fail check "the table is not as expected"
import sys, dbfread
def records(path):
    return [dict(r) for r in dbfread.DBF(path, encoding="latin1", load=True)]
before, after = records(sys.argv[1]), records(sys.argv[2])
lines = before[0]["DESC"].split("\r\n")
lines[0] += lines[0][:3]
lines[1] = ""
before[0]["DESC"] = "\r\n".join(lines)
assert after == before, (after[0]["DESC"][:300], before[0]["DESC"][:300])
PY
report
