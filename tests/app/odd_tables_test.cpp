// Layouts real writers produce, each built here: a one-field table whose
// descriptor fills a 64-byte header with no 0x0D after it, a table whose
// count ends at an end mark with stale records after it, Character values
// with NULs inside and after them, and a header of size 0. Each reads as its
// bytes hold, in the batch CSV as python3-dbfread reads it where dbfread
// can, and viewing, editing one record and packing keep its reading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "program_driver.h"
#include "table/byte_order.h"
#include "table/field_write.h"
#include "table/record_ops.h"
#include "ui/screen.h"

namespace kora {
namespace {

using namespace std::string_literals;
using test::TempDir;

// dbfread's reading as CSV in the form of kora's batch export.
constexpr const char* kDbfreadCsv = R"(
import csv, sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding='latin1')
w = csv.writer(sys.stdout, lineterminator='\r\n')
w.writerow(t.field_names)
for r in t: w.writerow(['' if v is None else v for v in r.values()])
)";

struct BatchRun {
  int status = -1;
  std::string out;
};

BatchRun batch(const std::string& program, const std::string& args) {
  BatchRun run;
  run.status = test::run_command("'" + program + "' " + args + " 2>&1", run.out);
  return run;
}

// Whether some row of the screen shows `text`.
bool shown(std::u32string_view text) {
  for (int y = 0; y < screen_rows(); ++y) {
    std::u32string row;
    for (int x = 0; x < screen_cols(); ++x) row += screen_cell(x, y)->ch;
    if (row.find(text) != std::u32string::npos) return true;
  }
  return false;
}

std::vector<uint8_t> with_byte(std::vector<uint8_t> bytes, size_t at, uint8_t value) {
  bytes.at(at) = value;
  return bytes;
}

struct Layout {
  const char* name;
  std::vector<uint8_t> bytes;
  std::string csv;           // kora /x:csv, or the reason it is refused
  int odd_layout = 0;        // what the open finds
  bool dbfread_reads = true;  // dbfread needs the 0x0D after the descriptors
  uint32_t record = 0;       // the record edited, its field and value
  int field = 0;
  const char* value = "";
  std::string edited_csv;    // after the edit, and after the pack
  int odd_after_pack = 0;
};

std::vector<Layout> layouts() {
  test::DbfSpec one_field;  // the descriptor fills the header: no 0x0D
  one_field.fields = {{"NAME", 'C', 5}};
  one_field.header_size = 64;
  one_field.records = {"alpha", "bravo", "gamma"};
  one_field.deleted = {false, true, false};

  test::DbfSpec cut;  // three records, then a mark and two stale ones
  cut.fields = {{"NAME", 'C', 5}, {"N", 'N', 2}};
  cut.records = {"alpha 1", "bravo 2", "delta 3", "stale 4", "older 5"};
  cut.deleted = {false, true, false};
  cut.stored_count = 3;
  std::vector<uint8_t> cut_bytes = with_byte(test::build_dbf(cut), 32 + 64 + 1 + 3 * 8, 0x1A);

  test::DbfSpec nuls;
  nuls.fields = {{"NAME", 'C', 6}, {"N", 'N', 2}};
  nuls.records = {"\0reak  1"s, "ab\0\0\0\0 2"s, "x\0y    3"s, "plain  4", "gone   5"};
  nuls.deleted = {false, false, false, false, true};

  test::DbfSpec no_room;  // version 0xFB, and a header size of 0
  no_room.version = 0xFB;
  no_room.fields = {{"NAME", 'C', 5}};
  no_room.records = {"alpha"};
  std::vector<uint8_t> no_room_bytes = with_byte(with_byte(test::build_dbf(no_room), 8, 0), 9, 0);

  return {
      {"no terminator", test::build_dbf(one_field), "NAME\r\nalpha\r\ngamma\r\n", kNoFieldTerminator, false, 2, 0,
       "zulu", "NAME\r\nalpha\r\nzulu\r\n", kNoFieldTerminator},
      {"bytes after the end mark", cut_bytes, "NAME,N\r\nalpha,1\r\ndelta,3\r\n", kBytesAfterEndMark, true, 2, 1,
       "9", "NAME,N\r\nalpha,1\r\ndelta,9\r\n", 0},
      {"NULs in text", test::build_dbf(nuls), "NAME,N\r\n\0reak,1\r\nab,2\r\nx\0y,3\r\nplain,4\r\n"s, 0, true, 0,
       1, "7", "NAME,N\r\n\0reak,7\r\nab,2\r\nx\0y,3\r\nplain,4\r\n"s, 0},
      {"header size 0", no_room_bytes,
       "kora: t.dbf: Cannot open file: The header is too small for the field list: the header says 0\n", 0, false, 0,
       0, "", "", 0},
  };
}

