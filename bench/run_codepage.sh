#!/bin/sh
# The same 1,000,000-record table with its names in Windows-1251 and in
# UTF-8 (its .cpg says so), side by side: opening and scrolling (browse_bench
# on both, the ratio column is UTF-8 over 1251), then a filter walk with the
# condition given in UTF-8 on the command line; medians of three runs, page
# cache warm, and their ratio. The tables are written from the shared
# generator under ${TMPDIR:-/tmp} and removed afterwards.
# Usage: bench/run_codepage.sh [records]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
records=${1:-1000000}
build=${KORA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DKORA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 kora browse_bench >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/kora-codepage-XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$root/../shared/bench/gen_dbf.py" "$records" "$work/base.dbf" >/dev/null
# NAME (C 30 at offset 11 of each record) gets Cyrillic names: one table in
# Windows-1251 marked 0xC9, one in UTF-8 beside a .cpg.
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
names = ["Иван Петров", "Анна Сидорова", "Пётр Иванов", "Ольга Смирнова", "Сергей Кузнецов"]
data = bytearray(open(work + "/base.dbf", "rb").read())
header = int.from_bytes(data[8:10], "little")
size = int.from_bytes(data[10:12], "little")
count = int.from_bytes(data[4:8], "little")
for codec, out, mark in (("cp1251", "cp1251.dbf", 0xC9), ("utf-8", "utf8.dbf", 0)):
    table = bytearray(data)
    table[29] = mark
    encoded = [n.encode(codec).ljust(30) for n in names]
    for r in range(count):
        at = header + r * size + 11
        table[at:at + 30] = encoded[r % len(encoded)]
    open(work + "/" + out, "wb").write(table)
open(work + "/utf8.cpg", "w").write("UTF-8")
PY
median() { sort -n | sed -n 2p; }
walk() {  # table
  for run in 1 2 3; do
    start=$(date +%s.%N)
    "$build/kora" "/f:NAME='Ольга Смирнова'" /x:csv "$work/$1" - >/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc
  done | median
}
cat "$work"/*.dbf >/dev/null
"$build/bench/browse_bench" --dir "$work" --rounds 3 --tables "$work/cp1251.dbf" "$work/utf8.dbf" 2>&1 | grep -v "^round"
a=$(walk cp1251.dbf)
b=$(walk utf8.dbf)
printf "filter walk, %s records: Windows-1251 %.3f s, UTF-8 %.3f s, ratio %.2f\n" "$records" "$a" "$b" "$(echo "$b / $a" | bc -l)"
