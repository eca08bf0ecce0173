// Export: the exact bytes of every text format for a filtered table with
// every field type, a memo, a deleted record and Cyrillic text; what
// independent readers (Python's csv and xml.etree, sqlite3, dbfread) make of
// the files; DBF targets appended by field name; refusals and write failures.
#include "tools/export.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "../support/dbf_builder.h"
#include "../support/independent_readers.h"
#include "../support/test_support.h"
#include "table/code_page.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "table/value_codec.h"
#include "tools/condition.h"
#include "tools/filter.h"

namespace kora {
namespace {

using namespace kora::test;

std::string le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += char(value >> (8 * i));
  return out;
}
std::string dbl(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  return le(bits, 8);
}
std::string stamp(int y, int m, int d, int seconds) { return le(uint64_t(julian_day_number(y, m, d)), 4) + le(uint64_t(seconds) * 1000, 4); }

// A Visual FoxPro table in code page 866 with every field type; record 1 is
// deleted, record 2 is hidden by the filter QTY>0.
std::string make_table(const TempDir& dir) {
  DbfLayout layout;
  layout.version = 0x30;
  layout.code_page_mark = 0x65;
  layout.fields = {{"NAME", 'C', 12}, {"QTY", 'N', 7, 2}, {"RATE", 'F', 8, 3}, {"DAY", 'D', 8},
                   {"STAMP", 'T', 8}, {"OK", 'L', 1},      {"COUNT", 'I', 4},   {"PRICE", 'Y', 8},
                   {"WEIGHT", 'B', 8, 2}, {"NOTES", 'M', 4}};
  layout.header_size = 32 + 32 * 10 + 1 + 263;
  const std::string cyrillic = "\x88\xa2\xa0\xad\xae\xa2";  // Иванов
  layout.records = {
      cyrillic + "      " + "  12.50" + "   1.500" + "20240131" + stamp(2024, 1, 31, 49530) + "T" + le(42, 4) +
          le(12345, 8) + dbl(2.5) + le(0, 4),
      "O\"Neil,'J'  " + std::string("   3.00") + "  -0.250" + "19991231" + stamp(1999, 12, 31, 0) + "F" +
          le(uint32_t(-7), 4) + le(0, 8) + dbl(-1) + le(0, 4),
      "ZERO        " + std::string("   0.00") + "   0.000" + "        " + le(0, 8) + "?" + le(0, 4) + le(0, 8) +
          dbl(0) + le(0, 4)};
  layout.deleted = {false, true, false};
  std::string path = dir.file("t.dbf");
  write_bytes(path, build_dbf(layout));
  EXPECT_TRUE(create_memo_file(path, kVisualFoxPro, 64));
  auto table = open_table(path);
  EXPECT_TRUE(table && read_record(*table, 0));
  EXPECT_TRUE(write_memo(*table, 9, "Line one\r\nline \"two\" & <three> -- x"));
  EXPECT_TRUE(write_record(*table, 0));
  return path;
}

std::string read_text(const std::string& path) {
  std::vector<uint8_t> bytes = read_bytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

struct Fixture {
  TempDir dir;
  std::string path = make_table(dir);
  std::unique_ptr<Table> table = open_table(path);
  OutputGuard guard{{path, path.substr(0, path.size() - 3) + "fpt"}, [](const std::string&) { return true; }};
};

ExportOptions all_bands(ExportFormat format) {
  ExportOptions o;
  o.format = format;
  o.header = o.detail = true;
  o.numeration = o.delete_mark = true;
  return o;
}

std::string exported(Fixture& f, const ExportOptions& o, const std::string& name) {
  std::string out = f.dir.file(name);
  ExportResult r = export_table(*f.table, out, o, f.guard);
  EXPECT_TRUE(r.ok()) << int(r.output) << " " << int(r.status);
  return replaced(read_text(out), f.path, "T.DBF");
}

TEST(Export, EveryTextFormatWritesItsGoldenBytes) {
  Fixture f;
  ASSERT_EQ(apply_filter(*f.table, {FilterSource::kExpression, "QTY>0"}), Status::kOk);
  struct Case {
    ExportFormat format;
    const char* expected;
  };
  const Case cases[] = {
      {ExportFormat::kText,
       "RecNo|*|NAME        |QTY    |RATE    |DAY       |STAMP              |OK|COUNT     |PRICE                   |WEIGHT              |NOTES\n"
       "    1| |\x88\xA2\xA0\xAD\xAE\xA2      |  12.50|   1.500|01.31.2024|01.31.2024 13:45:30|T |        42|                  1.2345|                2.50|Line one\r\n"
       "line \"two\" & <three> -- x\n"
       "    2|*|O\"Neil,'J'  |   3.00|  -0.250|12.31.1999|12.31.1999 00:00:00|F |        -7|                  0.0000|               -1.00|          \n"},
      {ExportFormat::kClipper,
       "\n"
       "APPEND BLANK\n"
       "REPLACE NAME WITH '\x88\xA2\xA0\xAD\xAE\xA2'\n"
       "REPLACE QTY WITH 12.50\n"
       "REPLACE RATE WITH 1.500\n"
       "REPLACE DAY WITH CTOD('01.31.2024')\n"
       "REPLACE STAMP WITH '01.31.2024 13:45:30'\n"
       "REPLACE OK WITH .T.\n"
       "REPLACE COUNT WITH 42\n"
       "REPLACE PRICE WITH 1.2345\n"
       "REPLACE WEIGHT WITH 2.50\n"
       "REPLACE NOTES WITH 'Line one'+CHR(13)+CHR(10)+'line \"two\" & <three> -- x'\n"
       "APPEND BLANK\n"
       "REPLACE NAME WITH [O\"Neil,'J']\n"
       "REPLACE QTY WITH 3.00\n"
       "REPLACE RATE WITH -0.250\n"
       "REPLACE DAY WITH CTOD('12.31.1999')\n"
       "REPLACE STAMP WITH '12.31.1999 00:00:00'\n"
       "REPLACE OK WITH .F.\n"
       "REPLACE COUNT WITH -7\n"
       "REPLACE PRICE WITH 0.0000\n"
       "REPLACE WEIGHT WITH -1.00\n"
       "REPLACE NOTES WITH ''\n"
       "DELETE\n"},
      {ExportFormat::kFoxPro,
       "\n"
       "APPEND BLANK\n"
       "REPLACE NAME WITH '\x88\xA2\xA0\xAD\xAE\xA2'\n"
       "REPLACE QTY WITH 12.50\n"
       "REPLACE RATE WITH 1.500\n"
       "REPLACE DAY WITH CTOD('01.31.2024')\n"
       "REPLACE STAMP WITH '01.31.2024 13:45:30'\n"
       "REPLACE OK WITH .T.\n"
       "REPLACE COUNT WITH 42\n"
       "REPLACE PRICE WITH 1.2345\n"
       "REPLACE WEIGHT WITH 2.50\n"
       "REPLACE NOTES WITH 'Line one'+CHR(13)+CHR(10)+'line \"two\" & <three> -- x'\n"
       "APPEND BLANK\n"
       "REPLACE NAME WITH [O\"Neil,'J']\n"
       "REPLACE QTY WITH 3.00\n"
       "REPLACE RATE WITH -0.250\n"
       "REPLACE DAY WITH CTOD('12.31.1999')\n"
       "REPLACE STAMP WITH '12.31.1999 00:00:00'\n"
       "REPLACE OK WITH .F.\n"
       "REPLACE COUNT WITH -7\n"
       "REPLACE PRICE WITH 0.0000\n"
       "REPLACE WEIGHT WITH -1.00\n"
       "REPLACE NOTES WITH ''\n"
       "DELETE\n"},
      {ExportFormat::kSql,
       "\n"
       "INSERT INTO \"t\" VALUES (\"\x88\xA2\xA0\xAD\xAE\xA2\", 12.50, 1.500, \"2024-01-31\", \"2024-01-31 13:45:30\", 1, 42, 1.2345, 2.50, \"Line one\r\n"
       "line \"\"two\"\" & <three> -- x\");\n"
       "INSERT INTO \"t\" VALUES (\"O\"\"Neil,'J'\", 3.00, -0.250, \"1999-12-31\", \"1999-12-31 00:00:00\", 0, -7, 0.0000, -1.00, \"\");\n"},
      {ExportFormat::kHtml,
       "<meta charset=\"IBM866\">\n\n"
       "<table border=1><tr><td align=right>RecNo</td><td>*</td><td>NAME</td><td>QTY</td><td>RATE</td><td>DAY</td><td>STAMP</td><td>OK</td><td>COUNT</td><td>PRICE</td><td>WEIGHT</td><td>NOTES</td></tr>\n"
       "<tr><td align=right>1</td><td>&nbsp;</td><td>\x88\xA2\xA0\xAD\xAE\xA2 </td><td align=right>12.50 </td><td align=right>1.500 </td><td>01.31.2024 </td><td>01.31.2024 13:45:30 </td><td>T </td><td align=right>42 </td><td align=right>1.2345 </td><td align=right>2.50 </td><td>Line one <br>\n"
       " line &quot;two&quot; &amp; &lt;three&gt; -- x </td></tr>\n"
       "<tr><td align=right>2</td><td>*</td><td>O&quot;Neil,'J' </td><td align=right>3.00 </td><td align=right>-0.250 </td><td>12.31.1999 </td><td>12.31.1999 00:00:00 </td><td>F </td><td align=right>-7 </td><td align=right>0.0000 </td><td align=right>-1.00 </td><td>&nbsp;</td></tr>\n"
       "</table><p>\n"},
      {ExportFormat::kXml,
       "<?xml version=\"1.0\" encoding=\"cp866\"?>\n"
       "<!-- Location: T.DBF -->\n"
       "<Root Database=\"T.DBF\">\n"
       "\n"
       "   <Information>\n"
       "      <Record Number=\"1\" Deleted=\"0\"><NAME>\x88\xA2\xA0\xAD\xAE\xA2</NAME><QTY>12.50</QTY><RATE>1.500</RATE><DAY>2024-01-31</DAY><STAMP>2024-01-31 13:45:30</STAMP><OK>T</OK><COUNT>42</COUNT><PRICE>1.2345</PRICE><WEIGHT>2.50</WEIGHT><NOTES>Line one\r\n"
       "line \"two\" &amp; &lt;three&gt; -- x</NOTES></Record>\n"
       "      <Record Number=\"2\" Deleted=\"1\"><NAME>O\"Neil,'J'</NAME><QTY>3.00</QTY><RATE>-0.250</RATE><DAY>1999-12-31</DAY><STAMP>1999-12-31 00:00:00</STAMP><OK>F</OK><COUNT>-7</COUNT><PRICE>0.0000</PRICE><WEIGHT>-1.00</WEIGHT><NOTES/></Record>\n"
       "   </Information>\n"
       "</Root>\n"},
      {ExportFormat::kCsv,
       "NAME,QTY,RATE,DAY,STAMP,OK,COUNT,PRICE,WEIGHT,NOTES\r\n"
       "\x88\xA2\xA0\xAD\xAE\xA2,12.50,1.500,2024-01-31,2024-01-31 13:45:30,T,42,1.2345,2.50,\"Line one\r\n"
       "line \"\"two\"\" & <three> -- x\"\r\n"
       "\"O\"\"Neil,'J'\",3.00,-0.250,1999-12-31,1999-12-31 00:00:00,F,-7,0.0000,-1.00,\r\n"},
  };
  for (const Case& c : cases) {
    std::string name = export_file_name("out" + std::to_string(int(c.format)), c.format);
    EXPECT_EQ(exported(f, all_bands(c.format), name), c.expected) << name;
  }
}

// CSV takes the common values straight from the stored bytes: a NUL inside
// a text is written as the byte, a leading blank is quoted, a decimal comma becomes a point, a number
// of stars is empty; with blank records left out, a record whose values are
// all blank or zero goes, and one with anything else stays.
TEST(Export, CsvStoredFormsAndBlankRecords) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 6}, {"QTY", 'N', 6, 2}, {"DAY", 'D', 8}, {"OK", 'L', 1}};
  layout.records = {std::string(" A\0xyz", 6) + "  1,50" + "        " + "T",
                    "      " "  0.00" "        " " ",
                    "      " "******" "20240229" "n",
                    "a\"b,c " "  -3.5" "19991231" "?"};
  std::string path = dir.file("t.dbf");
  write_bytes(path, build_dbf(layout));
  auto table = open_table(path);
  ASSERT_TRUE(table);
  ExportOptions o;
  o.format = ExportFormat::kCsv;
  o.header = o.detail = true;
  o.copy_blank = false;
  std::string out = dir.file("t.csv");
  ASSERT_TRUE(export_table(*table, out, o, OutputGuard{{path}, [](const std::string&) { return true; }}).ok());
  using namespace std::string_literals;
  EXPECT_EQ(read_text(out), "NAME,QTY,DAY,OK\r\n\" A\0xyz\",1.50,,T\r\n,,2024-02-29,F\r\n\"a\"\"b,c\",-3.5,1999-12-31,\r\n"s);
}

