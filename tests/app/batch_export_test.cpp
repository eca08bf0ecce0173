// The batch export of the command line: every readable shared fixture
// exported as CSV (UTF-8) holds what python3-dbfread reads from it in the
// code page the table's HTML export declares, and failures
// exit non-zero with their reason on standard error.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "../support/dbf_builder.h"
#include "table/table_cipher.h"
#include "../support/independent_readers.h"
#include "../support/test_support.h"

namespace kora {
namespace {

using test::TempDir;

using test::program_in;

// Compares each CSV with dbfread's reading of its table in the code page
// kora declares for it: values in kora's forms (ISO dates, T/F, numbers by
// value, texts without outer blanks).
const char* const kCompare = R"(
import base64, binascii, codecs, csv, sys, datetime, decimal, dbfread
csv.field_size_limit(sys.maxsize)
def form(v):
    if v is None: return ''
    if isinstance(v, bool): return 'T' if v else 'F'
    if isinstance(v, datetime.datetime): return v.strftime('%Y-%m-%d %H:%M:%S')
    if isinstance(v, datetime.date): return v.isoformat()
    if isinstance(v, bytes): return None
    if isinstance(v, (int, float, decimal.Decimal)): return float(v)
    return v.split('\0')[0].strip()
def same(mine, theirs):
    if theirs is None: return True
    if isinstance(theirs, float):
        return (mine.strip() == '' and theirs == 0) or abs(float(mine or 0) - theirs) <= 1e-6 * max(1, abs(theirs))
    return mine.split('\0')[0].strip() == theirs
def same_or_base64(mine, theirs):  # memo blocks of bytes come as base64
    if same(mine, theirs): return True
    try: return same(base64.b64decode(mine, validate=True).decode(page, errors='replace'), theirs)
    except (binascii.Error, ValueError): return False
from vfp_nulls import nulls  # tests/support, on PYTHONPATH
def long_memo(t, f, mine, theirs):  # dbfread reads dBase IV memos 8 bytes too long
    return f.type == 'M' and t.header.dbversion in (0x8b, 0x8c) and str(theirs).startswith(mine)
for line in open(sys.argv[1]):
    table, out, page = line.split()
    try:
        codecs.lookup(page)
    except LookupError:
        print('SKIP', table, 'python has no codec', page); continue
    try:
        t = dbfread.DBF(table, encoding=page, char_decode_errors='replace', load=True)
    except Exception as e:
        print('SKIP', table, type(e).__name__); continue
    # dbfread takes the end-of-file mark for a record when the count says one more.
    records = [r for r in t.records if not str(next(iter(r.values()), '')).startswith('\x1a')]
    if not records and t.header.numrecords > 0:
        print('SKIP', table, 'dbfread reads none of its records'); continue
    if len(set(t.field_names)) < len(t.field_names):
        print('SKIP', table, 'duplicate field names, which dbfread reads as one'); continue
    if out == '-': print('REFUSED', table); continue
    rows = list(csv.reader(open(out, encoding='utf-8', errors='replace', newline='')))
    if len(rows) - 1 != len(records): print('COUNT', table, len(rows) - 1, len(records)); continue
    for n, (mine, theirs) in enumerate(zip(rows[1:], records)):
        null = nulls(t, theirs)
        theirs = {k: None if k in null else v for k, v in theirs.items()}
        # dbfread hands variable-length and binary fields over as raw bytes.
        bad = [(f.name, m, v) for f, m, v in zip(t.fields, mine, theirs.values())
               if f.type not in 'VQWGP0' and not same_or_base64(m, form(v)) and not long_memo(t, f, m, v)]
        if bad: print('DIFF', table, n, bad[:2]); break
)";

TEST(BatchExport, EveryReadableFixtureExportsTheValuesDbfreadReads) {
  TempDir dir;
  // The dialog's settings would leave out memo texts and blank records and
  // append: the command line keeps its own defaults whatever they say.
  std::string program = program_in(dir, "[Export]\nMemoAsText=0\nOverwrite=0\nCopyBlank=0\n");
  std::string pairs;
  int count = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(test::fixture(""))) {
    std::string path = entry.path().string();
    if (path.size() < 4 || strcasecmp(path.c_str() + path.size() - 4, ".dbf") != 0) continue;
    std::string out = dir.file("out" + std::to_string(++count) + ".csv");
    std::string ignored;
    bool exported = test::run_command("'" + program + "' /x:csv '" + path + "' '" + out + "' 2>/dev/null", ignored) == 0;
    // The page kora reads the table in, as its HTML export declares it when
    // it keeps the table's bytes (the dialog's default, asked for by /ini).
    std::string meta;
    test::run_command("'" + program + "' /x:html /ini '" + path + "' 2>/dev/null | head -c 60", meta);
    size_t open = meta.find("charset=\""), close = meta.find('"', open + 9);
    std::string page = open == std::string::npos ? "-" : meta.substr(open + 9, close - open - 9);
    pairs += path + " " + (exported ? out : "-") + " " + page + "\n";
  }
  std::ofstream(dir.file("pairs")) << pairs;
  std::ofstream(dir.file("compare.py")) << kCompare;
  std::string report;
  ASSERT_EQ(test::run_command("PYTHONPATH=" KORA_SOURCE_DIR "/tests/support /usr/bin/python3 " + dir.file("compare.py") +
                                  " " + dir.file("pairs") + " 2>&1",
                              report), 0)
      << report;
  int skipped = 0;
  for (const std::string& line : test::lines_of(report)) {
    if (line.starts_with("SKIP")) {
      ++skipped;  // dbfread itself cannot read these (no memo file, bad values)
      continue;
    }
    // Tables kora does not open (types of dBase 7, a header too short); their
    // own tests say why.
    bool known = false;
    for (const char* name : {"/dbase_02.dbf", "/dbase_8c.dbf", "/polygon.dbf", "/dBaseVII"})
      known = known || (line.starts_with("REFUSED") && line.find(name) != std::string::npos);
    if (known) continue;
    ADD_FAILURE() << line;
  }
  EXPECT_GT(count - skipped, 40) << report;
}

