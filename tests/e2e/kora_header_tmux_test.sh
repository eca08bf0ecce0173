#!/bin/sh
# End-to-end runs of kora's header repair on copies of real tables, in a real
# terminal (tmux, TERM=xterm-256color):
#  1. a header size past the end of the file: the question names the size
#     the field list gives; Correct writes it, every record stays, the file
#     keeps its size, and dbfread reads the table as the original;
#  2. a count past the records of a table without an end mark: Correct
#     writes the count and the file does not grow;
#  3. /ro: the question offers only to open read-only, and nothing is written.
# Usage: kora_header_tmux_test.sh path/to/kora fixtures-folder
set -u
usage="usage: kora_header_tmux_test.sh path/to/kora fixtures-folder"
program=${1:?$usage}
fixtures=${2:?$usage}
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
program=$(absolute "$program")
. "$(dirname "$0")/tmux_lib.sh"
prepare_e2e header
# A copy of the program keeps its side files in the temporary folder.
mkdir "$work/bin" && cp "$program" "$work/bin/kora" && program="$work/bin/kora"
start() {
  tmux_ -f /dev/null new-session -d -s "$session" -x 80 -y 25 \
    "cd '$work' && env TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 '$program' $*; echo \"EXIT=\$?\"; sleep 30"
}
stop() { tmux_ kill-session -t "$session" 2>/dev/null; }
keep_server

# copy fixture name: a writable copy in the work folder.
copy() { cp "$fixtures/$1" "$work/$2" && chmod u+w "$work/$2"; }
# patch file offset width value: writes a little-endian number into the file.
patch() {
  "$python" -c "import sys; p, at, n, v = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
b = bytearray(open(p, 'rb').read()); b[at:at + n] = v.to_bytes(n, 'little'); open(p, 'wb').write(b)" "$@"
}
size() { wc -c < "$1" | tr -d ' '; }
# same_records a b count: dbfread reads the same count of records, alike, in both.
same_records() {
  "$python" - "$@" <<'PY'
import sys, dbfread
def rows(path):
    return [list(r.values()) for r in dbfread.DBF(path, encoding='latin1', load=True, ignore_missing_memofile=True)]
a, b = rows(sys.argv[1]), rows(sys.argv[2])
sys.exit(0 if a == b and len(a) == int(sys.argv[3]) else 1)
PY
}
# tail_same a b: the files are alike from byte 32 on.
tail_same() { cmp -s -i 32 "$1" "$2"; }

# ---- 1. a header size past the end ------------------------------------------
past_the_end() {
  copy infused-dbf/dbase_03.dbf past.dbf && copy infused-dbf/dbase_03.dbf past_ref.dbf
  patch "$work/past.dbf" 8 2 60000
  cp "$work/past.dbf" "$work/past_damaged.dbf"
  start past.dbf
  wait_for "The header says the records start at byte 60000" &&
    wait_for "the field list says 1025. Write 1025?" ||
    { fail past "the question does not name the header size"; screen; stop; return; }
  keys Enter
  wait_for "\[0\]past.dbf" || { fail past "the table was not shown"; screen; stop; return; }
  wait_for "1 / 14" || fail past "not every record is shown"
  keys F10
  wait_for "EXIT=0" || fail past "F10 did not end the program"
  stop
  [ "$(size "$work/past.dbf")" = "$(size "$work/past_ref.dbf")" ] || fail past "the file changed its size"
  tail_same "$work/past.dbf" "$work/past_damaged.dbf" || fail past "bytes after the header changed"
  same_records "$work/past.dbf" "$work/past_ref.dbf" 14 || fail past "dbfread reads other records"
  cmp -s -n 32 "$work/past.hbk" "$work/past_damaged.dbf" || fail past "the old header was not kept"
}

# ---- 2. a wrong count in a table without an end mark ------------------------
no_end_mark() {
  copy infused-dbf/dbase_31.dbf count.dbf && copy infused-dbf/dbase_31.dbf count_ref.dbf
  patch "$work/count.dbf" 4 4 100
  start count.dbf
  wait_for "The header says 100 records; the file holds 77. Write 77?" ||
    { fail count "the question does not name the count"; screen; stop; return; }
  keys Enter
  wait_for "1 / 77" || { fail count "not every record is shown"; screen; }
  keys F10
  wait_for "EXIT=0" || fail count "F10 did not end the program"
  stop
  [ "$(size "$work/count.dbf")" = "$(size "$work/count_ref.dbf")" ] || fail count "the file changed its size"
  same_records "$work/count.dbf" "$work/count_ref.dbf" 77 || fail count "dbfread reads other records"
}

# ---- 3. /ro writes nothing --------------------------------------------------
read_only() {
  copy infused-dbf/dbase_03.dbf ro.dbf
  patch "$work/ro.dbf" 4 4 100
  cp "$work/ro.dbf" "$work/ro_before.dbf"
  start /ro ro.dbf
  wait_for "Nothing is written in read-only mode" || { fail ro "no read-only question"; screen; stop; return; }
  screen | grep -q "Correct" && fail ro "read-only mode offers to correct"
  keys Enter
  wait_for "\[0\]ro.dbf" || { fail ro "Open read-only did not show the table"; screen; stop; return; }
  keys F10
  wait_for "EXIT=0" || fail ro "F10 did not end the program"
  stop
  cmp -s "$work/ro.dbf" "$work/ro_before.dbf" || fail ro "read-only mode wrote the table"
  [ -e "$work/ro.hbk" ] && fail ro "read-only mode kept a header backup"
}

past_the_end
no_end_mark
read_only
report
