#!/bin/sh
# End-to-end runs of kora on tables kept in Windows-1251, in a real terminal
# (tmux, TERM=xterm-256color):
#  1. a table marked as Windows-1251 in its header shows its Cyrillic text;
#     F12 shows the stored bytes as code page 866, and F12 again converts;
#  2. a table without the mark whose first record holds none of the letters
#     А О Е У is still taken as Windows-1251; ё typed into it is stored as
#     the byte 0xB8, and dbfread reads the word back;
#  3. tables in other code pages: a Big5 table with its .cpg shows its
#     characters, each wide one over two cells (every grid line fills the
#     terminal's width), its code page on the status line; a letter
#     ISO-8859-2 cannot hold typed into its text is refused with the reason
#     and the file keeps its bytes;
#  4. characters typed on the UTF-8 terminal: é into a Windows-1252 table
#     is stored as 0xE9, Ǆ is refused with the reason and stores nothing; a
#     UTF-8 cell with one byte left refuses a two-byte letter whole.
# Usage: kora_codepage_tmux_test.sh path/to/kora marked.dbf unmarked.dbf fixtures
#        win1252.dbf utf8.dbf (with utf8.cpg beside it)
set -u
usage="usage: kora_codepage_tmux_test.sh path/to/kora marked.dbf unmarked.dbf fixtures win1252.dbf utf8.dbf"
program=${1:?$usage}
marked=${2:?$usage}
unmarked=${3:?$usage}
fixtures=${4:?$usage}
win1252=${5:?$usage}
utf8=${6:?$usage}
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
program=$(absolute "$program")
command -v tmux >/dev/null 2>&1 || { echo "SKIP: tmux not installed"; exit 77; }
python=/usr/bin/python3
"$python" -c "import dbfread" 2>/dev/null || { echo "SKIP: no dbfread for $python"; exit 77; }

work=$(mktemp -d)
socket=kora_codepage_e2e_$$
session=kora
tmux_() { tmux -L "$socket" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
cp "$marked" "$work/marked.dbf" && chmod u+w "$work/marked.dbf"
cp "$unmarked" "$work/plain.dbf" && chmod u+w "$work/plain.dbf"
cp "$work/plain.dbf" "$work/plain_ref.dbf"
# A copy of the program keeps its side files (recent list, settings) in the
# temporary folder.
mkdir "$work/bin" && cp "$program" "$work/bin/kora" && program="$work/bin/kora"

. "$(dirname "$0")/tmux_lib.sh"
keys() { tmux_ send-keys -t "$session" "$@"; }
start() {
  tmux_ -f /dev/null new-session -d -s "$session" -x 100 -y 25 \
    "cd '$work' && env TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 '$program' $1; echo \"EXIT=\$?\"; sleep 30"
}
stop() { tmux_ kill-session -t "$session" 2>/dev/null; }
keep_server

# ---- 1. the marked table and F12 ------------------------------------------
marked_table() {
  start marked.dbf
  wait_for "\[0\]marked.dbf" || { fail marked "program did not start"; screen; stop; return; }
  wait_for "│больничное" || fail marked "Cyrillic text not shown"
  screen | tail -1 | grep -q "12OEM" || fail marked "F12 label does not offer OEM"
  keys F12
  wait_gone "│больничное" || fail marked "F12 did not show the stored bytes"
  wait_for "12Ansi" || fail marked "F12 label does not offer Ansi after F12"
  keys F12
  wait_for "│больничное" || fail marked "second F12 did not convert again"
  keys F10
  wait_for "EXIT=0" || { fail marked "F10 did not end the program"; screen; }
  stop
  cmp -s "$marked" "$work/marked.dbf" || fail marked "viewing changed the table"
}

# ---- 2. detection past record 0 and a typed ё -----------------------------
unmarked_table() {
  start plain.dbf
  wait_for "\[0\]plain.dbf" || { fail plain "program did not start"; screen; stop; return; }
  wait_for "│Г.В.Гирич" || fail plain "first record not shown in Cyrillic"
  wait_for "│Петров" || fail plain "second record not shown in Cyrillic"
  keys F4
  wait_for "4EditOF" || { fail plain "F4 did not start editing"; screen; stop; return; }
  keys -l "ёлка"
  wait_for "│ёлка" || fail plain "typed word not shown in the cell"
  keys F4
  wait_for "4EditON" || fail plain "F4 did not leave edit mode"
  keys F10
  wait_for "EXIT=0" || { fail plain "F10 did not end the program"; screen; }
  stop
  "$python" - "$work/plain_ref.dbf" "$work/plain.dbf" <<'PY' || fail plain "file check"
import sys, dbfread
ref_path, run_path = sys.argv[1:]
def raw(path):
    data = open(path, "rb").read()
    header = int.from_bytes(data[8:10], "little")
    size = int.from_bytes(data[10:12], "little")
    return [data[header + i * size: header + (i + 1) * size] for i in range(int.from_bytes(data[4:8], "little"))]
problems = []
run = raw(run_path)
if run[0][1:5] != b"\xb8\xeb\xea\xe0":
    problems.append("record 1 bytes: %r" % run[0][:12])
if run[1:] != raw(ref_path)[1:]:
    problems.append("other records changed")
names = [r["NAME"] for r in dbfread.DBF(run_path, encoding="cp1251")]
if names[0] != "ёлка":
    problems.append("dbfread reads %r" % names[0])
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
PY
}

other_pages() {
  for name in big5 latin2; do
    cp "$fixtures/mapshaper/dbf/cpg/$name.dbf" "$fixtures/mapshaper/dbf/cpg/$name.cpg" "$work/" &&
      chmod u+w "$work/$name.dbf"
  done
  cp "$work/latin2.dbf" "$work/latin2_ref.dbf"
  start big5.dbf
  wait_for "\[0\]big5.dbf (Big5)" || { fail big5 "program did not start naming Big5"; screen; stop; return; }
  wait_for "│國語" || fail big5 "the Big5 text is not shown"
  screen | "$python" -c '
import sys, unicodedata
width = lambda line: sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line)
sys.exit(any("國" in line and width(line) != 100 for line in sys.stdin.read().splitlines()))' ||
    fail big5 "a line with wide characters does not fill the terminal's width"
  keys F10
  wait_for "EXIT=0" || { fail big5 "F10 did not end the program"; screen; }
  stop
  start latin2.dbf
  wait_for "│čeština" || { fail latin2 "the ISO-8859-2 text is not shown"; screen; stop; return; }
  keys F4
  keys -l "Я"
  wait_for "Я cannot be stored in code page ISO-8859-2" || fail latin2 "a letter the page lacks was not refused"
  keys Enter F4 F10
  wait_for "EXIT=0" || { fail latin2 "F10 did not end the program"; screen; }
  stop
  cmp -s "$work/latin2.dbf" "$work/latin2_ref.dbf" || fail latin2 "the file changed"
}