// What other programs read from the files: Python's csv and xml.etree, and
// sqlite3 running the SQL script (structure band included).
TEST(Export, IndependentReadersSeeTheSourceValues) {
  Fixture f;
  ASSERT_EQ(apply_filter(*f.table, {FilterSource::kExpression, "QTY>0"}), Status::kOk);
  const std::string first = "['Иванов', '12.50', '1.500', '2024-01-31', '2024-01-31 13:45:30', ";
  struct Case {
    ExportFormat format;
    const char* reader;  // prints one line per record
    std::string expected;
  };
  const Case cases[] = {
      {ExportFormat::kCsv,
       "import csv,sys\nfor r in list(csv.reader(open(sys.argv[1],encoding='cp866',newline='')))[1:]: print(r)",
       first + "'T', '42', '1.2345', '2.50', 'Line one\\r\\nline \"two\" & <three> -- x']\n"
               "['O\"Neil,\\'J\\'', '3.00', '-0.250', '1999-12-31', '1999-12-31 00:00:00', 'F', '-7', '0.0000', "
               "'-1.00', '']\n"},
      {ExportFormat::kXml,
       "import sys,xml.etree.ElementTree as E\n"
       "for r in E.parse(sys.argv[1]).getroot().iter('Record'): print([c.text or '' for c in r][:5], r.get('Deleted'))",
       first.substr(0, first.size() - 2) + "] 0\n['O\"Neil,\\'J\\'', '3.00', '-0.250', '1999-12-31', '1999-12-31 00:00:00'] 1\n"},
      {ExportFormat::kSql,
       "import sqlite3,sys\nc=sqlite3.connect(':memory:')\nc.executescript(open(sys.argv[1],encoding='cp866',newline='').read())\n"
       "for r in c.execute('select NAME,QTY,DAY,OK,COUNT,WEIGHT,NOTES from t'): print(r)",
       "('Иванов', 12.5, '2024-01-31', 1, 42, 2.5, 'Line one\\r\\nline \"two\" & <three> -- x')\n"
       "('O\"Neil,\\'J\\'', 3, '1999-12-31', 0, -7, -1, '')\n"},
  };
  for (const Case& c : cases) {
    ExportOptions o;
    o.format = c.format;
    o.structure = c.format == ExportFormat::kSql;
    o.delete_mark = true;
    std::string out = f.dir.file(export_file_name("read", c.format));
    ASSERT_TRUE(export_table(*f.table, out, o, f.guard).ok());
    { std::ofstream(f.dir.file("read.py")) << c.reader; }
    std::string printed;
    EXPECT_EQ(run_command("/usr/bin/python3 " + f.dir.file("read.py") + " " + out + " 2>&1", printed), 0) << printed;
    EXPECT_EQ(printed, c.expected) << export_extension(c.format);
  }
  // The sqlite3 command itself takes the script too.
  std::string count;
  EXPECT_EQ(run_command("sqlite3 :memory: '.read " + f.dir.file("read.sql") + "' 'select count(*) from t;'", count), 0);
  EXPECT_EQ(count, "2\n");
}

