#!/usr/bin/python3
"""Kills the real program with SIGKILL at random moments of a long pack,
insert and Modify structure on a 100,000-record table with a memo file, then
lets the program open the table again (a batch run, which finishes or rolls
back what was interrupted) and checks that the table and its memo file are
byte for byte, in the descriptors, the record area and the memo file, either
the table before the operation or the table the operation makes. The before
and after tables are checked once with python3-dbfread. Then the pack and the
insert are taken back with Ctrl+Z and the program killed during the undo:
the table must be the one the operation made or the one before it.

Usage: kora_kill_test.py path/to/kora [trials]
"""
import os
import pty
import random
import shutil
import signal
import struct
import sys
import tempfile
import time

try:
    import dbfread
except ImportError:
    print("SKIP: python3-dbfread is missing")
    sys.exit(77)

RECORDS = 100_000
NAME = "big.dbf"
MEMO = "big.dbt"

# Keys as an xterm sends them.
ALT_F8, CTRL_F4, CTRL_F6 = b"\x1b[19;3~", b"\x1b[1;5S", b"\x1b[17;5~"
F5, F10, TAB, ENTER = b"\x1b[15~", b"\x1b[21~", b"\t", b"\r"
CTRL_Z = b"\x1a"

OPERATIONS = {
    "pack": ALT_F8 + ENTER,
    "insert": CTRL_F6,
    "restructure": CTRL_F4 + F5 + TAB + ENTER,
}