# ---- 4. typed characters in Windows-1252 and UTF-8 ----------------------
typed_characters() {
  cp "$win1252" "$work/w1252.dbf" && chmod u+w "$work/w1252.dbf"
  cp "$work/w1252.dbf" "$work/w1252_ref.dbf"
  cp "$utf8" "$work/u8.dbf" && chmod u+w "$work/u8.dbf"
  cp "${utf8%.dbf}.cpg" "$work/u8.cpg"
  cp "$work/u8.dbf" "$work/u8_ref.dbf"
  start w1252.dbf
  wait_for "\[0\]w1252.dbf (1252)" || { fail w1252 "program did not start naming 1252"; screen; stop; return; }
  keys F4
  wait_for "4EditOF" || { fail w1252 "F4 did not start editing"; screen; stop; return; }
  keys -l "é"
  wait_for "│é " || fail w1252 "typed é not shown in the cell"
  keys -l "Ǆ"
  wait_for "Ǆ cannot be stored in code page 1252" || fail w1252 "Ǆ was not refused with the reason"
  keys Enter F4
  wait_for "4EditON" || fail w1252 "F4 did not leave edit mode"
  keys F10
  wait_for "EXIT=0" || { fail w1252 "F10 did not end the program"; screen; }
  stop
  start u8.dbf
  wait_for "\[0\]u8.dbf (UTF-8)" || { fail utf8 "program did not start naming UTF-8"; screen; stop; return; }
  keys F4
  wait_for "4EditOF" || { fail utf8 "F4 did not start editing"; screen; stop; return; }
  keys -l "abc"
  wait_for "│abc" || fail utf8 "typed text not shown in the cell"
  keys -l "é"
  sleep 0.5
  screen | grep -q "│abcé" && fail utf8 "a letter past the cell's last byte was taken"
  keys F4
  wait_for "4EditON" || fail utf8 "F4 did not leave edit mode"
  keys F10
  wait_for "EXIT=0" || { fail utf8 "F10 did not end the program"; screen; }
  stop
  "$python" - "$work" <<'PY' || fail typed "file check"
import sys, dbfread
work = sys.argv[1]
def raw(path):
    data = open(path, "rb").read()
    header = int.from_bytes(data[8:10], "little")
    size = int.from_bytes(data[10:12], "little")
    return [data[header + i * size: header + (i + 1) * size] for i in range(int.from_bytes(data[4:8], "little"))]
problems = []
for name, first, encoding, value in (("w1252", b" \xe9       ", "cp1252", "é"), ("u8", b" abc ", "utf-8", "abc")):
    run, ref = raw("%s/%s.dbf" % (work, name)), raw("%s/%s_ref.dbf" % (work, name))
    if run[0] != first:
        problems.append("%s record 1 bytes: %r" % (name, run[0]))
    if run[1:] != ref[1:]:
        problems.append("%s: other records changed" % name)
    read = [r["NAME"] for r in dbfread.DBF("%s/%s.dbf" % (work, name), encoding=encoding)][0]
    if read != value:
        problems.append("%s: dbfread reads %r" % (name, read))
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
PY
}

marked_table
unmarked_table
other_pages
typed_characters
tmux_ kill-server 2>/dev/null
[ $failures -eq 0 ] && echo PASS
exit $failures
