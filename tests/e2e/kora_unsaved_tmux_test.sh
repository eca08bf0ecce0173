#!/bin/sh
# End-to-end runs of kora in a real terminal (tmux, TERM=xterm-256color):
#  1. a typed change is never left without a question: Esc asks and Cancel
#     keeps the typed text, F12 asks and Don't save drops it, File Exit asks
#     and Save writes it before the program ends (checked with dbfread);
#  2. one file is one table: opening ./t.dbf after t.dbf and a symbolic link
#     to it switches to the open table, so Alt+0 lists it once, while T.dbf,
#     whose name differs only in letter case, is a second table.
# Usage: kora_unsaved_tmux_test.sh path/to/kora path/to/table.dbf (RN, a number, first)
set -u
usage="usage: kora_unsaved_tmux_test.sh path/to/kora path/to/table.dbf"
program=${1:?$usage}
table=${2:?$usage}
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
program=$(absolute "$program")
. "$(dirname "$0")/tmux_lib.sh"
prepare_e2e unsaved
mkdir "$work/run" "$work/ref" "$work/bin"
# The side files (favourites) lie beside the link kora is started by.
ln -s "$program" "$work/bin/kora"
cp "$table" "$work/run/t.dbf" && chmod u+w "$work/run/t.dbf"
cp "$work/run/t.dbf" "$work/ref/t.dbf"

start() {
  tmux_ -f /dev/null new-session -d -s "$session" -x 100 -y 25 \
    "cd '$work/run' && env TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 '$work/bin/kora' $1; echo \"EXIT=\$?\"; sleep 30"
}
stop() { tmux_ kill-session -t "$session" 2>/dev/null; }
keep_server
question="You've made changes since the last save"

# ---- 1. the question on Esc, F12 and File Exit ----------------------------
unsaved_edits() {
  start t.dbf
  wait_for "\[0\]t.dbf" || { fail unsaved "program did not start"; screen; stop; return; }
  keys F4
  wait_for "4EditOF" || { fail unsaved "F4 did not start editing"; screen; stop; return; }
  keys 7
  keys Escape
  wait_for "$question" || { fail unsaved "Esc did not ask about the typed change"; screen; stop; return; }
  keys Escape
  wait_gone "$question" || fail unsaved "Esc did not cancel the question"
  screen | grep -q "4EditOF" || fail unsaved "Cancel left edit mode"
  keys 8
  wait_for "│78 " || fail unsaved "Cancel did not keep the typed text in the cell"

  keys F12
  wait_for "$question" || { fail unsaved "F12 did not ask about the typed change"; screen; stop; return; }
  keys Right Enter
  wait_for "4EditON" || fail unsaved "Don't save did not leave edit mode"

  keys F4
  wait_for "4EditOF" || { fail unsaved "F4 did not start editing again"; screen; stop; return; }
  keys 9
  keys M-f
  wait_for "E.*xit" || { fail unsaved "Alt+F did not open the File menu"; screen; stop; return; }
  keys x
  wait_for "$question" || { fail unsaved "File Exit did not ask about the typed change"; screen; stop; return; }
  keys Enter
  # The table's header flags a structural index: its first change asks once.
  wait_for "has an index file" || { fail unsaved "Save did not ask about the index"; screen; stop; return; }
  keys Enter
  wait_for "EXIT=0" || { fail unsaved "File Exit did not end the program after Save"; screen; }
  stop

  "$python" - "$work/ref/t.dbf" "$work/run/t.dbf" <<'EOF' || fail unsaved "file check"
import sys, dbfread
ref_path, run_path = sys.argv[1:]
def load(path):
    return [dict(r) for r in dbfread.DBF(path, encoding="cp1251", load=True).records]
ref, run = load(ref_path), load(run_path)
problems = []
if len(ref) != len(run):
    problems.append("record count changed")
# 78 was dropped by Don't save; 9 was saved by File Exit.
want = [dict(r) for r in ref]
want[0]["RN"] = 9
for i, (w, got) in enumerate(zip(want, run)):
    if w != got:
        problems.append("record %d: want %r got %r" % (i + 1, w, got))
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
EOF
}

# ---- 2. one file, one table --------------------------------------------------
one_table() {
  ln -s t.dbf "$work/run/link.dbf"
  cp "$work/ref/t.dbf" "$work/run/T.dbf" && chmod u+w "$work/run/T.dbf"
  printf '%s\n' ./t.dbf "$work/run/link.dbf" "$work/run/T.dbf" > "$work/bin/kora.fvr"
  start t.dbf
  wait_for "\[0\]t.dbf" || { fail identity "program did not start"; screen; stop; return; }
  # Favourites: Add, Organize, a separator, ./t.dbf, link.dbf, T.dbf.
  keys M-o
  wait_for "$work/run/T.dbf" || { fail identity "Alt+O did not show the favourites"; screen; stop; return; }
  keys End Up Up Enter
  wait_gone "$work/run/T.dbf" || fail identity "the favourite ./t.dbf was not chosen"
  keys M-o
  wait_for "$work/run/T.dbf" || { fail identity "Alt+O did not show the favourites again"; screen; stop; return; }
  keys End Up Enter
  wait_gone "$work/run/T.dbf" || fail identity "the favourite link.dbf was not chosen"
  screen | head -1 | grep -q "\[0\]t.dbf" || fail identity "./t.dbf or the link was opened as another table"
  keys M-0
  wait_for "$work/run/t.dbf" || { fail identity "Alt+0 did not list the open tables"; screen; stop; return; }
  [ "$(screen | grep -c "$work/run/")" -eq 1 ] || { fail identity "Alt+0 lists t.dbf more than once"; screen; }
  keys Escape
  wait_gone "$work/run/t.dbf" || fail identity "Esc did not close the list"

  keys M-o
  wait_for "$work/run/T.dbf" || { fail identity "Alt+O did not show the favourites a third time"; screen; stop; return; }
  keys End Enter
  wait_for "\[1\]T.dbf" || fail identity "T.dbf was not opened as a second table"
  keys M-0
  wait_for "$work/run/T.dbf" || { fail identity "Alt+0 did not list the open tables"; screen; stop; return; }
  [ "$(screen | grep -c "$work/run/[tT].dbf")" -eq 2 ] || { fail identity "Alt+0 does not list t.dbf and T.dbf"; screen; }
  keys Escape
  wait_gone "$work/run/T.dbf" || fail identity "Esc did not close the list"
  keys F10
  wait_for "EXIT=0" || fail identity "F10 did not end the program"
  stop
  cmp -s "$work/ref/t.dbf" "$work/run/T.dbf" || fail identity "viewing changed T.dbf"
}

unsaved_edits
cp "$work/ref/t.dbf" "$work/run/t.dbf"
one_table
tmux_ kill-server 2>/dev/null
report
