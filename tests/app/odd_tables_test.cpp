// Layouts real writers produce, built here: a one-field table whose descriptor
// fills a 64-byte header (no 0x0D), a count ending at an end mark with stale
// records after it, NULs inside and after texts, and a header of size 0.
#include <gtest/gtest.h>

#include <algorithm>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "program_driver.h"
#include "table/field_write.h"
#include "table/record_ops.h"

namespace kora {
namespace {

using namespace std::string_literals;

struct Layout {
  std::vector<uint8_t> bytes;
  std::string csv, filtered;  // kora /x:csv (or why it is refused), and with /f:NAME~"a"
  int odd = 0, odd_after_pack = 0;
  bool dbfread = true;  // dbfread needs a 0x0D after the descriptors
  std::string edited;   // the csv after field `field` of record 2 becomes "9"
  int field = 0;
};

// Every second record deleted; `changes` are then made to the bytes.
std::vector<uint8_t> build(std::vector<test::FieldSpec> fields, std::vector<std::string> records, int header_size,
                           int count, std::vector<std::pair<size_t, uint8_t>> changes = {}) {
  test::DbfLayout layout;
  layout.fields = fields, layout.records = records, layout.header_size = header_size, layout.stored_count = count;
  layout.deleted = {false, true};
  std::vector<uint8_t> bytes = test::build_dbf(layout);
  for (auto [at, byte] : changes) bytes[at] = byte;
  return bytes;
}

TEST(OddTables, EachReadsAsItsBytesHoldThroughViewingEditingAndPacking) {
  const std::vector<test::FieldSpec> one = {{"NAME", 'C', 5}}, two = {{"NAME", 'C', 6}, {"N", 'N', 2}};
  const Layout layouts[] = {
      {build(one, {"alpha", "bravo", "gamma"}, 64, -1), "NAME\r\nalpha\r\ngamma\r\n", "NAME\r\nalpha\r\ngamma\r\n",
       kNoFieldTerminator, kNoFieldTerminator, false, "NAME\r\nalpha\r\n9\r\n"},
      {build(two, {"alpha  1", "bravo  2", "delta  3", "stale  4", "stale  5"}, -1, 3, {{97 + 3 * 9, 0x1A}}),
       "NAME,N\r\nalpha,1\r\ndelta,3\r\n", "NAME,N\r\nalpha,1\r\ndelta,3\r\n", kBytesAfterEndMark, 0, true,
       "NAME,N\r\nalpha,1\r\ndelta,9\r\n", 1},
      {build(two, {"\0reak  1"s, "gone   2", "x\0a    3"s, "ab\0\0\0\0 4"s}, -1, -1),
       "NAME,N\r\n\0reak,1\r\nx\0a,3\r\nab,4\r\n"s, "NAME,N\r\n\0reak,1\r\nx\0a,3\r\nab,4\r\n"s, 0, 0, true,
       "NAME,N\r\n\0reak,1\r\nx\0a,9\r\nab,4\r\n"s, 1},
      {build(one, {"alpha"}, -1, -1, {{0, 0xFB}, {8, 0}}),
       "kora: t.dbf: Cannot open file: The header is too small for the field list: the header says 0\n", "", 0, 0,
       false, "", 0},
  };
  for (const Layout& c : layouts) {
    SCOPED_TRACE(c.csv);
    test::TempDir dir;
    std::string program = test::program_in(dir, ""), path = dir.file("t.dbf"), out;
    auto csv = [&](const std::string& args) {
      test::run_command("cd " + dir.path() + " && ./kora " + args + " t.dbf - 2>&1", out);
      return out;
    };
    test::write_bytes(path, c.bytes);
    EXPECT_EQ(csv("/x:csv"), c.csv);
    EXPECT_EQ(test::read_bytes(path), c.bytes);
    auto table = open_table(path);
    ASSERT_EQ(table != nullptr, !c.edited.empty());
    if (!table) continue;
    EXPECT_EQ(csv("'/f:NAME~\"a\"' /x:csv"), c.filtered);
    EXPECT_EQ(table->header_errors, 0);  // nothing to repair, nothing asked
    EXPECT_EQ(table->odd_layout, c.odd);
    if (c.dbfread) {
      test::run_command("/usr/bin/python3 -c 'import csv,sys,dbfread\nw=csv.writer(sys.stdout,lineterminator=\"\\r\\n\")\n"
                        "t=dbfread.DBF(sys.argv[1])\nw.writerow(t.field_names)\nfor r in t: w.writerow(r.values())' " +
                            path,
                        out);
      EXPECT_EQ(out, c.csv);
    }

    // Viewing writes nothing; a NUL inside a text shows as the symbol for NUL.
    bool nul_shown = false;
    test::on_screen_wait() = [&] { nul_shown |= screen_cell(3, 4)->ch == kNulSymbol; };
    test::run_kora({path}, {test::kCtrlEnd, test::kCtrlHome, test::kF10});
    test::on_screen_wait() = nullptr;
    EXPECT_EQ(test::read_bytes(path), c.bytes);
    EXPECT_EQ(nul_shown, c.csv.find('\0') != std::string::npos);

    // Editing one field of one record writes that field's bytes and no other.
    ASSERT_TRUE(read_record(*table, 2) && set_field_text(*table, c.field, "9") == FieldWrite::kStored);
    ASSERT_TRUE(write_record(*table, 2));
    std::vector<uint8_t> edited = test::read_bytes(path);
    size_t first = table->header_size + 2 * table->record_size + table->fields[size_t(c.field)].offset;
    for (size_t k = 0; k < edited.size(); ++k) {
      if (k < first || k >= first + size_t(field_length(*table, c.field))) {
        EXPECT_EQ(edited[k], c.bytes[k]) << k;
      }
    }
    EXPECT_EQ(csv("/x:csv"), c.edited);

    // Packing drops the deleted record and keeps the reading; no 0x0D is added.
    ASSERT_EQ(pack_table(*table, 1), 1);
    auto packed = open_table(path);
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->header_errors, 0);
    EXPECT_EQ(packed->odd_layout, c.odd_after_pack);
    EXPECT_EQ(packed->header_size, c.bytes[8] | c.bytes[9] << 8);
    long live = std::count(c.edited.begin(), c.edited.end(), '\n') - 1;
    EXPECT_EQ(test::file_size(path), packed->header_size + live * packed->record_size + 1);
    EXPECT_EQ(csv("/x:csv"), c.edited);
  }
}

}  // namespace
}  // namespace kora