TEST(BatchExport, FailuresExitNonZeroWithTheirReason) {
  TempDir dir;
  std::string program = program_in(dir, "");
  std::string table = dir.copy_fixture("dbfread/examples/files/people.dbf", "people.dbf");
  struct Case {
    std::string args;
    int status;
    const char* says;  // on standard error; empty for success
  };
  const Case cases[] = {
      // Usage errors: status 2, and no output file is made.
      {"/x:csv missing.dbf out.csv", 2, "missing.dbf: Cannot open file"},
      {"/x:csv /f:NAME people.dbf out.csv", 2, "/f:NAME: cannot be read"},
      {"/x:csv '/f:NAME>' people.dbf out.csv", 2, "/f:NAME>: cannot be read"},
      {"/x:csv /f:NOSUCH=1 people.dbf out.csv", 2, "/f:NOSUCH=1: names no field of the table"},
      {"/x:csv /s:NOPE people.dbf out.csv", 2, "/s: no field named \"NOPE\""},
      {"/x:csv /c:NAME,NOPE people.dbf out.csv", 2, "/c: no field named \"NOPE\""},
      {"/x:pdf people.dbf out.csv", 2, "/x:pdf: unknown export format"},
      {"/x:csv /zz people.dbf out.csv", 2, "/zz: unknown switch"},
      {"/x:csv /x:txt people.dbf out.csv", 2, "/x:: given twice"},
      {"/x:csv people.dbf out.csv more", 2, "more: extra argument"},
      {"/x:csv people.dbf", 0, ""},
      {"/x:csv people.dbf .", 2, ".: is a folder"},
      {"/x:html /append people.dbf out.csv", 2, "/append: a html export cannot be appended to"},
      // Failures while working: status 1.
      {"/x:csv people.dbf /no/such/dir/out.csv", 1, "/no/such/dir/out.csv: Cannot open file"},
      {"/x:dbf people.dbf people.dbf", 1, "the file is the table being exported"},
      {"/x:csv /f:NAME=\"Bob\" /s:NAME people.dbf -", 0, ""},
  };
  for (const Case& c : cases) {
    std::string err;
    int status = test::run_command("cd '" + dir.path() + "' && '" + program + "' " + c.args + " 2>&1 >/dev/null", err);
    EXPECT_EQ(status, c.status) << c.args;
    EXPECT_EQ(*c.says ? err.find(c.says) != std::string::npos : err.empty(), true) << c.args << ": " << err;
    EXPECT_FALSE(test::file_exists(dir.file("out.csv"))) << c.args;
  }
  std::string out;
  EXPECT_EQ(test::run_command("'" + program + "' /x:csv /s:BIRTHDATE '" + table + "'", out), 0);
  EXPECT_EQ(out, "NAME,BIRTHDATE\r\nBob,1980-11-12\r\nAlice,1987-03-01\r\n");
  EXPECT_EQ(test::run_command("'" + program + "' --version", out), 0);
  EXPECT_EQ(out.rfind("kora ", 0), 0u) << out;
}

