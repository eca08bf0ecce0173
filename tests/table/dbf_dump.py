#!/usr/bin/python3
"""Dumps a DBF table as read by the independent reader dbfread, for the
fixture tests. One item per line, tokens separated by single spaces, byte
strings in hex ("-" for an empty one):

  FAIL <message>                      dbfread could not open the table
  H <version> <header count> <derived count> <header size> <record size>
  F <index> <name hex> <type letter> <length> <decimals>
  R <record> <deletion flag byte, hex>
  V <field> <raw bytes hex> <kind> [<value>]
  U <field> <utf-8 hex>               (with --codepage: text decoded from it)

The records are taken physically, all of them, deleted or not, the way the
table file holds them: from the header size on, each 1 + the sum of the field
lengths long, as many whole records as the file holds.

Value kinds: S string (hex of the bytes, right-trimmed of NUL and space by
dbfread), N number (repr), Z blank (no value), D date YYYY-MM-DD, T date-time
YYYY-MM-DD-hh-mm-ss (seconds truncated), L logical T/F/?, M memo (hex of the
text), O memo absent, X not interpreted (compare raw bytes only), E dbfread
refused the value (message follows), NULL a null value.

dbfread does not know Visual FoxPro's null flags, nor where a varchar or
varbinary value ends; the dump applies the format's published description
itself: the _NullFlags system field holds, in field order from its lowest
bit, a length bit for each V or Q field and then a null bit for each
nullable field (descriptor byte 18, bit 0x02), system fields (0x01) taking
none. A set null bit makes the value null; a set length bit gives the
value's length in the field's last byte. W (blob) fields point into the memo
file as M fields do.

Usage: dbf_dump.py TABLE [--codepage NAME]
       dbf_dump.py --yaml FILE    one record's values from a YAML list:
                                  Y <index> S <hex> | N <number> | L T/F | Z
"""
import codecs
import datetime
import decimal
import os
import struct
import sys

import dbfread
from dbfread.field_parser import FieldParser
from dbfread.ifiles import ifind
from dbfread.memo import FakeMemoFile, PictureMemo, VFPMemoFile


class Parser(FieldParser):
    """dbfread's parser, taking the Visual FoxPro types it does not know as
    raw bytes and returning memo texts as bytes."""

    def decode_text(self, text):
        return bytes(text)

    def parseQ(self, field, data):
        return data

    def parseW(self, field, data):
        return self.parseM(field, data)

    def parseP(self, field, data):
        return data


def open_memo(table, path):
    """The memo file as dbfread opens it; dbfread does not look for the .dct
    beside a database container (.dbc), which has the FoxPro layout."""
    if table.memofilename is None and path.lower().endswith(".dbc") and \
            any(f.type in "MGPB" for f in table.fields):
        dct = ifind(path, ext=".dct")
        if dct:
            return VFPMemoFile(dct)
    return table._open_memofile() if table.memofilename else FakeMemoFile(None)


def hexs(data):
    return data.hex() if data else "-"


def number(value):
    if isinstance(value, decimal.Decimal):
        return repr(float(value))
    return repr(float(value)) if isinstance(value, float) else str(value)


def memo_value(field, value, version):
    if value is None:
        return "O"
    if isinstance(value, PictureMemo):
        # FoxPro block type 0: a picture, not text.
        return "O"
    if version in (0x8B, 0x04) and field.type in "MGB":
        # dBase IV memo: dbfread reads the block's total length (which counts
        # the 8-byte block header) from after that header and cuts at 0x1F.
        return "M4 " + hexs(bytes(value))
    return "M " + hexs(bytes(value))


def value_token(field, value, version):
    t = field.type
    if t in "CVQ":
        return "S " + hexs(bytes(value))
    if t in "NFOIY+" or (t == "B" and version in (0x30, 0x31, 0x32)):
        return "Z" if value is None else "N " + number(value)
    if t == "D":
        return "Z" if value is None else "D %04d-%02d-%02d" % (value.year, value.month, value.day)
    if t in "T@":
        if value is None:
            return "Z"
        return "T %04d-%02d-%02d-%02d-%02d-%02d" % (
            value.year, value.month, value.day, value.hour, value.minute, value.second)
    if t == "L":
        return "L " + {True: "T", False: "F", None: "?"}[value]
    if t in "MGBW":
        return memo_value(field, value, version)
    return "X"