// DBF targets: the bytes of every field as stored, memos carried as text,
// deleted records marked, whatever date format the table shows; dbfread
// reads the copy as it reads the source.
TEST(Export, DbfCopyReadsAsTheSource) {
  Fixture f;
  const std::string source = dbfread_dump(f.path, true, "cp866");
  for (int date_format = 0; date_format < 4; ++date_format) {
    f.table->date_format = date_format;
    ExportOptions o;
    o.format = ExportFormat::kDbf;
    o.memo_as_text = date_format % 2 == 0;  // memos are copied either way
    std::string out = f.dir.file("copy" + std::to_string(date_format) + ".dbf");
    ExportResult r = export_table(*f.table, out, o, f.guard);
    ASSERT_TRUE(r.ok()) << int(r.output) << " " << int(r.status);
    EXPECT_EQ(r.records, 3u);
    EXPECT_EQ(dbfread_dump(out, true, "cp866"), source) << date_format;
  }
}

// Appending into an existing table matches fields by name; a file that is
// no table is left alone and reported.
TEST(Export, DbfAppendMatchesFieldsByNameAndNeverReplacesAFile) {
  Fixture f;
  DbfLayout layout;
  layout.version = 0x03;
  layout.fields = {{"COUNT", 'N', 5}, {"NAME", 'C', 8}, {"OTHER", 'C', 3}};
  layout.records = {"    1first   x"};
  std::string target = f.dir.file("old.dbf");
  write_bytes(target, build_dbf(layout));
  ExportOptions o;
  o.format = ExportFormat::kDbf;
  o.overwrite = false;
  o.copy_deleted = false;
  ExportResult r = export_table(*f.table, target, o, f.guard);
  ASSERT_TRUE(r.ok()) << int(r.output) << " " << int(r.status);
  EXPECT_EQ(r.records, 2u);
  EXPECT_EQ(dbfread_dump(target, true, "cp866"),
            "[1, 'first', 'x']\n[42, 'Иванов', '']\n[0, 'ZERO', '']\ndeleted 0\n");
  EXPECT_EQ(r.blank_fields, std::vector<std::string>{"OTHER"});

  // A table that shares no field name gets nothing, not blank records.
  layout.fields = {{"A", 'C', 3}};
  layout.records = {"abc"};
  std::string unrelated = f.dir.file("unrelated.dbf");
  write_bytes(unrelated, build_dbf(layout));
  std::vector<uint8_t> before = read_bytes(unrelated);
  r = export_table(*f.table, unrelated, o, f.guard);
  EXPECT_EQ(r.status, Status::kNoCommonField);
  EXPECT_EQ(read_bytes(unrelated), before);

  std::string text = f.dir.file("notes.dbf");
  write_bytes(text, {'h', 'e', 'l', 'l', 'o'});
  r = export_table(*f.table, text, o, f.guard);
  EXPECT_EQ(r.output, OutputStatus::kCannotOpen);
  EXPECT_EQ(read_text(text), "hello");
}

