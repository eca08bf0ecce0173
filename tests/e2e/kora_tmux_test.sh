#!/bin/sh
# End-to-end run of kora in a real terminal: opens a table with Cyrillic text
# kept in Windows-1251 under tmux, checks the grid with its box drawing and
# the converted text, opens the File menu with Alt+F, and quits with F10.
# Usage: kora_tmux_test.sh path/to/kora path/to/table.dbf
set -u
program=${1:?usage: kora_tmux_test.sh path/to/kora path/to/table.dbf}
table=${2:?usage: kora_tmux_test.sh path/to/kora path/to/table.dbf}
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
command -v tmux >/dev/null 2>&1 || { echo "SKIP: tmux not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# kora keeps its side files beside the path it is started by: a link of its
# own keeps them out of the build folder.
mkdir "$work/bin" && ln -s "$program" "$work/bin/kora" && program="$work/bin/kora"
cp "$table" "$work/cyr.dbf"
before=$(cksum < "$work/cyr.dbf")
. "$(dirname "$0")/tmux_lib.sh"
session=kora_e2e_$$
socket=kora_e2e_$$
tmux_() { tmux -L "$socket" "$@"; }
run_terminal() {
  term=$1
  # A server of its own per terminal: a new session on the server the last
  # run just ended can find it still exiting.
  socket=kora_e2e_$$_$term
  tmux_ -f /dev/null new-session -d -s "$session" -x 80 -y 25 \
    "cd '$work' && env TERM=$term LANG=C.UTF-8 LC_ALL=C.UTF-8 '$program' cyr.dbf; echo \"EXIT=\$?\"; sleep 30"
  wait_for "\[0\]cyr.dbf" || { fail "$term" "program did not start"; screen; tmux_ kill-session -t "$session"; return; }
  # The status line is painted first: wait for the key bar, painted last.
  wait_for "10Quit" || fail "$term" "the first screen was not painted whole"
  shown=$(screen)
  echo "$shown" | grep -q "╔═══" || fail "$term" "double frame not shown"
  echo "$shown" | grep -q "║\* RN" || fail "$term" "column names not shown"
  echo "$shown" | grep -q "│больничное" || fail "$term" "Cyrillic text not shown"
  echo "$shown" | grep -q "1 / 4" || fail "$term" "record counter not shown"
  echo "$shown" | tail -1 | grep -q "10Quit" || fail "$term" "key bar not shown"

  tmux_ send-keys -t "$session" M-f
  wait_for "│ Recent files" || fail "$term" "Alt+F did not open the File menu"
  echo "$(screen)" | head -1 | grep -q "File  View  Edit" || fail "$term" "menu bar not shown"
  tmux_ send-keys -t "$session" Escape
  wait_gone "Recent files" || fail "$term" "Esc did not close the menu"

  tmux_ send-keys -t "$session" Down F10
  wait_for "EXIT=0" || fail "$term" "F10 did not end the program with status 0"
  tmux_ kill-session -t "$session" 2>/dev/null
}

run_terminal xterm-256color
run_terminal screen-256color
tmux_ kill-server 2>/dev/null
[ "$(cksum < "$work/cyr.dbf")" = "$before" ] || fail file "viewing changed the table"
[ $failures -eq 0 ] && echo PASS
exit $failures
