# Visual FoxPro's null flags, which dbfread does not read: the names of the
# fields of record r (read with dbfread) whose null bit is set.
def nulls(t, r):
    fb, n, out = r.get('_NullFlags'), 0, set()
    if t.header.dbversion not in (0x30, 0x31, 0x32) or not isinstance(fb, bytes): return out
    for f in t.fields:
        if f.reserved1 & 1: continue
        if f.type in 'VQ': n += 1
        if f.reserved1 & 2:
            if n < 8 * len(fb) and (fb[n // 8] >> (n % 8)) & 1: out.add(f.name)
            n += 1
    return out
