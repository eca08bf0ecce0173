#!/bin/sh
# End-to-end run of F1 in a real terminal (tmux, TERM=xterm-256color): on
# the main screen it shows the main help topic from the help table beside
# the program, Esc closes it, and the help table's files are the same bytes
# after the program has quit.
# Usage: kora_help_tmux_test.sh path/to/kora table.dbf
set -u
usage="usage: kora_help_tmux_test.sh path/to/kora table.dbf"
program=${1:?$usage}
table=${2:?$usage}
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
program=$(absolute "$program")
command -v tmux >/dev/null 2>&1 || { echo "SKIP: tmux not installed"; exit 77; }
help=$(dirname "$program")/help
[ -f "$help/english.dbf" ] || { echo "FAIL: no help table in $help"; exit 1; }

work=$(mktemp -d)
socket=kora_help_e2e_$$
session=kora
tmux_() { tmux -L "$socket" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
cp "$table" "$work/t.dbf" && chmod u+w "$work/t.dbf"
mkdir "$work/bin" && cp "$program" "$work/bin/kora" && program="$work/bin/kora"
cp -r "$help" "$work/bin/help" && cp -r "$help" "$work/help_ref"

. "$(dirname "$0")/tmux_lib.sh"
keys() { tmux_ send-keys -t "$session" "$@"; }

tmux_ -f /dev/null new-session -d -s "$session" -x 100 -y 30 \
  "cd '$work' && env TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 '$program' t.dbf; echo \"EXIT=\$?\"; sleep 30"
wait_for "\[0\]t.dbf" || { fail start "program did not start"; screen; exit 1; }
keys F1
wait_for "Help: Main screen" || { fail f1 "F1 did not show the main topic"; screen; }
wait_for "kora shows one table at a time" || fail f1 "the main topic's text is not shown"
keys Escape
wait_gone "Help: Main screen" || { fail close "Esc did not close the help"; screen; }
keys F10
wait_for "EXIT=0" || { fail quit "F10 did not end the program"; screen; }
for file in english.dbf english.dbt; do
  cmp -s "$work/bin/help/$file" "$work/help_ref/$file" || fail file "$file changed"
done
[ "$failures" -eq 0 ] || exit 1
echo "OK: F1 showed the main topic and the help table is unchanged"