// A value shows and exports the digits stored, never those of a binary
// number; a blank number, date or logical is blank in every format (empty in
// texts, NULL in SQL, no REPLACE in a program, blank in a DBF).
// The command line as a converter: the output replaced whole (a second run
// gives the same bytes), appended only on request and only under the same
// header, blank records kept and deleted ones only with /deleted, columns
// chosen and ordered by /c:, sorts descending per field and stable, and
// streams written as they are.
TEST(BatchExport, BehavesAsAConverterInAPipeline) {
  TempDir dir;
  std::string program = program_in(dir, "[Export]\nOverwrite=0\nCopyBlank=0\nCopyDeleted=1\n");
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 6}, {"N", 'N', 3}};
  layout.records = {"bob     1", "amy     2", "         ", "bob     4", "cid     5", "amy     6"};
  layout.deleted = {false, false, false, false, true, false};
  test::write_bytes(dir.file("t.dbf"), test::build_dbf(layout));
  auto text = [&](const char* name) {
    std::vector<uint8_t> bytes = test::read_bytes(dir.file(name));
    return std::string(bytes.begin(), bytes.end());
  };
  auto run = [&](const std::string& args, std::string& out) {
    return test::run_command("cd '" + dir.path() + "' && '" + program + "' " + args, out);
  };
  std::string first, second, out;
  ASSERT_EQ(run("/x:csv t.dbf out.csv", out), 0);
  first = text("out.csv");
  EXPECT_EQ(first, "NAME,N\r\nbob,1\r\namy,2\r\n,\r\nbob,4\r\namy,6\r\n");
  ASSERT_EQ(run("/x:csv t.dbf out.csv", out), 0);
  EXPECT_EQ(text("out.csv"), first);

  // /append adds rows under the same header; another header is refused.
  ASSERT_EQ(run("/x:csv /append '/f:N>4' t.dbf out.csv", out), 0);
  EXPECT_EQ(text("out.csv"), first + "amy,6\r\n");
  EXPECT_EQ(run("/x:csv /append /c:N t.dbf out.csv 2>&1", out), 2);
  EXPECT_NE(out.find("another header line"), std::string::npos) << out;
  EXPECT_EQ(text("out.csv"), first + "amy,6\r\n");

  // A table is appended to only when it has the same fields.
  ASSERT_EQ(run("/x:dbf t.dbf copy.dbf && '" + program + "' /x:dbf /append t.dbf copy.dbf", out), 0);
  ASSERT_EQ(run("/x:csv copy.dbf -", out), 0);
  EXPECT_EQ(out, first + first.substr(first.find('\n') + 1));
  EXPECT_EQ(run("/x:dbf /append /c:N,NAME t.dbf copy.dbf 2>&1", out), 2);
  EXPECT_NE(out.find("other fields"), std::string::npos) << out;

  // Descending by name, then ascending by number; equal keys in file order.
  ASSERT_EQ(run("/x:csv /s:-NAME,N /c:N,NAME t.dbf -", out), 0);
  EXPECT_EQ(out, "N,NAME\r\n1,bob\r\n4,bob\r\n2,amy\r\n6,amy\r\n,\r\n");
  ASSERT_EQ(run("/x:csv \"/s:NAME DESC\" /c:N /deleted t.dbf -", out), 0);
  EXPECT_EQ(out, "_deleted,N\r\nT,5\r\nF,1\r\nF,4\r\nF,2\r\nF,6\r\nF,\r\n");

  // On a real table: descending by category, then ascending by price, as
  // Python's stable sort orders dbfread's records.
  std::string products = test::fixture("infused-dbf/dbase_31.dbf");
  std::string theirs;
  ASSERT_EQ(test::run_command("/usr/bin/python3 -c \"import dbfread, sys; r = list(dbfread.DBF(sys.argv[1])); "
                              "r.sort(key=lambda x: x['UNITPRICE']); r.sort(key=lambda x: x['CATEGORYID'], reverse=True); "
                              "print(' '.join(str(x['PRODUCTID']) for x in r))\" '" + products + "'", theirs), 0);
  ASSERT_EQ(run("/x:csv /s:-CATEGORYID,UNITPRICE /c:PRODUCTID '" + products + "' | tail -n +2 | tr -d '\\r' | "
                "tr '\\n' ' ' | sed 's/ $//'", out), 0);
  EXPECT_EQ(out + "\n", theirs);

  // Streams: standard output by name, and a named pipe read as it is written.
  ASSERT_EQ(run("/x:csv t.dbf /dev/stdout | cat", out), 0);
  EXPECT_EQ(out, first);
  ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
  ASSERT_EQ(test::run_command("cd '" + dir.path() + "' && (cat pipe > piped &) && '" + program +
                              "' /x:csv t.dbf pipe && sleep 0.2 && cat piped", out), 0);
  EXPECT_EQ(out, first);

  // /ini asks for the dialog's settings: blank records left out, appended.
  ASSERT_EQ(run("/x:csv /ini t.dbf ini.csv && '" + program + "' /x:csv /ini t.dbf ini.csv && cat ini.csv", out), 0);
  EXPECT_NE(out.find("amy,2\r\nbob,4\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("amy,6\r\nNAME,N\r\n"), std::string::npos) << out;
}

// An encoded table is exported in clear under the password of
// KORA_PASSWORD; a wrong one, or none, is a usage error.
TEST(BatchExport, AnEncodedTableIsReadUnderThePasswordOfTheEnvironment) {
  TempDir dir;
  std::string program = program_in(dir, "");
  std::string table = dir.copy_fixture("dbfread/examples/files/people.dbf", "people.dbf");
  std::string clear;
  ASSERT_EQ(test::run_command("'" + program + "' /x:csv '" + table + "'", clear), 0);
  {
    std::unique_ptr<Table> open = open_table(table);
    ASSERT_TRUE(open);
    ASSERT_EQ(rewrite_enciphered(*open, "s3cret"), Status::kOk);
    close_table(open);
  }
  std::string out;
  EXPECT_EQ(test::run_command("KORA_PASSWORD=s3cret '" + program + "' /x:csv '" + table + "'", out), 0);
  EXPECT_EQ(out, clear);
  EXPECT_EQ(test::run_command("KORA_PASSWORD=wrong '" + program + "' /x:csv '" + table + "' 2>&1 </dev/null", out), 2);
  EXPECT_NE(out.find("wrong password"), std::string::npos) << out;
  EXPECT_EQ(test::run_command("'" + program + "' /x:csv '" + table + "' 2>&1 </dev/null", out), 2);
  EXPECT_NE(out.find("give its password in KORA_PASSWORD"), std::string::npos) << out;
}

// Memo blocks of bytes (pictures, objects) are written as base64, which
// decodes to what dbfread reads; a memo that cannot be read is a warning
// with its record and field, which /strict turns into a failure.
TEST(BatchExport, BinaryMemosAreBase64AndUnreadableOnesAreWarnings) {
  TempDir dir;
  std::string program = program_in(dir, "");
  std::string fox = test::fixture("php-xbase/foxpro/Foxpro2.dbf");
  std::ofstream(dir.file("check.py")) << R"(
import base64, csv, dbfread, subprocess, sys
csv.field_size_limit(sys.maxsize)
t = dbfread.DBF(sys.argv[2], encoding='latin1')
out = subprocess.run([sys.argv[1], '/x:csv', '/c:IMAGE', sys.argv[2]], capture_output=True).stdout.decode()
rows = list(csv.reader(out.splitlines(True)))[1:]
print(len(rows), all(base64.b64decode(r[0]) == rec['IMAGE'].encode('latin1') for r, rec in zip(rows, t)))
)";
  std::string out;
  ASSERT_EQ(test::run_command("/usr/bin/python3 '" + dir.file("check.py") + "' '" + program + "' '" + fox + "'", out), 0);
  EXPECT_EQ(out, "3 True\n");

  // The first record's memo points far past the end of its memo file.
  std::string table = dir.copy_fixture("infused-dbf/dbase_83.dbf", "m.dbf");
  dir.copy_fixture("infused-dbf/dbase_83.dbt", "m.dbt");
  ASSERT_EQ(test::run_command("/usr/bin/python3 -c \"import dbfread, sys; t = dbfread.DBF(sys.argv[1], load=False); "
                              "f = [x for x in t.fields if x.type == 'M'][0]; at = t.header.headerlen + 1 + "
                              "sum(x.length for x in t.fields[:t.fields.index(f)]); b = bytearray(open(sys.argv[1], 'rb').read()); "
                              "b[at:at + f.length] = b'9' * f.length; open(sys.argv[1], 'wb').write(b); print(f.name)\" '" +
                                  table + "'", out), 0);
  std::string field = out.substr(0, out.size() - 1);
  std::string err;
  EXPECT_EQ(test::run_command("'" + program + "' /x:csv '" + table + "' /dev/null 2>&1", err), 0);
  EXPECT_EQ(err, "kora: " + table + ": warning: record 1, field " + field + ": its memo cannot be read\n");
  EXPECT_EQ(test::run_command("'" + program + "' /x:csv /strict '" + table + "' /dev/null 2>&1", err), 1);

  // A last record cut short: the whole ones are exported, the cut one named.
  std::string cut = dir.copy_fixture("infused-dbf/dbase_03.dbf", "cut.dbf");
  ASSERT_EQ(truncate(cut.c_str(), test::file_size(cut) - 40), 0);
  EXPECT_EQ(test::run_command("'" + program + "' /x:csv '" + cut + "' 2>&1 >/dev/null", err), 0);
  EXPECT_EQ(err, "kora: " + cut + ": warning: record 14 is cut short or missing at the end of the file (the header says "
                 "14 records; the file holds 13 whole ones, which are exported)\n");
  EXPECT_EQ(test::run_command("'" + program + "' /x:csv /strict '" + cut + "' 2>/dev/null", out), 1);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 14);  // the header line and 13 records, written all the same
}

