#!/usr/bin/env python3
"""The health check against damage made on purpose.

Usage: check_damage.py KORA FIXTURES WORKDIR

Copies real tables and a generated one into WORKDIR, damages each copy in
one way, and checks that `kora /check /json` finds exactly that damage
(kind, field, record numbers) and nothing else, with exit status 1; that
the fixtures as they are give exactly the damage they genuinely carry
(none for most) and that the text form exits as the JSON says. Prints one
line per difference and "OK" when there is none.
"""
import json
import os
import shutil
import struct
import subprocess
import sys

KORA, FIXTURES, WORK = sys.argv[1:4]

# Damage that real writers left in the shared fixtures.
GENUINE = {
    'dbase-rs/contain_none_float.dbf': {('number', 'value_f_non', (1,)), ('number', 'value_n_non', (1,))},
    'dbase-rs/stations_with_deleted.dbf': {('record_size', None, ())},
    'dbfread/examples/files/invalid_value.dbf': {('date', 'BIRTHDATE', (1,))},
    'dbfread/tests/cases/no_memofile.dbf': {('memo_file', None, ())},
    'infused-dbf/dbase_83_missing_memo.dbf': {('memo_file', None, ())},
    'infused-dbf/dbase_8c.dbf': {('memo_file', None, ())},
    'infused-dbf/mazovia.dbf': {('deletion_flag', None, (1, 2))},
    'mapshaper/dbf/duplicate_fields.dbf': {('number', f, (1,)) for f in ('rate', 'error', 'rate_women', 'error_wome')},
    'php-xbase/foxpro/1.dbf': {('memo_file', None, ())},
    'php-xbase/foxpro/vfp.dbf': {('memo_in_header', 'GENERAL', (1, 2, 3))},
    'php-xbase/socios.dbf': {('number', 'SALARIO', (2,))},
    'pyshp/corrupt_too_long.dbf': {('end_mark', None, ())},
}

failures = []


def run(*args):
    done = subprocess.run([KORA, '/check', *args], capture_output=True)
    return done.returncode, done.stdout.decode('utf-8', 'replace')


def found(path):
    """The problems of one table as (kind, field, records), and both exit statuses."""
    status, out = run('/json', path)
    text_status, _ = run(path)
    try:
        table = json.loads(out)['tables'][0]
    except (ValueError, KeyError, IndexError):
        return None, status, text_status
    problems = {(p['kind'], p['field'], tuple(p['records'])) for p in table.get('problems', [])}
    return problems, status, text_status


def expect(name, path, problems, status):
    got, json_status, text_status = found(path)
    if got != problems or json_status != status or text_status != status:
        failures.append(f'{name}: expected {sorted(problems, key=str)} exit {status}, '
                        f'got {sorted(got or [], key=str)} exit {json_status}/{text_status}')


# ---- the tables the damage is made on -------------------------------------------

class Dbf:
    """A copy of a table (and its memo file) with its layout read from the header."""

    def __init__(self, path, memo=None):
        self.path, self.memo = path, memo
        self.bytes = bytearray(open(path, 'rb').read())
        self.count, self.header, self.size = struct.unpack('<IHH', self.bytes[4:12])
        self.fields, offset, at = {}, 1, 32
        while self.bytes[at] != 0x0D and at + 32 <= self.header:
            name = self.bytes[at:at + 11].split(b'\0')[0].decode('latin-1')
            self.fields[name] = (offset, self.bytes[at + 16])
            offset += self.bytes[at + 16]
            at += 32

    def at(self, record, field):  # record counted from 1
        offset, length = self.fields[field]
        start = self.header + (record - 1) * self.size + offset
        return start, start + length

    def put(self, record, field, value):
        start, end = self.at(record, field)
        assert len(value) == end - start, (field, value)
        self.bytes[start:end] = value

    def get(self, record, field):
        start, end = self.at(record, field)
        return bytes(self.bytes[start:end])

    def save(self):
        open(self.path, 'wb').write(self.bytes)


def copy(relative, memo_ext=None, name=None):
    base = name or os.path.basename(relative)
    path = os.path.join(WORK, base)
    shutil.copy(os.path.join(FIXTURES, relative), path)
    memo = None
    if memo_ext:
        source = os.path.join(FIXTURES, os.path.splitext(relative)[0] + '.' + memo_ext)
        memo = os.path.splitext(path)[0] + '.' + memo_ext
        shutil.copy(source, memo)
    return Dbf(path, memo)


