#!/bin/sh
# End-to-end run of kora in a real terminal (tmux) on a generated table of
# 5000 records (CITY with blanks and a value with a quote, AMOUNT with blank
# and negative values, about one in ten deleted); what the screen shows must
# be what Python's collections.Counter and decimal find in the same file:
#  1. Alt+F5 on CITY: the records, blanks and distinct values;
#  2. Enter: the frequency list, the most frequent value and its count first;
#  3. Enter on it: the table filtered, the counter showing that count;
#  4. Alt+F5 on AMOUNT over the filtered records: the exact sum.
# Usage: kora_stats_tmux_test.sh path/to/kora
set -u
usage="usage: kora_stats_tmux_test.sh path/to/kora"
. "$(dirname "$0")/tmux_lib.sh"

gen=$(mktemp -d)
/usr/bin/python3 - "$gen/t.dbf" <<'PY'
import random, struct, sys
rnd = random.Random(23)
cities = ['Rome'] * 9 + ['Oslo'] * 5 + ["O'Hare"] * 3 + [''] * 2 + ['Lyon', 'Riga', 'Nice', 'Bern']
fields = [('CITY', 'C', 12, 0), ('AMOUNT', 'N', 10, 2)]
n, size = 5000, 23
head = struct.pack('<BBBBIHH20x', 3, 124, 1, 1, n, 32 + 32 * len(fields) + 1, size)
for name, kind, length, dec in fields:
    head += struct.pack('<11sc4xBB14x', name.encode(), kind.encode(), length, dec)
rows = []
for k in range(n):
    amount = ' ' * 10 if rnd.random() < 0.05 else '%10.2f' % (rnd.randint(-500000, 2000000) / 100)
    rows.append(('*' if rnd.random() < 0.1 else ' ') + '%-12s' % rnd.choice(cities) + amount)
open(sys.argv[1], 'wb').write(head + b'\r' + ''.join(rows).encode() + b'\x1a')
PY

start_on_copy "${1:?$usage}" "$gen/t.dbf" st 100 30 "1 / 5000"
rm -rf "$gen"

# Python's answers over the records shown (deleted ones too).
answer() {
  "$python" - "$work/run/st.dbf" "$1" <<'PY'
import struct, sys
from collections import Counter
from decimal import Decimal
d = open(sys.argv[1], 'rb').read()
n, h, s = struct.unpack('<IHH', d[4:12])
rows = [d[h + k * s: h + (k + 1) * s] for k in range(n)]
cities = Counter(r[1:13].decode().rstrip() for r in rows)
top, top_count = cities.most_common(1)[0]
ask = sys.argv[2]
if ask == 'distinct': print(len(cities))
if ask == 'blank': print(cities[''])
if ask == 'top': print(top)
if ask == 'top_count': print(top_count)
if ask == 'sum':
    print(sum((Decimal(r[13:23].decode()) for r in rows if r[1:13].decode().rstrip() == top and r[13:23].strip()), Decimal(0)))
PY
}

# The number after "/" on the status line.
counter() { screen | head -1 | sed -n 's/.* \/ \([0-9]*\).*/\1/p'; }

# A line of the box or list, its blanks squeezed, must hold the text.
expect_line() {  # step, text
  wait_for "$(echo "$2" | sed 's/ /  */g')" || { fail "$1" "the screen does not show [$2]"; screen | sed -n '1,30p'; return; }
  echo "$1: $2"
}

keys M-F5
wait_for "Statistics of CITY" || fail stats "Alt+F5 did not open the statistics box"
expect_line "records" "Records 5000"
expect_line "blanks" "Blank $(answer blank)"
expect_line "distinct" "Distinct values $(answer distinct)"

keys Enter
wait_for "Frequencies of CITY" || fail list "Enter did not open the frequency list"
top=$(answer top)
expect_line "most frequent" "$top *$(answer top_count) "

keys Enter
wait_gone "Frequencies of CITY" || fail filter "Enter did not close the list"
i=0
until [ "$(counter)" = "$(answer top_count)" ]; do
  i=$((i + 1)); [ $i -gt "$wait_tenths" ] && break
  sleep 0.1
done
[ "$(counter)" = "$(answer top_count)" ] || fail filter "the counter shows [$(counter)], Python counts [$(answer top_count)]"

keys Right M-F5
wait_for "Statistics of AMOUNT" || fail sum "Alt+F5 did not open the box on AMOUNT"
expect_line "sum of $top" "Sum $(answer sum)"
keys Escape
wait_gone "Statistics of AMOUNT" || fail sum "Esc did not close the box"

quit_kora
report