TEST(BatchExport, StoredDigitsAndBlankValuesAreTheSameInEveryFormat) {
  TempDir dir;
  std::string program = program_in(dir, "[Export]\nOverwrite=1\nCopyBlank=1\n");
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 6}, {"F", 'F', 20, 18}, {"N", 'N', 8, 2}, {"D", 'D', 8}, {"L", 'L', 1}};
  layout.records = {"one   1.234567890123460000   12.5020240131T", "blank "};
  test::write_bytes(dir.file("t.dbf"), test::build_dbf(layout));
  struct Case {
    const char* format;
    const char* filled;  // in the first record's output
    const char* blank;   // the blank record's output
  } cases[] = {
      {"txt", "|1.234567890123460000|   12.50|", "blank |                    |        |          | "},
      {"csv", "one,1.234567890123460000,12.50,2024-01-31,T", "blank,,,,"},
      {"sql", "1.234567890123460000, 12.50", "(\"blank\", NULL, NULL, NULL, NULL)"},
      {"xml", "<F>1.234567890123460000</F>", "<NAME>blank</NAME><F/><N/><D/><L/>"},
      {"html", ">1.234567890123460000 <", "<td>blank </td><td align=right>&nbsp;</td><td align=right>&nbsp;</td>"},
      {"clipper", "REPLACE F WITH 1.234567890123460000", "REPLACE NAME WITH 'blank'\n"},
      {"foxpro", "REPLACE F WITH 1.234567890123460000", "REPLACE NAME WITH 'blank'\n"},
  };
  for (const Case& c : cases) {
    std::string out;
    ASSERT_EQ(test::run_command("cd '" + dir.path() + "' && ./kora /x:" + c.format + " t.dbf -", out), 0) << c.format;
    EXPECT_NE(out.find(c.filled), std::string::npos) << c.format << ":\n" << out;
    EXPECT_NE(out.find(c.blank), std::string::npos) << c.format << ":\n" << out;
    if (std::string(c.format) == "clipper" || std::string(c.format) == "foxpro") {
      EXPECT_EQ(out.find("WITH 0\n"), std::string::npos) << out;
      EXPECT_EQ(out.find(".F."), std::string::npos) << out;
    }
  }
  std::string read;
  ASSERT_EQ(test::run_command("cd '" + dir.path() + "' && ./kora /x:dbf t.dbf out.dbf && /usr/bin/python3 -c \""
                              "import dbfread\nfor r in dbfread.DBF('out.dbf', load=True): print(list(r.values()))\" && "
                              "tail -c +201 out.dbf | head -c 20", read), 0) << read;
  EXPECT_NE(read.find("['blank', None, None, None, None]"), std::string::npos) << read;
  EXPECT_NE(read.find("1.234567890123460000"), std::string::npos) << read;
}

