#!/usr/bin/python3
# Another program's locks on a table, taken with classic POSIX fcntl locks
# as xBase programs on Unix take them.
#   hold PATH START:LENGTH...   takes each lock, prints "held", keeps them
#                               until its standard input closes
#   try PATH START:LENGTH...    prints 1 for each lock it could take, else 0
import fcntl
import os
import sys


def ranges(args):
    for arg in args:
        start, length = arg.split(":")
        yield int(start), int(length)


def main():
    mode, path = sys.argv[1], sys.argv[2]
    fd = os.open(path, os.O_RDWR)
    if mode == "hold":
        for start, length in ranges(sys.argv[3:]):
            fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, length, start, os.SEEK_SET)
        print("held", flush=True)
        sys.stdin.read()
        return
    results = []
    for start, length in ranges(sys.argv[3:]):
        try:
            fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, length, start, os.SEEK_SET)
            fcntl.lockf(fd, fcntl.LOCK_UN, length, start, os.SEEK_SET)
            results.append("1")
        except OSError:
            results.append("0")
    print("".join(results), flush=True)


main()