def field_length(field):
    return field.length


def null_flag_bits(table):
    """Per field, its (length bit, null bit) in the null flags, None where it
    has none; and the null flags field's index (None when there is none)."""
    fields = table.fields
    flags_field = None
    if table.header.dbversion in (0x30, 0x31, 0x32):
        flags_field = next((i for i, f in enumerate(fields)
                            if f.type == "0" and f.name.lower() == "_nullflags"), None)
    bits = [(None, None)] * len(fields)
    if flags_field is None:
        return bits, None
    count = fields[flags_field].length * 8
    nxt = 0
    for i, f in enumerate(fields):
        flags = f.reserved1 & 0xFF
        if flags & 0x01:
            continue
        length_bit = null_bit = None
        if f.type in "VQ" and nxt < count:
            length_bit, nxt = nxt, nxt + 1
        if flags & 0x02 and nxt < count:
            null_bit, nxt = nxt, nxt + 1
        bits[i] = (length_bit, null_bit)
    return bits, flags_field


def bit_set(flag_bytes, bit):
    return bit is not None and (flag_bytes[bit // 8] >> (bit % 8)) & 1


def dump_yaml(path):
    import yaml
    with open(path, "rb") as infile:
        items = yaml.safe_load(infile)
    for i, item in enumerate(items):
        if item is None:
            print("Y %d Z" % i)
        elif isinstance(item, bool):
            print("Y %d L %s" % (i, "T" if item else "F"))
        elif isinstance(item, (int, float)):
            print("Y %d N %r" % (i, float(item)))
        else:
            print("Y %d S %s" % (i, hexs(str(item).encode("utf-8"))))


def main():
    if sys.argv[1] == "--yaml":
        dump_yaml(sys.argv[2])
        return
    path = sys.argv[1]
    codepage = sys.argv[3] if len(sys.argv) > 3 and sys.argv[2] == "--codepage" else None
    out = []
    try:
        table = dbfread.DBF(path, encoding="latin1", ignore_missing_memofile=True,
                            parserclass=Parser)
    except Exception as err:  # noqa: BLE001 - any refusal is reported
        print("FAIL " + repr(err).replace("\n", " "))
        return
    header = table.header
    fields = table.fields
    record_size = 1 + sum(field_length(f) for f in fields)
    size = os.path.getsize(path)
    derived = max(0, (size - header.headerlen) // record_size) if record_size else 0
    out.append("H %d %d %d %d %d" % (header.dbversion, header.numrecords, derived,
                                     header.headerlen, record_size))
    for i, f in enumerate(fields):
        name = f.name.encode("latin1")
        out.append("F %d %s %s %d %d" % (i, hexs(name), f.type, f.length, f.decimal_count))
    decoder = codecs.lookup(codepage) if codepage else None
    bits, flags_field = null_flag_bits(table)
    with open(path, "rb") as infile, open_memo(table, path) as memofile:
        parser = Parser(table, memofile)
        infile.seek(header.headerlen)
        for r in range(derived):
            record = infile.read(record_size)
            out.append("R %d %02x" % (r, record[0]))
            starts = [1]
            for f in fields:
                starts.append(starts[-1] + f.length)
            flag_bytes = b""
            if flags_field is not None:
                flag_bytes = record[starts[flags_field]:starts[flags_field + 1]]
            for i, f in enumerate(fields):
                raw = record[starts[i]:starts[i + 1]]
                length_bit, null_bit = bits[i]
                value = raw
                if bit_set(flag_bytes, length_bit):
                    value = raw[:min(raw[-1], len(raw) - 1)]
                if bit_set(flag_bytes, null_bit):
                    out.append("V %d %s NULL" % (i, hexs(raw)))
                    continue
                try:
                    token = value_token(f, parser.parse(f, value), header.dbversion)
                except Exception as err:  # noqa: BLE001
                    token = "E " + repr(err).replace(" ", "_").replace("\n", "_")
                out.append("V %d %s %s" % (i, hexs(raw), token))
                if decoder and f.type == "C":
                    text = decoder.decode(raw.rstrip(b"\0 "))[0]
                    out.append("U %d %s" % (i, hexs(text.encode("utf-8"))))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