// A computed column named like a stored field is renamed in the target, so
// each keeps its own values, new table or appended one.
TEST(Export, DbfComputedColumnNamedLikeAFieldIsRenamed) {
  install_computed_column_hooks();
  Fixture f;
  ColumnModel& model = f.table->columns;
  int doubled = add_computed_column(model, {"qty", "QTY*2", 'N', 20, 6});
  int label = add_computed_column(model, {"QTY_1", "NAME", 'C', 20, 0});
  arrange_columns(model, {0, 1, doubled, label});
  model.shown = 4;
  for (int k = 0; k < int(model.flags.size()); ++k) model.flags[size_t(k)].visible = k <= 1 || k == doubled || k == label;
  ExportOptions o;
  o.format = ExportFormat::kDbf;
  o.copy_deleted = false;
  std::string out = f.dir.file("renamed.dbf");
  ASSERT_TRUE(export_table(*f.table, out, o, f.guard).ok());
  EXPECT_EQ(lines_of(gdal_csv(out, "")).front(), "NAME,QTY,qty_2,QTY_1");
  EXPECT_EQ(dbfread_dump(out, false, "cp866"), "['Иванов', 12.5, 25.0, 'Иванов']\n['ZERO', 0.0, 0.0, 'ZERO']\ndeleted 0\n");
}