TEST(OddTables, EachLayoutReadsAsItsBytesHoldThroughViewingEditingAndPacking) {
  for (const Layout& c : layouts()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string program = test::program_in(dir, "");
    std::string path = dir.file("t.dbf");
    test::write_bytes(path, c.bytes);
    const std::string csv = "cd '" + dir.path() + "' && '" + program + "' /x:csv t.dbf -";
    BatchRun exported;
    exported.status = test::run_command(csv + " 2>&1", exported.out);
    EXPECT_EQ(exported.out, c.csv);
    EXPECT_EQ(test::read_bytes(path), c.bytes);
    OpenFailure why;
    auto table = open_table(path, &why);
    if (c.edited_csv.empty()) {  // refused, and left alone
      EXPECT_EQ(exported.status, 2);
      EXPECT_FALSE(table);
      EXPECT_EQ(why.status, Status::kBadHeaderSize);
      continue;
    }
    ASSERT_TRUE(table);
    EXPECT_EQ(table->header_errors, 0);  // nothing to repair, nothing asked
    EXPECT_EQ(table->odd_layout, c.odd_layout);
    if (c.dbfread_reads) {
      std::string script = kDbfreadCsv, theirs;
      test::write_bytes(dir.file("read.py"), std::vector<uint8_t>(script.begin(), script.end()));
      test::run_command("/usr/bin/python3 " + dir.file("read.py") + " " + path, theirs);
      EXPECT_EQ(theirs, c.csv);
    }

    // Viewing: the program browses the table and writes nothing; a NUL inside
    // a value shows as the symbol for NUL.
    bool nul_shown = false;
    test::on_screen_wait() = [&] { nul_shown = nul_shown || shown(U"\u2400reak"); };
    test::run_kora({path}, {test::kCtrlEnd, test::kCtrlHome, test::kF10});
    test::on_screen_wait() = nullptr;
    EXPECT_EQ(test::read_bytes(path), c.bytes);
    EXPECT_EQ(nul_shown, c.csv.find("\0reak"s) != std::string::npos);

    // Editing one field of one record writes that field's bytes and no other.
    ASSERT_TRUE(read_record(*table, c.record));
    ASSERT_EQ(set_field_text(*table, c.field, c.value), FieldWrite::kStored);
    ASSERT_TRUE(write_record(*table, c.record));
    std::vector<uint8_t> edited = test::read_bytes(path);
    ASSERT_EQ(edited.size(), c.bytes.size());
    size_t first = table->header_size + size_t(c.record) * table->record_size + table->fields[size_t(c.field)].offset;
    size_t end = first + size_t(field_length(*table, c.field));
    for (size_t k = 0; k < edited.size(); ++k) {
      if (k < first || k >= end) {
        EXPECT_EQ(edited[k], c.bytes[k]) << "byte " << k;
      }
    }
    EXPECT_EQ(batch(program, "/x:csv " + path + " -").out, c.edited_csv);

    // Packing drops the deleted record and keeps the layout's reading; no
    // 0x0D is added after a list that had none.
    ASSERT_EQ(pack_table(*table, 1), 1);
    table.reset();
    auto packed = open_table(path);
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->header_errors, 0);
    EXPECT_EQ(packed->odd_layout, c.odd_after_pack);
    EXPECT_EQ(packed->header_size, get_le16(&c.bytes[8]));
    EXPECT_EQ(test::file_size(path), long(packed->header_size + packed->record_count * packed->record_size + 1));
    EXPECT_EQ(batch(program, "/x:csv " + path + " -").out, c.edited_csv);
  }
}

// Sorts and filters take a NUL inside a text as the character 0.
TEST(OddTables, ANulInsideATextSortsAndFiltersAsTheCharacterZero) {
  TempDir dir;
  std::string program = test::program_in(dir, "");
  test::DbfSpec layout;
  layout.fields = {{"NAME", 'C', 6}};
  layout.records = {"plain", "x\0y"s, "\0reak"s, "ab\0\0\0\0"s, "x"};
  std::string path = dir.file("t.dbf");
  test::write_bytes(path, test::build_dbf(layout));
  EXPECT_EQ(batch(program, "/x:csv /s:NAME " + path + " -").out, "NAME\r\n\0reak\r\nab\r\nplain\r\nx\0y\r\nx\r\n"s);
  EXPECT_EQ(batch(program, "'/x:csv' '/f:NAME~\"y\"' " + path + " -").out, "NAME\r\nx\0y\r\n"s);
  EXPECT_EQ(batch(program, "'/x:jsonl' '/f:NAME<\"a\"' " + path + " -").out, "{\"NAME\":\"\\u0000reak\"}\n");
}

}  // namespace
}  // namespace kora