def generated(name):
    """A dBase III table of 20 records: ID N 6, AMOUNT N 9.2, BORN D 8, ACTIVE L 1, NAME C 16."""
    fields = [('ID', 'N', 6, 0), ('AMOUNT', 'N', 9, 2), ('BORN', 'D', 8, 0), ('ACTIVE', 'L', 1, 0), ('NAME', 'C', 16, 0)]
    size = 1 + sum(f[2] for f in fields)
    header = 32 + 32 * len(fields) + 1
    out = bytearray(struct.pack('<B3BIHH20x', 3, 124, 1, 1, 20, header, size))
    for fname, ftype, length, decimals in fields:
        out += fname.encode().ljust(11, b'\0') + ftype.encode() + bytes(4) + bytes([length, decimals]) + bytes(14)
    out += b'\r'
    for n in range(1, 21):
        out += b'*' if n % 7 == 0 else b' '
        out += b'%6d%9.2f%04d%02d%02d%c%-16s' % (n, n * 12.5 - 40, 1950 + n, n % 12 + 1, n % 28 + 1,
                                                 b'TFYN? '[n % 6], b'name %d' % n)
    out += b'\x1a'
    path = os.path.join(WORK, name)
    open(path, 'wb').write(out)
    return Dbf(path)


def memo_pointers(table, field, binary):
    """Record (from 1) and block number of every non-empty pointer of the field."""
    raw = [(r, table.get(r, field)) for r in range(1, table.count + 1)]
    blocks = [(r, struct.unpack('<i', b)[0] if binary else int(b.strip() or b'0')) for r, b in raw]
    return [(r, b) for r, b in blocks if b]


def patch_memo(table, offset, value):
    with open(table.memo, 'r+b') as memo:
        memo.seek(offset)
        memo.write(value)


# ---- one damage per case ----------------------------------------------------------

def case_vfp_datetime():
    t = copy('infused-dbf/foxprodb/calls.dbf', 'FPT', 'vfp_datetime.dbf')
    day = t.get(3, 'CALL_DATE')[:4]
    t.put(3, 'CALL_DATE', day + struct.pack('<i', 90_000_000))  # past the day's last millisecond
    return t, {('date', 'CALL_DATE', (3,))}


def case_fpt_pointers():
    t = copy('infused-dbf/foxprodb/calls.dbf', 'FPT', 'fpt_pointers.dbf')
    (r1, _), (r2, _) = memo_pointers(t, 'NOTES', True)[:2]
    t.put(r1, 'NOTES', struct.pack('<i', 100_000))
    t.put(r2, 'NOTES', struct.pack('<i', 3))  # block size 64: inside the 512-byte header
    return t, {('memo_past_end', 'NOTES', (r1,)), ('memo_in_header', 'NOTES', (r2,))}


def case_fpt_length():
    t = copy('infused-dbf/foxprodb/calls.dbf', 'FPT', 'fpt_length.dbf')
    record, block = memo_pointers(t, 'NOTES', True)[0]
    patch_memo(t, block * 64 + 4, struct.pack('>I', 0x7FFFFFF0))  # calls.FPT has blocks of 64 bytes
    shared = {r for r, b in memo_pointers(t, 'NOTES', True) if b == block}
    return t, {('memo_length', 'NOTES', tuple(sorted(shared)))}


def case_dbase3_values():
    t = copy('infused-dbf/dbase_83.dbf', 'dbt', 'dbase3_values.dbf')
    t.put(7, 'PRICE', b'      12a.50 ')
    t.put(2, 'TAXABLE', b'X')
    t.bytes[t.header + 8 * t.size] = ord('#')  # record 9's deletion flag
    return t, {('number', 'PRICE', (7,)), ('logical', 'TAXABLE', (2,)), ('deletion_flag', None, (9,))}


def case_dbt_pointers():
    t = copy('infused-dbf/dbase_83.dbf', 'dbt', 'dbt_pointers.dbf')
    pointers = memo_pointers(t, 'DESC', False)
    last = max(b for _, b in pointers)
    record = next(r for r, b in pointers if b != last)
    t.put(record, 'DESC', b'    999999')
    # The text at the last block loses its end byte: it runs to the end of the file.
    with open(t.memo, 'r+b') as memo:
        memo.truncate(last * 512 + 4)
    cut = tuple(r for r, b in pointers if b == last)
    return t, {('memo_past_end', 'DESC', (record,)), ('memo_length', 'DESC', cut)}


