#include "support/independent_readers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace kora::test {

std::string dbfread_dump(const std::string& path, bool memos, const std::string& encoding) {
  static const char* script =
      "import sys, dbfread\n"
      "t = dbfread.DBF(sys.argv[1], load=True, encoding=sys.argv[2], ignore_missing_memofile=True)\n"
      "memo = [f.name for f in t.fields if f.type in 'MGB']\n"
      "for r in t.records:\n"
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
