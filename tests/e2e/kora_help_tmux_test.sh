#!/bin/sh
# End-to-end run of F1 in a real terminal (tmux, TERM=xterm-256color): on
# the main screen it shows the main help topic from the help table beside
# the program, Esc closes it, and the help table's files are the same bytes
# after the program has quit.
# Usage: kora_help_tmux_test.sh path/to/kora table.dbf
set -u
usage="usage: kora_help_tmux_test.sh path/to/kora table.dbf"
help=$(dirname "${1:?$usage}")/help
[ -f "$help/english.dbf" ] || { echo "FAIL: no help table in $help"; exit 1; }
. "$(dirname "$0")/tmux_lib.sh"
start_on_copy "$1" "${2:?$usage}" t 100 30 "\[0\]t.dbf"
# The help table is looked for beside the program at every F1.
cp -r "$help" "$work/bin/help" && cp -r "$help" "$work/help_ref"

keys F1
wait_for "Help: Main screen" || { fail f1 "F1 did not show the main topic"; screen; }
wait_for "kora shows one table at a time" || fail f1 "the main topic's text is not shown"
keys Escape
wait_gone "Help: Main screen" || { fail close "Esc did not close the help"; screen; }
quit_kora
for file in english.dbf english.dbt; do
  cmp -s "$work/bin/help/$file" "$work/help_ref/$file" || fail file "$file changed"
done
report