// A table whose memo file is missing is exported with one warning; a field
// of a type letter kora does not know is exported as the text it holds.
TEST(BatchExport, AMissingMemoFileIsToldOnceAndAnUnknownTypeGivesItsText) {
  TempDir dir;
  std::string program = program_in(dir, "[Export]\nMemoAsText=1\nOverwrite=1\n");
  dir.copy_fixture("infused-dbf/dbase_83_missing_memo.dbf", "memo.dbf");
  std::string err;
  ASSERT_EQ(test::run_command("cd '" + dir.path() + "' && '" + program + "' /x:csv memo.dbf - 2>&1 >/dev/null", err), 0);
  EXPECT_EQ(err, "kora: memo.dbf: warning: no memo file memo.dbt: memo texts are not exported\n");

  std::string intact = dir.copy_fixture("infused-dbf/dbase_03.dbf", "intact.dbf");
  std::string odd = dir.copy_fixture("infused-dbf/dbase_03.dbf", "odd.dbf");
  std::vector<uint8_t> bytes = test::read_bytes(odd);
  bytes[32 + 2 * 32 + 11] = '7';  // Shape C(20)
  test::write_bytes(odd, bytes);
  std::string expected, got;
  ASSERT_EQ(test::run_command("'" + program + "' /x:csv '" + intact + "' -", expected), 0);
  ASSERT_EQ(test::run_command("'" + program + "' /x:csv '" + odd + "' - 2>&1", got), 0);
  EXPECT_EQ(got, expected);
}

