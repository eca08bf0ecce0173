#include "support/independent_readers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace kora::test {

std::string dbfread_dump(const std::string& path, bool memos, const std::string& encoding) {
  // dbfread knows neither Visual FoxPro's varbinary and blob types nor its
  // null flags and varchar lengths: the script adds them as the format's
  // published description gives them (see tests/table/dbf_dump.py).
  static const char* script =
      "import sys, dbfread\n"
      "from dbfread.field_parser import FieldParser\n"
      "class Parser(FieldParser):\n"
      "    def parseQ(self, field, data):\n"
      "        return data\n"
      "    def parseW(self, field, data):\n"
      "        return self.parseM(field, data)\n"
      "def vfp_bits(t):\n"
      "    flags = [f for f in t.fields if f.type == '0' and f.name.lower() == '_nullflags']\n"
      "    if not vfp or not flags:\n"
      "        return None, {}\n"
      "    bits, n = {}, 0\n"
      "    for f in t.fields:\n"
      "        if f.reserved1 & 1:\n"
      "            continue\n"
      "        if f.type in 'VQ':\n"
      "            bits[(f.name, 'length')] = n; n += 1\n"
      "        if f.reserved1 & 2:\n"
      "            bits[(f.name, 'null')] = n; n += 1\n"
      "    return flags[0].name, bits\n"
      "def apply_vfp(t, r, raw, flags_name, bits):\n"
      "    fb = raw[flags_name]\n"
      "    on = lambda b: b is not None and b < 8 * len(fb) and (fb[b // 8] >> (b % 8)) & 1\n"
      "    for f in t.fields:\n"
      "        if on(bits.get((f.name, 'length'))):\n"
      "            v = raw[f.name][:min(raw[f.name][-1], f.length - 1)]\n"
      "            r[f.name] = v if f.type == 'Q' else v.decode(t.encoding)\n"
      "        if on(bits.get((f.name, 'null'))):\n"
      "            r[f.name] = None\n"
      "args = dict(encoding=sys.argv[2], ignore_missing_memofile=True, parserclass=Parser)\n"
      "t = dbfread.DBF(sys.argv[1], load=True, **args)\n"
      "vfp = t.header.dbversion in (0x30, 0x31, 0x32)\n"
      "flags_name, bits = vfp_bits(t)\n"
      "raws = dbfread.DBF(sys.argv[1], load=True, raw=True, **args).records if flags_name else []\n"
      "memo = [f.name for f in t.fields if f.type in 'MGW' or (f.type == 'B' and not vfp)]\n"
      "for k, r in enumerate(t.records):\n"
      "    if flags_name:\n"
      "        apply_vfp(t, r, raws[k], flags_name, bits)\n"
      "    if len(sys.argv) > 3:\n"
      "        r = {k: v for k, v in r.items() if k not in memo}\n"
      "    print(repr(list(r.values())))\n"
      "print('deleted %d' % len(t.deleted))\n";
  std::string out;
  EXPECT_EQ(run_command("/usr/bin/python3 -c 'import dbfread' 2>&1", out), 0)
      << "the python3-dbfread package is missing (apt-get install python3-dbfread): " << out;
  TempDir dir;
  { std::ofstream(dir.file("dump.py")) << script; }
  int status = run_command("/usr/bin/python3 '" + dir.file("dump.py") + "' '" + path + "' " + encoding + (memos ? "" : " nomemo") + " 2>&1", out);
  EXPECT_EQ(status, 0) << out;
  return out;
}

std::string gdal_csv(const std::string& path, const std::string& select) {
  std::string out;
  EXPECT_EQ(run_command("ogr2ogr --version 2>&1", out), 0)
      << "GDAL's ogr2ogr is missing (apt-get install gdal-bin): " << out;
  std::string command = "ogr2ogr -f CSV /vsistdout/ '" + path + "'";
  if (!select.empty()) command += " -select '" + select + "'";
  EXPECT_EQ(run_command(command + " 2>/dev/null", out), 0);
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace kora::test