def case_dbt4_length():
    t = copy('infused-dbf/dbase_8b.dbf', 'dbt', 'dbt4_length.dbf')
    record, block = memo_pointers(t, 'MEMO', False)[0]
    block_size = struct.unpack('<H', open(t.memo, 'rb').read(22)[20:22])[0]
    patch_memo(t, block * block_size + 4, struct.pack('<I', 3))  # shorter than its own header
    return t, {('memo_length', 'MEMO', (record,))}


def case_null_flag():
    t = copy('infused-dbf/dbase_31.dbf', name='null_flag.dbf')
    # Seven nullable fields use bits 0-6; bit 7 belongs to none.
    t.put(4, '_NullFlags', bytes([t.get(4, '_NullFlags')[0] | 0x80]))
    return t, {('null_flag', '_NullFlags', (4,))}


def case_dbase7_timestamp():
    t = copy('php-xbase/dBase/dBaseVII_ts.dbf', name='timestamp.dbf')
    at = t.header + 1 * t.size + 1  # record 2's TS field
    t.bytes[at:at + 8] = b'\xff' * 8
    return t, {('date', 'TS', (2,))}


def case_generated_date():
    t = generated('gen_date.dbf')
    t.put(4, 'BORN', b'20230230')
    t.put(5, 'AMOUNT', b'  -   .  ')
    return t, {('date', 'BORN', (4,)), ('number', 'AMOUNT', (5,))}


def header_case(name, offset, value, kind):
    def make():
        t = generated(name)
        t.bytes[offset:offset + len(value)] = value
        return t, {(kind, None, ())}
    return make


def case_end_mark():
    t = generated('gen_end.dbf')
    t.bytes[-1:] = b'12345'
    return t, {('end_mark', None, ())}


CASES = [
    case_vfp_datetime, case_fpt_pointers, case_fpt_length, case_dbase3_values, case_dbt_pointers,
    case_dbt4_length, case_null_flag, case_dbase7_timestamp, case_generated_date, case_end_mark,
    header_case('gen_count.dbf', 4, struct.pack('<I', 25), 'record_count'),
    header_case('gen_header.dbf', 8, struct.pack('<H', 32 + 32 * 5 + 1 + 32), 'header_size'),
    header_case('gen_size.dbf', 10, struct.pack('<H', 42), 'record_size'),
    header_case('gen_version.dbf', 0, b'\x07', 'version'),
]


def main():
    os.makedirs(WORK, exist_ok=True)
    expect('generated', generated('sound.dbf').path, set(), 0)
    # A field list ended by the header's size instead of 0x0D is sound.
    t = generated('no_terminator.dbf')
    t.bytes[32 + 32 * 5] = 0
    t.save()
    expect('no terminator', t.path, set(), 0)
    for make in CASES:
        table, problems = make()
        table.save()
        expect(make.__name__ if hasattr(make, '__name__') else table.path, table.path, problems, 1)
    for root, _, files in os.walk(FIXTURES):
        for name in sorted(files):
            if os.path.splitext(name)[1].lower() not in ('.dbf', '.dbc'):
                continue
            relative = os.path.relpath(os.path.join(root, name), FIXTURES)
            problems = GENUINE.get(relative, set())
            expect(relative, os.path.join(root, name), problems, 1 if problems else 0)
    # Files that are no tables, and the worst of several statuses.
    text = os.path.join(WORK, 'notes.dbf')
    open(text, 'w').write('these are notes, not a table\n')
    for args, status in [([text], 2), ([os.path.join(WORK, 'absent.dbf')], 2), ([], 2), (['/zz', text], 2),
                         ([os.path.join(WORK, 'sound.dbf'), os.path.join(WORK, 'gen_end.dbf')], 1),
                         ([os.path.join(WORK, 'gen_end.dbf'), text], 2)]:
        got, _ = run(*args)
        if got != status:
            failures.append(f'kora /check {args}: exit {got}, expected {status}')
    print('\n'.join(failures) if failures else 'OK')


main()