TEST(Export, NamesAndTrimModes) {
  EXPECT_EQ(export_file_name("out.v2/list", ExportFormat::kCsv), "out.v2/list.csv");
  EXPECT_EQ(export_file_name("dir/list.txt", ExportFormat::kCsv), "dir/list.txt");
  Fixture f;
  struct Case {
    ExportTrim trim;
    const char* line;
  };
  const Case cases[] = {{ExportTrim::kNone, "   3.00|O\"Neil,'J'  \n"},
                        {ExportTrim::kLeft, "3.00   |O\"Neil,'J'  \n"},
                        {ExportTrim::kRight, "   3.00|O\"Neil,'J'  \n"},
                        {ExportTrim::kBoth, "3.00|O\"Neil,'J'\n"}};
  arrange_columns(f.table->columns, {1, 0});
  f.table->columns.shown = 2;
  for (const Case& c : cases) {
    ExportOptions o;
    o.trim = c.trim;
    o.delimiter = '|';
    std::string line;
    EXPECT_TRUE(export_record(*f.table, 1, o, line));
    EXPECT_EQ(line, c.line) << int(c.trim);
  }
}

// Never over a file open in kora; a write that fails (the file-size limit
// of a full disk) keeps the old file and says so.
TEST(Export, RefusesOpenTablesAndKeepsTheOldFileWhenAWriteFails) {
  Fixture f;
  const std::vector<uint8_t> before = read_bytes(f.path);
  for (ExportFormat format : {ExportFormat::kCsv, ExportFormat::kDbf}) {
    ExportOptions o;
    o.format = format;
    EXPECT_EQ(export_table(*f.table, f.path, o, f.guard).output, OutputStatus::kOpenTable);
    EXPECT_EQ(export_table(*f.table, f.guard.open_files[1], o, f.guard).output, OutputStatus::kOpenTable);
  }
  EXPECT_EQ(read_bytes(f.path), before);

  // Limits past the new table's header and the old file, short of the whole export.
  for (auto [format, bytes] : {std::pair{ExportFormat::kText, 300}, std::pair{ExportFormat::kDbf, 700}}) {
    std::string out = f.dir.file(export_file_name("full", format));
    write_bytes(out, {'o', 'l', 'd'});
    const std::vector<uint8_t> old = read_bytes(out);
    pid_t child = fork();
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {rlim_t(bytes), rlim_t(bytes)};
      setrlimit(RLIMIT_FSIZE, &limit);
      ExportOptions o;
      o.format = format;
      o.header = true;
      ExportResult r = export_table(*f.table, out, o, f.guard);
      _exit(r.output == OutputStatus::kWriteFailed ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << export_extension(format);
    EXPECT_EQ(read_bytes(out), old);
  }
  std::string left;
  run_command("ls " + f.dir.path(), left);
  EXPECT_EQ(left.find("XXX"), std::string::npos);
  EXPECT_EQ(left.find(".dbf."), std::string::npos) << left;
}

// Python reads each table in its page with dbfread and checks kora's UTF-8
// CSV against it (the text fields, memo texts included), and reads both XML
// exports in the page their declaration names. Prints "OK <rows match>
// <values beyond ASCII>" or the first difference.
const char* const kCheckEncodings = R"py(
import csv, re, sys, dbfread, xml.etree.ElementTree as ET
table, out, codec = sys.argv[1:4]
t = dbfread.DBF(table, encoding=codec, load=True)
rows = list(csv.reader(open(out + '.csv', encoding='utf-8', newline='')))
texts = [f.name for f in t.fields if f.type in 'CM']
wide = 0
for mine, theirs in zip(rows[1:], t.records):
    for name in texts:
        m, v = mine[rows[0].index(name)], (theirs[name] or '').split('\0')[0]
        if m.rstrip() != v.rstrip(): print('DIFF', name, repr(m), repr(v)); sys.exit()
        wide += any(ord(c) > 127 for c in m)
for xml in (out + '.xml', out + '.asis.xml'):
    data = open(xml, 'rb').read()
    declared = re.match(rb'<\?xml[^>]*encoding="([^"]+)"', data).group(1).decode()
    root = ET.fromstring(re.sub(r'^<\?xml[^>]*\?>', '', data.decode(declared)))
    record = root.find('Information/Record')
    for name in texts:
        got = record.find(name).text or ''
        # An XML reader takes CR LF for LF.
        if got.rstrip() != (t.records[0][name] or '').split('\0')[0].replace('\r\n', '\n').rstrip():
            print('XML', xml, declared, name, repr(got)); sys.exit()
print('OK', len(rows) - 1 == len(t.records), wide)
)py";