// A condition on the command line is UTF-8, whatever the table's code page:
// it finds in a 866 and in a 1251 table the records Python finds, and a
// character the text cannot hold is refused with the reason.
TEST(BatchExport, AUtf8ConditionFindsTheRecordsPythonFinds) {
  TempDir dir;
  std::string program = program_in(dir, "");
  const std::vector<std::string> names = {"петров", "сидоров", "иванов", "petrov"};
  for (const char* codec : {"cp866", "cp1251"}) {
    SCOPED_TRACE(codec);
    test::DbfLayout layout;
    layout.code_page_mark = std::string(codec) == "cp866" ? 0x65 : 0xC9;
    layout.fields = {{"RN", 'N', 3}, {"NAME", 'C', 10}};
    std::string encoded;
    ASSERT_EQ(test::run_command("/usr/bin/python3 -c \"import sys\nfor n in sys.argv[2:]: "
                                "sys.stdout.buffer.write(n.encode(sys.argv[1]).ljust(10) + b'|')\" " +
                                    std::string(codec) + " " + names[0] + " " + names[1] + " " + names[2] + " " + names[3],
                                encoded),
              0);
    for (size_t k = 0; k < names.size(); ++k)
      layout.records.push_back("  " + std::to_string(k + 1) + encoded.substr(11 * k, 10));
    test::write_bytes(dir.file("t.dbf"), test::build_dbf(layout));
    for (const char* condition : {"NAME='петров'", "NAME='сидоров'", "NAME<>'иванов'"}) {
      std::string mine, theirs;
      ASSERT_EQ(test::run_command("cd '" + dir.path() + "' && ./kora \"/f:" + condition + "\" /x:csv t.dbf - | "
                                  "cut -d, -f1 | tail -n +2 | tr -d '\\r'", mine), 0) << condition;
      std::string op = std::string(condition).find("<>") != std::string::npos ? "!=" : "==";
      std::string value = std::string(condition).substr(std::string(condition).find('\'') + 1);
      value.pop_back();
      ASSERT_EQ(test::run_command("/usr/bin/python3 -c \"import dbfread, sys\nfor r in dbfread.DBF('" + dir.file("t.dbf") +
                                      "', encoding='" + codec + "'):\n  if r['NAME'].strip() " + op +
                                      " sys.argv[1]: print(r['RN'])\" '" + value + "'", theirs), 0);
      EXPECT_EQ(mine, theirs) << condition;
      EXPECT_FALSE(theirs.empty()) << condition;
    }
  }
  std::string err;
  EXPECT_EQ(test::run_command("cd '" + dir.path() + "' && ./kora \"/f:NAME='Ǆ'\" /x:csv t.dbf - 2>&1 >/dev/null", err), 2);
  EXPECT_NE(err.find("the condition holds Ǆ"), std::string::npos) << err;
  // A table in another code page compares in its own: the condition is
  // turned into it, or refused when the page cannot hold a character.
  for (const char* name : {"latin2", "big5"}) {
    dir.copy_fixture(std::string("mapshaper/dbf/cpg/") + name + ".dbf", std::string(name) + ".dbf");
    dir.copy_fixture(std::string("mapshaper/dbf/cpg/") + name + ".cpg", std::string(name) + ".cpg");
  }
  std::string out;
  // CSV is written in UTF-8 whatever the table's page.
  ASSERT_EQ(test::run_command("cd '" + dir.path() + "' && ./kora \"/f:NAME='čeština'\" /x:csv latin2.dbf -", out), 0);
  EXPECT_EQ(out, "NAME\r\nčeština\r\n");
  ASSERT_EQ(test::run_command("cd '" + dir.path() + "' && ./kora \"/f:NAME='國語'\" /x:csv big5.dbf -", out), 0);
  EXPECT_EQ(out, "NAME\r\n國語\r\n");
  EXPECT_EQ(test::run_command("cd '" + dir.path() + "' && ./kora \"/f:NAME='國'\" /x:csv latin2.dbf - 2>&1 >/dev/null", err), 2);
  EXPECT_NE(err.find("國 cannot be stored in code page ISO-8859-2"), std::string::npos) << err;
}

