// JSON Lines and SQLite outputs of the command line read back by
// independent tools: every line parsed by Python's json and every row read
// by the sqlite3 command (with its storage class) hold what python3-dbfread
// reads from the table; a database keeps its other tables, rows are
// appended only to a table of the same columns.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "../support/test_support.h"

namespace kora {
namespace {

using test::TempDir;

using test::program_in;

// Lines "table encoding jsonl|sqlite output"; the encoding is the code page
// kora reads the table in (no mark: 866).
const char* const kCompare = R"(import base64, datetime, decimal, json, subprocess, sys, dbfread
from vfp_nulls import nulls  # tests/support, on PYTHONPATH
def same(t, f, mine, theirs):
    if isinstance(theirs, bytes): return mine == base64.b64encode(theirs).decode() or mine == theirs
    if theirs is None or isinstance(theirs, bool): return mine is theirs
    if isinstance(theirs, datetime.datetime): return mine == theirs.replace(microsecond=0).isoformat()
    if isinstance(theirs, datetime.date): return mine == theirs.isoformat()
    if isinstance(theirs, (int, float, decimal.Decimal)):
        if type(mine) not in (int, float, decimal.Decimal): return False
        # JSON numbers come exact (Decimal); SQLite REALs are doubles.
        if isinstance(theirs, float) or isinstance(mine, float): return float(mine) == float(theirs)
        return decimal.Decimal(mine) == decimal.Decimal(theirs)
    # dbfread reads dBase IV memos 8 bytes too long
    if f.type == 'M' and t.header.dbversion in (0x8b, 0x8c): return isinstance(mine, str) and theirs.startswith(mine)
    return mine == theirs
def sqlite_rows(db, name, fields):
    cols = ', '.join("typeof(\"%s\") AS \"t_%s\", CASE typeof(\"%s\") WHEN 'real' THEN printf('%%!.17g', \"%s\") WHEN 'blob' THEN hex(\"%s\") ELSE \"%s\" END AS \"v_%s\"" % ((f,) * 7) for f in fields)
    out = subprocess.run(['sqlite3', '-json', db, 'SELECT %s FROM "%s"' % (cols, name)], capture_output=True, text=True, check=True).stdout
    rows = []
    for r in json.loads(out or '[]'):
        row = {}
        for f in fields:
            kind, v = r['t_' + f], r['v_' + f]
            row[f] = (None if kind == 'null' else int(v) if kind == 'integer' else float(v) if kind == 'real'
                      else base64.b64encode(bytes.fromhex(v)).decode() if kind == 'blob' else v)
            # a logical is INTEGER 0/1 in SQLite
            row[f] = ('L', row[f]) if kind == 'integer' else row[f]
        rows.append(row)
    return rows
failures = 0
for line in open(sys.argv[1]):
    table, encoding, kind, out = line.split()
    t = dbfread.DBF(table, encoding=encoding, load=True, char_decode_errors='replace')
    fields = [f for f in t.fields if f.type != '0']
    if kind == 'jsonl':
        mine = [json.loads(l, parse_float=decimal.Decimal) for l in open(out, encoding='utf-8')]
    else:
        mine = sqlite_rows(out, table.rsplit('/', 1)[-1].rsplit('.', 1)[0], [f.name for f in fields])
    if len(mine) != len(t.records): print('COUNT', kind, table, len(mine), len(t.records)); failures += 1; continue
    for n, (m, theirs) in enumerate(zip(mine, t.records)):
        null = nulls(t, theirs)
        if list(m) != [f.name for f in fields]: print('KEYS', kind, table, list(m)); failures += 1; break
        bad = []
        for f in fields:
            v, want = m[f.name], None if f.name in null else theirs[f.name]
            if isinstance(v, tuple):  # SQLite INTEGER: a logical's 0/1, else a number
                v = bool(v[1]) if f.type == 'L' else v[1]
            if not same(t, f, v, want): bad.append((f.name, f.type, str(v)[:40], str(want)[:40]))
        if bad: print('DIFF', kind, table, n, bad[:3]); failures += 1; break
print('checked', failures)
sys.exit(1 if failures else 0)
)";

int run(const std::string& command) {
  std::string ignored;
  return test::run_command(command + " 2>&1", ignored);
}

std::string query(const std::string& db, const std::string& sql) {
  std::string out;
  test::run_command("sqlite3 '" + db + "' \"" + sql + "\" 2>&1", out);
  return out;
}

TEST(BatchTypedExport, JsonLinesAndSqliteHoldWhatDbfreadReads) {
  TempDir dir;
  std::string program = program_in(dir, "");
  const char* const kTables[][2] = {
      {"infused-dbf/dbase_83.dbf", "cp866"},  {"infused-dbf/dbase_8b.dbf", "cp866"},
      {"infused-dbf/dbase_31.dbf", "cp1252"}, {"infused-dbf/cp1251.dbf", "cp1251"},
      {"infused-dbf/dbase_30.dbf", "cp1252"}, {"infused-dbf/dbase_f5.dbf", "cp866"},
      {"jdbf/src/test/resources/memo1/texto.dbf", "cp1252"}, {"php-xbase/foxpro/issue115.dbf", "cp1252"},
  };
  std::string pairs;
  for (const auto& [table, encoding] : kTables) {
    for (const char* format : {"jsonl", "sqlite"}) {
      std::string out = dir.file(std::to_string(pairs.size()) + "." + format);
      ASSERT_EQ(run("'" + program + "' /x:" + format + " '" + test::fixture(table) + "' '" + out + "'"), 0) << table;
      pairs += test::fixture(table) + " " + encoding + " " + format + " " + out + "\n";
    }
  }
  std::ofstream(dir.file("pairs")) << pairs;
  std::ofstream(dir.file("compare.py")) << kCompare;
  std::string report;
  EXPECT_EQ(test::run_command("PYTHONPATH=" KORA_SOURCE_DIR "/tests/support /usr/bin/python3 " + dir.file("compare.py") +
                                  " " + dir.file("pairs") + " 2>&1",
                              report), 0)
      << report;
}

TEST(BatchTypedExport, ADatabaseGetsItsTableReplacedOrRowsAppendedToTheSameColumns) {
  TempDir dir;
  std::string replace = program_in(dir, "");
  std::string append = replace + "' '/append";
  TempDir other;
  std::string db = dir.file("out.sqlite"), source = test::fixture("infused-dbf/dbase_31.dbf");
  ASSERT_EQ(run("'" + replace + "' /x:sqlite '" + source + "' '" + db + "'"), 0);
  EXPECT_EQ(query(db, "CREATE TABLE keep (a); INSERT INTO keep VALUES (1)"), "");
  EXPECT_EQ(query(db, "SELECT count(*) FROM dbase_31"), "77\n");
  EXPECT_EQ(query(db, "SELECT group_concat(name || ' ' || type, ', ') FROM pragma_table_info('dbase_31')"),
            "PRODUCTID INTEGER, PRODUCTNAM TEXT, SUPPLIERID INTEGER, CATEGORYID INTEGER, QUANTITYPE TEXT, "
            "UNITPRICE NUMERIC, UNITSINSTO INTEGER, UNITSONORD INTEGER, REORDERLEV INTEGER, DISCONTINU INTEGER\n");

  ASSERT_EQ(run("'" + append + "' /x:sqlite '" + source + "' '" + db + "'"), 0);
  EXPECT_EQ(query(db, "SELECT count(*), count(DISTINCT PRODUCTID) FROM dbase_31"), "154|77\n");
  // Another table of that name but other columns is refused, the database untouched.
  std::string stranger = other.copy_fixture("infused-dbf/dbase_8b.dbf", "dbase_31.dbf");
  other.copy_fixture("infused-dbf/dbase_8b.dbt", "dbase_31.dbt");
  EXPECT_NE(run("'" + append + "' /x:sqlite '" + stranger + "' '" + db + "'"), 0);
  EXPECT_EQ(query(db, "SELECT count(*) FROM dbase_31"), "154\n");

  ASSERT_EQ(run("'" + replace + "' /x:sqlite '" + stranger + "' '" + db + "'"), 0);
  EXPECT_EQ(query(db, "SELECT count(*), typeof(NUMERICAL), typeof(DATE) FROM dbase_31"), "10|real|text\n");
  EXPECT_EQ(query(db, "SELECT a FROM keep"), "1\n");
  // A file that is no database is never written into.
  std::ofstream(dir.file("notes.sqlite")) << "not a database\n";
  EXPECT_NE(run("'" + replace + "' /x:sqlite '" + source + "' '" + dir.file("notes.sqlite") + "'"), 0);
  std::ifstream notes(dir.file("notes.sqlite"));
  std::string text((std::istreambuf_iterator<char>(notes)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "not a database\n");
  EXPECT_NE(run("'" + replace + "' /x:sqlite '" + source + "' -"), 0);
  // Two fields of one name become two columns; a table of no fields is no SQLite table.
  ASSERT_EQ(run("'" + replace + "' /x:sqlite '" + test::fixture("infused-dbf/dbase_03.dbf") + "' '" + db + "'"), 0);
  EXPECT_EQ(query(db, "SELECT Point_ID, Point_ID_2 FROM dbase_03 LIMIT 1"), "0507121|401\n");
  EXPECT_NE(run("'" + replace + "' /x:sqlite '" + test::fixture("infused-dbf/polygon.dbf") + "' '" + db + "'"), 0);
  EXPECT_EQ(query(db, "SELECT count(*) FROM sqlite_master WHERE name = 'polygon'"), "0\n");
  // JSON Lines are appended line by line.
  std::string lines = dir.file("out.jsonl");
  ASSERT_EQ(run("'" + replace + "' /x:jsonl '" + source + "' '" + lines + "'"), 0);
  ASSERT_EQ(run("'" + append + "' /x:jsonl '" + source + "' '" + lines + "'"), 0);
  std::string count;
  test::run_command("grep -c '^{\"PRODUCTID\":' '" + lines + "'", count);
  EXPECT_EQ(count, "154\n");
}

TEST(BatchTypedExport, AnUnreadableMemoIsNullAndAWarning) {
  TempDir dir;
  std::string program = program_in(dir, "");
  std::string table = dir.copy_fixture("infused-dbf/dbase_83.dbf", "m.dbf");
  dir.copy_fixture("infused-dbf/dbase_83.dbt", "m.dbt");
  // The first record's DESC (bytes 780-789 of the record) points far past the memo file's end.
  {
    std::fstream file(table, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(513 + 780);
    file << "9999999999";
  }
  for (const char* format : {"jsonl", "sqlite"}) {
    std::string out = dir.file(std::string("m.") + format), err;
    EXPECT_EQ(test::run_command("'" + program + "' /x:" + format + " '" + table + "' '" + out + "' 2>&1", err), 0);
    EXPECT_EQ(err, "kora: " + table + ": warning: record 1, field DESC: its memo cannot be read\n");
    EXPECT_EQ(test::run_command("'" + program + "' /x:" + format + " /strict '" + table + "' '" + out + "' 2>&1", err), 1);
  }
  std::string first;
  test::run_command("sqlite3 '" + dir.file("m.sqlite") + "' \"SELECT typeof(\\\"DESC\\\") FROM m LIMIT 2\"", first);
  EXPECT_EQ(first, "null\ntext\n");
}

}  // namespace
}  // namespace kora