std::unique_ptr<Table> open_in_its_page(const std::string& path) {
  std::unique_ptr<Table> table = open_table(path);
  if (!table) return table;
  choose_code_page(*table, 0);
  decide_code_page(*table, 0);
  return table;
}

// Text formats go out in UTF-8 with each character exactly as Python reads
// it in the table's page (866, 1251, 1252 with memo texts, Big5, UTF-8),
// the XML and HTML declarations name the bytes written, and a character the
// chosen page cannot hold stops the export with its record and field named,
// leaving the old file as it was.
TEST(Export, TextInUtf8OrAChosenCodePage) {
  struct Case {
    const char* fixture;
    const char* codec;  // Python's name of the table's page
    const char* html;   // the charset an as-stored HTML export declares
  };
  const Case cases[] = {
      {"jdbf/data/218864/tir_im.dbf", "cp866", "IBM866"},
      {"mapshaper/dbf/cpg/win1251.dbf", "cp1251", "windows-1251"},
      {"jdbf/src/test/resources/memo1/texto.dbf", "cp1252", "windows-1252"},
      {"mapshaper/dbf/cpg/big5.dbf", "big5", "Big5"},
      {"infused-dbf/dbase_03_cyrillic.dbf", "utf-8", "UTF-8"},
  };
  TempDir dir;
  std::ofstream(dir.file("check.py")) << kCheckEncodings;
  for (const Case& c : cases) {
    std::unique_ptr<Table> table = open_in_its_page(fixture(c.fixture));
    ASSERT_TRUE(table) << c.fixture;
    OutputGuard guard{{table->file_name}, [](const std::string&) { return true; }};
    std::string out = dir.file("out");
    ExportOptions o;
    o.codepage = ExportCodepage::kUtf8;
    o.header = true;
    for (auto [format, name] : {std::pair{ExportFormat::kCsv, ".csv"}, {ExportFormat::kXml, ".xml"}}) {
      o.format = format;
      EXPECT_TRUE(export_table(*table, out + name, o, guard).ok()) << c.fixture;
    }
    o.codepage = ExportCodepage::kAsIs;
    EXPECT_TRUE(export_table(*table, out + ".asis.xml", o, guard).ok()) << c.fixture;
    std::string report;
    EXPECT_EQ(run_command("/usr/bin/python3 " + dir.file("check.py") + " '" + fixture(c.fixture) + "' " + out + " " +
                              c.codec + " 2>&1",
                          report),
              0);
    EXPECT_EQ(report.rfind("OK True ", 0), 0u) << c.fixture << ": " << report;
    EXPECT_NE(report, "OK True 0\n") << c.fixture << ": no text beyond ASCII was compared";

    o.format = ExportFormat::kHtml;
    EXPECT_TRUE(export_table(*table, out + ".htm", o, guard).ok());
    EXPECT_EQ(read_text(out + ".htm").rfind(std::string("<meta charset=\"") + c.html + "\">\n", 0), 0u) << c.fixture;
    o.codepage = ExportCodepage::kUtf8;
    o.html_header = "<HTML><Head><title>t</title></head><body>";
    EXPECT_TRUE(export_table(*table, out + ".htm", o, guard).ok());
    EXPECT_EQ(read_text(out + ".htm").rfind("<HTML><Head>\n<meta charset=\"UTF-8\">\n<title>", 0), 0u) << c.fixture;
  }

  // 1251 into 1252: the first Cyrillic letter is refused and nothing written.
  std::unique_ptr<Table> table = open_in_its_page(fixture("mapshaper/dbf/cpg/win1251.dbf"));
  ASSERT_TRUE(table);
  OutputGuard guard{{table->file_name}, [](const std::string&) { return true; }};
  ExportOptions o;
  o.format = ExportFormat::kText;
  o.codepage = ExportCodepage::kPage;
  o.page = CodePage::find("1252");
  write_bytes(dir.file("old.txt"), {'o', 'l', 'd'});
  ExportResult r = export_table(*table, dir.file("old.txt"), o, guard);
  EXPECT_EQ(r.status, Status::kNotInCodePage);
  EXPECT_EQ(r.refusal, "Record 1, field NAME: Р cannot be stored in code page 1252");
  EXPECT_EQ(read_text(dir.file("old.txt")), "old");
  o.page = CodePage::find("KOI8-R");  // which holds it: the bytes Python's koi8_r gives
  EXPECT_TRUE(export_table(*table, dir.file("koi8.txt"), o, guard).ok());
  EXPECT_EQ(read_text(dir.file("koi8.txt")).substr(0, 7), "\xF2\xF5\xF3\xF3\xEB\xE9\xEA");

  // ANSI and OEM from a table in another page (KOI8-R) carry its characters
  // into 1251 and 866, never through the 866/1251 turn of its bytes.
  std::unique_ptr<Table> koi8 = open_in_its_page(fixture("mapshaper/dbf/cpg/koi8r.dbf"));
  ASSERT_TRUE(koi8);
  OutputGuard koi8_guard{{koi8->file_name}, [](const std::string&) { return true; }};
  o.page = nullptr;
  for (auto [choice, bytes] : {std::pair{ExportCodepage::kAnsi, "\xF0\xF3\xF1\xF1\xEA\xE8\xE9"},
                               {ExportCodepage::kOem, "\xE0\xE3\xE1\xE1\xAA\xA8\xA9"}}) {
    o.codepage = choice;
    EXPECT_TRUE(export_table(*koi8, dir.file("family.txt"), o, koi8_guard).ok());
    EXPECT_EQ(read_text(dir.file("family.txt")).substr(0, 7), bytes);  // русский
  }
}

