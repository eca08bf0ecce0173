#!/usr/bin/env bash
# Rebuilds the seed corpus of fuzz_open_table (fuzz/corpus/open_table/) from
# small tables of the shared fixtures folder. Each seed is:
#   3 bytes little-endian table length, 1 option byte, the table, the memo file.
# Large tables are cut after a few records and large memo files after 16 KiB.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
fixtures="${KORA_FIXTURES:-$repo/../shared/fixtures}"
out="$repo/fuzz/corpus/open_table"
mkdir -p "$out"
rm -f "$out"/seed-*

/usr/bin/python3 - "$fixtures" "$out" <<'PY'
import os, sys
fixtures, out = sys.argv[1], sys.argv[2]

MAX_TABLE = 12 * 1024      # whole tables up to this size are taken as they are
MAX_RECORDS = 8            # larger tables keep their header and this many records
MAX_MEMO = 16 * 1024

def cut_table(data):
    if len(data) <= MAX_TABLE or len(data) < 12:
        return data
    header = int.from_bytes(data[8:10], "little")
    reclen = int.from_bytes(data[10:12], "little")
    return data[: min(len(data), header + reclen * MAX_RECORDS + 1)]

seeds = []
for root, _, files in sorted(os.walk(fixtures)):
    by_lower = {f.lower(): f for f in files}
    for name in sorted(files):
        if not name.lower().endswith((".dbf", ".dbc")):
            continue
        base = name[: name.rfind(".")].lower()
        memo = b""
        for ext in (".dbt", ".fpt", ".dct"):
            if base + ext in by_lower:
                with open(os.path.join(root, by_lower[base + ext]), "rb") as f:
                    memo = f.read(MAX_MEMO)
                break
        with open(os.path.join(root, name), "rb") as f:
            table = f.read()
        if len(table) > 64 * 1024 and not memo:
            continue  # large tables without memo add nothing the small ones lack
        rel = os.path.relpath(os.path.join(root, name), fixtures)
        seeds.append((rel, cut_table(table), memo))

for index, (rel, table, memo) in enumerate(seeds):
    # Date format 2 and no trimming for most seeds; a few other option sets.
    options = [0x02, 0x02, 0x02, 0x05, 0x13, 0x2B, 0x40, 0x03][index % 8]
    data = len(table).to_bytes(3, "little") + bytes([options]) + table + memo
    safe = rel.replace("/", "_").replace(" ", "_")
    with open(os.path.join(out, "seed-" + safe), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {out}")
PY
du -sh "$out"
