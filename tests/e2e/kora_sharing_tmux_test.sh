#!/bin/sh
# Two kora processes on one table, each in its own real terminal (tmux):
#  1. edits of different records by both are all kept;
#  2. a record one is editing is locked in the other, which is told so,
#     cancels, and on its next try is asked before writing over the change;
#  3. a pack in one while the other edits waits for the other's record lock
#     (Retry), then keeps the other's edit and the other follows the new file;
#  4. a record appended by one is counted by the other without Ctrl+R.
# Every write is checked with dbfread at the end.
# Usage: kora_sharing_tmux_test.sh path/to/kora
set -u
program=${1:?usage: kora_sharing_tmux_test.sh path/to/kora}
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
program=$(absolute "$program")
. "$(dirname "$0")/tmux_lib.sh"
prepare_e2e sharing
mkdir "$work/run" "$work/bin"
ln -s "$program" "$work/bin/kora"

# NAME C(8), six records, the last marked deleted (for the pack).
"$python" - "$work/run/t.dbf" <<'EOF'
import struct, sys
names = ["AAAA", "BBBB", "CCCC", "DDDD", "EEEE", "GONE"]
header = struct.pack("<BBBBIHH20x", 0x03, 124, 1, 1, len(names), 32 + 32 + 1, 9)
field = struct.pack("<11sc4xBB14x", b"NAME", b"C", 8, 0)
records = b"".join((b"*" if n == "GONE" else b" ") + n.encode().ljust(8) for n in names)
open(sys.argv[1], "wb").write(header + field + b"\r" + records + b"\x1a")
EOF

# Two sessions on one server: A and B.
start() {  # session
  tmux_ -f /dev/null new-session -d -s "$1" -x 80 -y 25 \
    "cd '$work/run' && env TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 '$work/bin/kora' t.dbf; echo \"EXIT=\$?\"; sleep 30"
}
on() { session=$1; }
keep_server
start A
start B
on A; wait_for "\[0\]t.dbf" || { fail start "A did not start"; screen; exit 1; }
on B; wait_for "\[0\]t.dbf" || { fail start "B did not start"; screen; exit 1; }

# ---- 1. different records ---------------------------------------------------
on A; keys F4; wait_for "4EditOF" || fail different "A: F4 did not start editing"
keys 1                        # record 1, typed, not yet written
on B; keys Down F4; wait_for "4EditOF" || fail different "B: F4 did not start editing"
keys 2 Down                   # record 2, written
wait_for "3 / 6" || fail different "B did not move on"
on A; keys Down               # record 1, written
wait_for "2 / 6" || fail different "A did not move on"

# ---- 2. the same record -----------------------------------------------------
# B is on record 3; A comes down to it.
on A; keys Down; wait_for "3 / 6" || fail same "A did not go down"
keys 3 Tab                    # committed: record 3 is locked while A edits it
on B; keys 4 Down
wait_for "Record 3 is locked" || { fail same "B was not told record 3 is locked"; screen; }
screen | grep -q "holds a record lock" || fail same "the kind of lock is not named"
keys Right Enter              # Cancel: B stays with its typed text
wait_gone "is locked" || fail same "Cancel did not close the question"
on A; keys Down               # A writes record 3 and lets it go
wait_for "4 / 6" || fail same "A did not move on"
on B; keys Down               # B's next try: the record changed meanwhile
wait_for "changed by another program" || { fail same "B was not asked before writing over A's change"; screen; }
keys Right Enter              # Discard mine
wait_gone "changed by another" || fail same "Discard mine did not close the question"

# ---- 3. a pack while the other edits ----------------------------------------
# A is on record 4; it commits a change there and holds its lock.
on A; keys 5 Tab
on B; keys F4; wait_for "4EditON" || fail pack "B: F4 did not leave edit mode"
keys M-F8
wait_for "Do you wish to pack" || { fail pack "B: Alt+F8 did not ask"; screen; }
keys Enter
wait_for "Pack is blocked" || { fail pack "B's pack was not blocked by A's record lock"; screen; }
on A; keys Down               # A writes record 4 and lets it go
wait_for "5 / 6" || fail pack "A did not move on"
on B; keys Enter              # Retry
wait_gone "Pack is blocked" || fail pack "Retry did not go on with the pack"
wait_for " / 5" || fail pack "B does not count 5 records after the pack"
on A; wait_for " / 5" || fail pack "A did not follow the packed table"

# ---- 4. an append seen by the other -----------------------------------------
on A; keys F4; wait_for "4EditON" || fail append "A: F4 did not leave edit mode"
on B; keys F5
wait_for "append record" || { fail append "B: F5 did not ask"; screen; }
keys Enter
wait_for " / 6" || fail append "B does not count the new record"
on A; wait_for " / 6" || { fail append "A did not count B's new record without Ctrl+R"; screen; }

on A; keys F10; wait_for "EXIT=0" || { keys F10; wait_for "EXIT=0" || fail end "A did not end"; }
on B; keys F10; wait_for "EXIT=0" || { keys F10; wait_for "EXIT=0" || fail end "B did not end"; }

"$python" - "$work/run/t.dbf" <<'EOF' || fail file "dbfread check"
import sys, dbfread
rows = [r["NAME"] for r in dbfread.DBF(sys.argv[1], load=True).records]
# A typed 1, 3 and 5 and B typed 2 as the first key in a cell, which
# replaces its text; B's 4 was discarded, GONE packed away, "" appended.
want = ["1", "2", "3", "5", "EEEE", ""]
if rows != want:
    print("want %r\n got %r" % (want, rows))
    sys.exit(1)
EOF
report