// An XML export of a table in a code page other than 866 and 1251 declares
// that page, so that an XML reader reads the characters dbfread reads.
TEST(BatchExport, XmlOfATableInAnotherCodePageDeclaresIt) {
  TempDir dir;
  std::string program = program_in(dir, "");
  for (const char* name : {"latin2", "koi8r"}) {
    dir.copy_fixture(std::string("mapshaper/dbf/cpg/") + name + ".dbf", std::string(name) + ".dbf");
    dir.copy_fixture(std::string("mapshaper/dbf/cpg/") + name + ".cpg", std::string(name) + ".cpg");
    std::string out;
    ASSERT_EQ(test::run_command("cd '" + dir.path() + "' && ./kora /x:xml " + name + ".dbf " + name + ".xml && "
                                "/usr/bin/python3 -c \"import sys, dbfread, xml.etree.ElementTree as E\n"
                                "mine = [e.text for e in E.parse(sys.argv[1] + '.xml').getroot().iter('NAME')]\n"
                                "theirs = [r['NAME'] for r in dbfread.DBF(sys.argv[1] + '.dbf', encoding=sys.argv[2])]\n"
                                "print(mine == theirs, mine)\" " + name + " " +
                                    (std::string(name) == "latin2" ? "iso-8859-2" : "koi8_r"),
                                out), 0) << name;
    EXPECT_EQ(out.rfind("True", 0), 0u) << name << ": " << out;
  }
  // /cp: chooses the page a batch run reads the table in: cp850.dbf is
  // marked 1252 by its writer.
  dir.copy_fixture("dbase-rs/cp850.dbf", "cp850.dbf");
  std::string out;
  ASSERT_EQ(test::run_command("cd '" + dir.path() + "' && ./kora /cp:850 /x:xml cp850.dbf cp850.xml && /usr/bin/python3 -c "
                              "\"import xml.etree.ElementTree as E\n"
                              "print([e.text for e in E.parse('cp850.xml').getroot().iter('TEXT')])\"", out), 0);
  EXPECT_EQ(out, "['\u00c4\u00f6\u00fc!\u00a7$%&/']\n");
}

