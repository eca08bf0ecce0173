#!/bin/sh
# End-to-end runs of kora in a real terminal (tmux, TERM=xterm-256color):
#  1. edits a record of a table with Cyrillic text kept in Windows-1251 (F4,
#     a number, Tab, a Cyrillic word, Down, F10 twice) and checks with
#     dbfread that only that record changed;
#  2. opens a second table through the file panel (F3, arrows, Enter),
#     switches back with Ctrl+Tab (tmux extended keys) and forth with
#     Alt+Tab, opens the File menu with Alt+F, is resized and quits,
#     leaving the terminal's key reports as they were.
# Usage: kora_edit_tmux_test.sh path/to/kora path/to/make_demo path/to/table.dbf encoding
set -u
usage="usage: kora_edit_tmux_test.sh path/to/kora path/to/make_demo path/to/table.dbf encoding"
program=${1:?$usage}
make_demo=${2:?$usage}
table=${3:?$usage}
encoding=${4:?$usage}
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
program=$(absolute "$program")
make_demo=$(absolute "$make_demo")
command -v tmux >/dev/null 2>&1 || { echo "SKIP: tmux not installed"; exit 77; }
python=/usr/bin/python3
"$python" -c "import dbfread" 2>/dev/null || { echo "SKIP: no dbfread for $python"; exit 77; }