// A new DBF in a page its header mark cannot say (a page a .cpg named, or
// UTF-8 chosen) gets a .cpg beside it: dbfread then reads, in the page the
// .cpg names, what it read from the source in its own.
TEST(Export, ANewDbfInAPageItsMarkCannotSayGetsACpgFile) {
  TempDir dir;
  std::string source_path = fixture("mapshaper/dbf/cpg/latin2.dbf");
  std::unique_ptr<Table> source = open_in_its_page(source_path);
  ASSERT_TRUE(source);
  OutputGuard guard{{source->file_name}, [](const std::string&) { return true; }};
  std::string theirs = test::dbfread_dump(source_path, false, "iso8859_2");
  struct Case {
    ExportCodepage choice;
    const char* cpg;
    const char* codec;
  } cases[] = {{ExportCodepage::kAsIs, "ISO-8859-2", "iso8859_2"}, {ExportCodepage::kUtf8, "UTF-8", "utf-8"}};
  for (const Case& c : cases) {
    ExportOptions o;
    o.format = ExportFormat::kDbf;
    o.codepage = c.choice;
    std::string out = dir.file(std::string("out") + c.cpg + ".dbf");
    ASSERT_TRUE(export_table(*source, out, o, guard).ok()) << c.cpg;
    EXPECT_EQ(read_text(out.substr(0, out.size() - 4) + ".cpg"), c.cpg);
    EXPECT_EQ(test::dbfread_dump(out, false, c.codec), theirs) << c.cpg;
    std::unique_ptr<Table> back = open_in_its_page(out);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->code_page->number(), c.choice == ExportCodepage::kUtf8 ? 65001 : 28592);
  }
}