// /e: names the code page text is written in; without it CSV is UTF-8 and
// the other text formats keep the table's page. A character the page
// cannot hold fails the run with its record and field named and writes no
// file; an unknown page, or one given to a DBF export, is a usage error.
TEST(BatchExport, TheOutputCodePageComesFromSlashE) {
  TempDir dir;
  std::string program = dir.file("kora");
  ASSERT_EQ(symlink(KORA_BINARY_DIR "/kora", program.c_str()), 0);
  dir.copy_fixture("mapshaper/dbf/cpg/win1251.dbf", "t.dbf");
  dir.copy_fixture("mapshaper/dbf/cpg/win1251.cpg", "t.cpg");
  const std::string russian_1251 = "\xD0\xD3\xD1\xD1\xCA\xC8\xC9", russian_866 = "\x90\x93\x91\x91\x8A\x88\x89";
  struct Case {
    const char* args;
    int status;
    std::string starts;  // the output's first bytes, or standard error's text
  };
  const Case cases[] = {
      {"/x:csv t.dbf out", 0, "NAME\r\nРУССКИЙ\r\n"},
      {"/x:txt t.dbf out", 0, "NAME\nРУССКИЙ"},
      {"/x:txt /e:1251 t.dbf out", 0, "NAME\n" + russian_1251},
      {"/x:csv /e:866 t.dbf out", 0, "NAME\r\n" + russian_866 + "\r\n"},
      {"/x:txt /e:utf-8 t.dbf out", 0, "NAME\nРУССКИЙ"},
      {"/x:xml /e:cp866 t.dbf out", 0, "<?xml version=\"1.0\" encoding=\"IBM866\"?>"},
      {"/x:txt /e:1252 t.dbf out", 1, "kora: t.dbf: Record 1, field NAME: Р cannot be stored in code page 1252\n"},
      {"/x:csv /e:klingon t.dbf out", 2, "kora: /e:klingon: unknown code page"},
      {"/x:dbf /e:866 t.dbf out", 2, "kora: /e:866: a dbf export keeps the table's code page"},
      {"/x:jsonl /e:866 t.dbf out", 2, "kora: /e:866: a jsonl export is written in UTF-8"},
  };
  for (const Case& c : cases) {
    std::string err;
    int status = test::run_command("cd '" + dir.path() + "' && rm -f out && ./kora " + c.args + " 2>&1 >/dev/null", err);
    EXPECT_EQ(status, c.status) << c.args << ": " << err;
    if (c.status != 0) {
      EXPECT_EQ(err.rfind(c.starts, 0), 0u) << c.args << ": " << err;
      EXPECT_FALSE(test::file_exists(dir.file("out"))) << c.args;
      continue;
    }
    std::vector<uint8_t> bytes = test::read_bytes(dir.file("out"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).substr(0, c.starts.size()), c.starts) << c.args;
  }
}

}  // namespace
}  // namespace kora