work=$(mktemp -d)
socket=kora_edit_e2e_$$
session=kora
tmux_() { tmux -L "$socket" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$work/run" "$work/ref" "$work/bin"
# kora keeps its side files (the recent list and the rest) beside the path
# it is started by: a link of its own keeps them out of the build folder.
ln -s "$program" "$work/bin/kora" && program="$work/bin/kora"
cp "$table" "$work/run/cyr.dbf" && chmod u+w "$work/run/cyr.dbf"
cp "$work/run/cyr.dbf" "$work/ref/cyr.dbf"
"$make_demo" "$work/run" >/dev/null || { echo "FAIL: make_demo"; exit 1; }
cp "$work/run/demo.dbf" "$work/ref/demo.dbf"

. "$(dirname "$0")/tmux_lib.sh"
# Waits up to 5 s for the screen's first line to hold a text.
wait_title() {
  i=0
  until screen | head -1 | grep -q -- "$1"; do
    i=$((i + 1)); [ $i -gt 50 ] && return 1
    sleep 0.1
  done
}
keys() { tmux_ send-keys -t "$session" "$@"; }
# start table [command run after kora ends]
start() {
  tmux_ -f /dev/null new-session -d -s "$session" -x 80 -y 25 \
    "cd '$work/run' && env TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 '$program' $1; echo \"EXIT=\$?\"; ${2:-}sleep 30"
  # Lets modified keys such as Ctrl+Tab through once kora asks for them.
  tmux_ set -s extended-keys on
}
stop() {
  tmux_ kill-session -t "$session" 2>/dev/null
}
keep_server

# ---- 1. editing a record ---------------------------------------------------
edit_record() {
  start cyr.dbf
  wait_for "\[0\]cyr.dbf" || { fail edit "program did not start"; screen; stop; return; }
  wait_for "│больничное" || fail edit "Cyrillic text not shown"
  shown=$(screen)
  echo "$shown" | grep -q "╔═══" || fail edit "double frame not shown"
  echo "$shown" | grep -q "║\* RN   NAME" || fail edit "column names not shown"

  keys Down
  wait_for "2 / 4" || fail edit "Down did not move to record 2"
  keys F4
  wait_for "4EditOF" || { fail edit "F4 did not start editing"; screen; stop; return; }
  keys 7 7
  wait_for "│77  │больничное" || fail edit "typed number not shown in the cell"
  keys Tab
  # The table's header flags a structural index kora does not update: the
  # first change asks once.
  wait_for "cyr.dbf has an index file (cyr.cdx)" || { fail edit "the first change did not ask about the index"; screen; }
  keys Enter
  wait_gone "has an index file" || fail edit "Edit anyway did not close the question"
  keys -l "мир Ok"
  wait_for "│мир Ok " || fail edit "typed Cyrillic text not shown in the cell"
  keys Down
  wait_for "3 / 4" || fail edit "Down did not move to record 3"
  # F10 in edit mode leaves it; the second one quits.
  keys F10
  wait_for "4EditON" || fail edit "F10 did not leave edit mode"
  keys F10
  wait_for "EXIT=0" || { fail edit "second F10 did not end the program with status 0"; screen; }
  stop

  "$python" - "$work/ref/cyr.dbf" "$work/run/cyr.dbf" "$encoding" <<'EOF' || fail edit "file check"
import sys, dbfread
ref_path, run_path, encoding = sys.argv[1:]
def load(path):
    table = dbfread.DBF(path, encoding=encoding, load=True)
    return [f.name for f in table.fields], [dict(r) for r in table.records], table.header.numrecords
ref_fields, ref, ref_count = load(ref_path)
run_fields, run, run_count = load(run_path)
problems = []
if run_fields != ref_fields or run_count != ref_count or len(run) != len(ref):
    problems.append("structure or record count changed")
expected = [dict(r) for r in ref]
expected[1]["RN"] = 77
expected[1]["NAME"] = "мир Ok"
for i, (want, got) in enumerate(zip(expected, run)):
    if want != got:
        problems.append("record %d: want %r got %r" % (i + 1, want, got))
# Every other record, with its deletion flag, is byte for byte the same.
def records(path):
    data = open(path, "rb").read()
    header = int.from_bytes(data[8:10], "little")
    size = int.from_bytes(data[10:12], "little")
    count = int.from_bytes(data[4:8], "little")
    return [data[header + i * size: header + (i + 1) * size] for i in range(count)]
ref_raw, run_raw = records(ref_path), records(run_path)
for i in range(min(len(ref_raw), len(run_raw))):
    if i != 1 and ref_raw[i] != run_raw[i]:
        problems.append("record %d bytes changed" % (i + 1))
if run_raw[1][0:1] != b" ":
    problems.append("edited record lost its undeleted flag")
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
EOF
}

# ---- 2. a second table, switching, the menu -------------------------------
two_tables() {
  # After kora a reader shows what the keys send to the shell.
  start cyr.dbf "stty raw -echo; echo READY; dd bs=1 count=3 2>/dev/null | od -An -c > '$work/after.txt'; "
  wait_for "\[0\]cyr.dbf" || { fail tables "program did not start"; screen; stop; return; }
  keys F3
  wait_for "─ \*\.dbf ─" || { fail tables "F3 did not open the file panel"; screen; stop; return; }
  shown=$(screen)
  echo "$shown" | grep -q "│\.\. *|\[UP---DIR\]|" || fail tables "panel lacks the parent directory"
  # .., books, cyr, demo, goods, staff: three down is demo.dbf.
  echo "$shown" | grep -q "│demo.dbf  *| *[0-9]*|" || fail tables "panel lacks demo.dbf"
  keys Down Down Down Enter
  wait_title "\[1\]demo.dbf" || { fail tables "Enter did not open demo.dbf"; screen; stop; return; }
  wait_for "ORDER_NO" || fail tables "demo.dbf columns not shown"
  wait_for "Москва" || fail tables "demo.dbf Cyrillic text not shown"

  keys C-Tab
  wait_title "\[0\]cyr.dbf" || fail tables "Ctrl+Tab did not switch back to the first table"
  wait_for "│амбулаторно-поликлиническое" || fail tables "first table's text not shown after Ctrl+Tab"
  keys M-Tab
  wait_title "\[1\]demo.dbf" || fail tables "Alt+Tab did not switch to the other table"

  keys M-f
  wait_for "│ Recent files" || fail tables "Alt+F did not open the File menu"
  screen | head -1 | grep -q "File  View  Edit" || fail tables "menu bar not shown"
  keys Escape
  i=0
  while screen | grep -q "Recent files"; do
    i=$((i + 1)); [ $i -gt 50 ] && { fail tables "Esc did not close the menu"; break; }
    sleep 0.1
  done
  # A bigger terminal is repainted at once, without waiting for a key.
  tmux_ resize-window -t "$session" -x 100 -y 30
  i=0
  until screen | sed -n 29p | grep -q "^╚═[<◄]"; do
    i=$((i + 1)); [ $i -gt 50 ] && { fail tables "resize not repainted"; break; }
    sleep 0.1
  done
  screen | sed -n 30p | grep -q "10Quit" || fail tables "key bar not on the new last row"
  keys F10
  wait_for "EXIT=0" || { fail tables "F10 did not end the program with status 0"; screen; }
  # The terminal is left as it was found: Ctrl+Tab sends nothing again
  # (modified-key reports are off) and Alt+F is ESC f.
  if wait_for READY; then
    keys C-Tab M-f x
    i=0
    until [ -s "$work/after.txt" ]; do
      i=$((i + 1)); [ $i -gt 50 ] && break
      sleep 0.1
    done
    [ "$(tr -d ' \n' < "$work/after.txt" 2>/dev/null)" = '033fx' ] ||
      fail tables "keys after exit: $(cat "$work/after.txt" 2>/dev/null)"
  else
    fail tables "shell reader did not start after kora"
  fi
  stop
  cmp -s "$work/ref/demo.dbf" "$work/run/demo.dbf" || fail tables "viewing changed demo.dbf"
}

edit_record
two_tables
tmux_ kill-server 2>/dev/null
[ $failures -eq 0 ] && echo PASS
exit $failures