// A DBF export into 866 (the OEM choice, or a table of 866 appended to)
// from a table in Windows-1252 converts each text; one 866 cannot hold is
// left blank, counted, and its record and field named.
TEST(Export, DbfTargetsInAnotherCodePageTakeConvertedText) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 6}};
  layout.records = {"5\xB0", "caf\xE9"};
  layout.code_page_mark = 0x03;
  write_bytes(dir.file("src.dbf"), build_dbf(layout));
  layout.code_page_mark = 0x65;
  layout.records = {"old"};
  write_bytes(dir.file("oem.dbf"), build_dbf(layout));
  std::unique_ptr<Table> source = open_in_its_page(dir.file("src.dbf"));
  ASSERT_EQ(source->code_page->number(), 1252);
  OutputGuard guard{{source->file_name}, [](const std::string&) { return true; }};
  ExportOptions o;
  o.format = ExportFormat::kDbf;
  o.codepage = ExportCodepage::kOem;
  for (const char* name : {"new.dbf", "oem.dbf"}) {
    o.overwrite = std::string(name) == "new.dbf";
    ExportResult r = export_table(*source, dir.file(name), o, guard);
    EXPECT_TRUE(r.ok()) << name;
    EXPECT_EQ(r.refused, 1u) << name;
    EXPECT_EQ(r.refusal, "Record 2, field NAME: \xC3\xA9 cannot be stored in code page 866") << name;
  }
  EXPECT_EQ(dbfread_dump(dir.file("new.dbf"), true, "cp866"), "['5°']\n['']\ndeleted 0\n");
  EXPECT_EQ(dbfread_dump(dir.file("oem.dbf"), true, "cp866"), "['old']\n['5°']\n['']\ndeleted 0\n");
}

}  // namespace
}  // namespace kora