def write_table(folder):
    """dBase III with memo: NAME C(8), NUM N(6), NOTE M(10); every 7th record
    deleted, every 1000th with a memo text."""
    fields = [(b"NAME", b"C", 8), (b"NUM", b"N", 6), (b"NOTE", b"M", 10)]
    record_size = 1 + sum(f[2] for f in fields)
    header_size = 32 + 32 * len(fields) + 1
    head = struct.pack("<BBBBIHH20x", 0x83, 126, 1, 1, RECORDS, header_size, record_size)
    for name, kind, length in fields:
        head += struct.pack("<11sc4xBB14x", name, kind, length, 0)
    head += b"\r"
    memo = bytearray(512)
    rows = bytearray()
    for i in range(RECORDS):
        block = b" " * 10
        if i % 1000 == 0:
            block = b"%10d" % (len(memo) // 512)
            text = b"memo of record %d" % i + b"\x1a\x1a"
            memo += text + b"\0" * (-len(text) % 512)
        rows += (b"*" if i % 7 == 3 else b" ") + b"R%-7d" % i + b"%6d" % i + block
    struct.pack_into("<I", memo, 0, len(memo) // 512)
    with open(os.path.join(folder, NAME), "wb") as f:
        f.write(head + rows + b"\x1a")
    with open(os.path.join(folder, MEMO), "wb") as f:
        f.write(memo)


def copy(src, dst):
    os.makedirs(dst, exist_ok=True)
    for name in (NAME, MEMO):
        shutil.copyfile(os.path.join(src, name), os.path.join(dst, name))


def start(program, folder):
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.environ.update(TERM="xterm", LANG="C", LC_ALL="C")
        os.execv(program, [program, NAME])
    return pid, fd


def read_until(fd, needle, timeout):
    seen = b""
    end = time.monotonic() + timeout
    while needle not in seen and time.monotonic() < end:
        try:
            import select
            if select.select([fd], [], [], 0.05)[0]:
                seen += os.read(fd, 65536)
        except OSError:
            break
    return needle in seen


def run_to_end(program, folder, keys, first=b"", wait=0.0):
    """The operation run whole, then F10; the seconds it took. `first` is
    pressed `wait` seconds before it and not timed."""
    pid, fd = start(program, folder)
    assert read_until(fd, b"big.dbf", 10), "the program did not start"
    if first:
        os.write(fd, first)
        read_until(fd, b"\0", wait)
    began = time.monotonic()
    os.write(fd, keys + F10)
    end = time.monotonic() + 60
    while time.monotonic() < end:
        read_until(fd, b"\0", 0.05)
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
    else:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        raise SystemExit("FAIL: the program did not finish the operation and quit")
    os.close(fd)
    return time.monotonic() - began


def reopen(program, folder):
    """A batch open of the table (header repair mode): the journal's work and
    what the program said of it on standard error."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.chdir(folder)
        null = os.open(os.devnull, os.O_RDWR)
        os.dup2(null, 0)
        os.dup2(null, 1)
        os.dup2(write_end, 2)
        os.execv(program, [program, "/a+", NAME])
    os.close(write_end)
    said = b""
    while chunk := os.read(read_end, 4096):
        said += chunk
    os.close(read_end)
    os.waitpid(pid, 0)
    return said.decode("latin1")


def state(folder):
    """The descriptors, the record area and the memo file, as bytes."""
    with open(os.path.join(folder, NAME), "rb") as f:
        data = f.read()
    count, header_size, record_size = struct.unpack_from("<IHH", data, 4)
    with open(os.path.join(folder, MEMO), "rb") as f:
        memo = f.read()
    return data[32:header_size + count * record_size], memo


def dbfread_rows(folder):
    table = dbfread.DBF(os.path.join(folder, NAME), encoding="latin1", load=True)
    return [list(r.values()) for r in table.records], len(table.deleted)


def kill_during_undo(program, work, original, before, total, rng):
    """The pack and the insert made, then Ctrl+Z pressed and the program
    killed at a random moment of the undo; the open that follows must leave
    the table as the operation made it or as it was before it."""
    trials = failures = 0
    operations = [("pack", ALT_F8 + ENTER), ("insert", CTRL_F6)]
    for n, (op, keys) in enumerate(operations):
        made_folder = os.path.join(work, "made-" + op)
        copy(original, made_folder)
        made_seconds = run_to_end(program, made_folder, keys)
        made = state(made_folder)
        undone_folder = os.path.join(work, "undone-" + op)
        copy(original, undone_folder)
        settle = 2 * made_seconds + 0.5
        seconds = run_to_end(program, undone_folder, CTRL_Z, keys, settle)
        if state(undone_folder) != before:
            print("FAIL: undo of %s: the table is not the one before it" % op)
            failures += 1
        share = total // len(operations) + (n < total % len(operations))
        outcomes = {"before": 0, "made": 0}
        for t in range(share):
            folder = os.path.join(work, "undo-trial")
            shutil.rmtree(folder, ignore_errors=True)
            copy(original, folder)
            pid, fd = start(program, folder)
            if not read_until(fd, b"big.dbf", 10):
                raise SystemExit("FAIL: the program did not start")
            os.write(fd, keys)
            read_until(fd, b"\0", settle)
            os.write(fd, CTRL_Z)
            time.sleep(rng.uniform(0, seconds))
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            os.close(fd)
            reopen(program, folder)
            seen = state(folder)
            trials += 1
            leftovers = sorted(set(os.listdir(folder)) - {NAME, MEMO, "big.bak", "big.~bt"})
            if seen == before and not leftovers:
                outcomes["before"] += 1
            elif seen == made and not leftovers:
                outcomes["made"] += 1
            else:
                failures += 1
                print("FAIL: undo of %s trial %d: neither before nor made; left %s" % (op, t, leftovers))
        print("undo of %s: %d trials over %.2f s, %d before, %d as made"
              % (op, share, seconds, outcomes["before"], outcomes["made"]))
    return trials, failures


def main():
    program = os.path.abspath(sys.argv[1])
    total = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    work = tempfile.mkdtemp()
    try:
        # A copy of the program, so that its side files (recent list,
        # settings) are written beside the copy, not beside the build.
        os.makedirs(os.path.join(work, "bin"))
        program = shutil.copy(program, os.path.join(work, "bin", "kora"))
        original = os.path.join(work, "original")
        os.makedirs(original)
        write_table(original)
        before = state(original)
        rows, deleted = dbfread_rows(original)
        assert len(rows) + deleted == RECORDS, "dbfread does not read the table written"
        trials = failures = 0
        rng = random.Random(1)
        for n, (op, keys) in enumerate(OPERATIONS.items()):
            after_folder = os.path.join(work, "after-" + op)
            copy(original, after_folder)
            seconds = run_to_end(program, after_folder, keys)
            after = state(after_folder)
            rows_after, deleted_after = dbfread_rows(after_folder)
            expected = {"pack": (len(rows), 0), "insert": (len(rows) + 1, deleted),
                        "restructure": (len(rows), deleted)}[op]
            assert (len(rows_after), deleted_after) == expected, (op, len(rows_after), deleted_after)
            assert after != before, op
            share = total // len(OPERATIONS) + (n < total % len(OPERATIONS))
            outcomes = {"before": 0, "after": 0, "mid-way": 0}
            for t in range(share):
                folder = os.path.join(work, "trial")
                shutil.rmtree(folder, ignore_errors=True)
                copy(original, folder)
                pid, fd = start(program, folder)
                if not read_until(fd, b"big.dbf", 10):
                    raise SystemExit("FAIL: the program did not start")
                os.write(fd, keys)
                time.sleep(rng.uniform(0, seconds))
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                os.close(fd)
                # The undo log is there all session long: it says nothing of the moment.
                left_mid_way = sorted(name for name in set(os.listdir(folder)) - {NAME, MEMO, "big.bak", "big.~bt"}
                                      if not name.startswith(NAME + "-undo"))
                outcomes["mid-way"] += bool(left_mid_way)
                journal = os.path.join(folder, NAME + "-journal")
                # A journal written whole is acted on, and the program says so.
                journaled = os.path.exists(journal) and os.path.getsize(journal) > 0
                said = reopen(program, folder)
                if journaled != ("interrupted" in said):
                    failures += 1
                    print("FAIL: %s trial %d: journal %s, the program said %r" % (op, t, journaled, said))
                seen = state(folder)
                trials += 1
                leftovers = sorted(set(os.listdir(folder)) - {NAME, MEMO, "big.bak", "big.~bt"})
                if seen == before and not leftovers:
                    outcomes["before"] += 1
                elif seen == after and not leftovers:
                    outcomes["after"] += 1
                else:
                    failures += 1
                    print("FAIL: %s trial %d: neither before nor after; left %s" % (op, t, leftovers))
            print("%s: %d trials over %.2f s, %d before, %d after, %d killed with a journal or new files left"
                  % (op, share, seconds, outcomes["before"], outcomes["after"], outcomes["mid-way"]))
        undo_trials, undo_failures = kill_during_undo(program, work, original, before, total // 2, rng)
        trials += undo_trials
        failures += undo_failures
        print("kill test: %d trials, %d failures" % (trials, failures))
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
