// JSON numbers from stored digits, JSON strings and base64: the forms the
// JSON Lines and SQLite outputs are made of; both outputs of a table with a
// value of every type, read back exactly (SQLite through the sqlite3 command).
#include <gtest/gtest.h>

#include <cstring>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "table/value_codec.h"
#include "tools/jsonl_export.h"
#include "tools/typed_values.h"

namespace kora {
namespace {

TEST(TypedValues, StoredDigitsBecomeExactJsonNumbers) {
  const struct {
    const char* stored;
    const char* json;  // nullptr: no number
  } kCases[] = {
      {"   12.50", "12.50"}, {"-.5", "-0.5"},          {"5.", "5"},      {"  007", "7"},
      {"-0.00", "0.00"},    {"+3", "3"},               {"1,25", "1.25"}, {"0", "0"},
      {"1.5E+10", "1.5E+10"}, {"123456789012345678.12", "123456789012345678.12"},
      {"*****", nullptr},   {"      ", nullptr},       {".", nullptr},   {"1.2.3", nullptr},
      {"12 3", nullptr},    {"1e", nullptr},           {"abc", nullptr}, {"-", nullptr},
  };
  for (const auto& c : kCases) {
    std::string out;
    EXPECT_EQ(json_number(c.stored, out), c.json != nullptr) << c.stored;
    if (c.json) {
      EXPECT_EQ(out, c.json) << c.stored;
    }
  }
}

TEST(TypedValues, TextsAndBytesAreEscapedForJson) {
  std::string out;
  append_json_string(out, std::string("a\"b\\c\n\t\x01\x1f \xd0\x96", 13));
  EXPECT_EQ(out, "\"a\\\"b\\\\c\\n\\t\\u0001\\u001f \xd0\x96\\u0000\"");
  out.clear();
  append_json_string(out, "0123456789abcdef\xd0\x96\"\x7f");
  EXPECT_EQ(out, "\"0123456789abcdef\xd0\x96\\\"\x7f\"");
  const char* const kBase64[][2] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xff\x00\x10", "/wAQ"}};
  for (const auto& [bytes, text] : kBase64) {
    out.clear();
    append_base64(out, std::string_view(bytes, bytes[0] == '\xff' ? 3 : std::strlen(bytes)));
    EXPECT_EQ(out, text);
  }
}

std::string le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += char(value >> (8 * i));
  return out;
}

// A Visual FoxPro table in code page 1251; the second record, deleted, holds
// blanks, an overflowed number and a text with a NUL inside.
std::unique_ptr<Table> every_type(const test::TempDir& dir) {
  test::DbfLayout layout;
  layout.version = 0x30;
  layout.code_page_mark = 0xC9;
  layout.fields = {{"NAME", 'C', 20}, {"QTY", 'N', 7, 2}, {"DAY", 'D', 8},   {"OK", 'L', 1},
                   {"COUNT", 'I', 4}, {"PRICE", 'Y', 8},  {"WEIGHT", 'B', 8, 2}, {"STAMP", 'T', 8},
                   {"NOTES", 'M', 4}, {"PICTURE", 'G', 4}, {"BIG", 'N', 21, 4}};
  layout.header_size = 32 + 32 * 11 + 1 + 263;
  double weight = 2.5, minus_one = -1;
  uint64_t weight_bits, minus_bits;
  std::memcpy(&weight_bits, &weight, 8);
  std::memcpy(&minus_bits, &minus_one, 8);
  layout.records = {
      std::string("\xC6\xF3\xEA \"q\"\\") + std::string(12, ' ') + "    -.5" + "20240131" + "T" + le(42, 4) +
          le(12345, 8) + le(weight_bits, 8) + le(uint64_t(julian_day_number(2024, 1, 31)), 4) + le(49530000, 4) +
          le(0, 4) + le(0, 4) + "1234567890123456.7891",
      std::string("abcdefghij\0zz", 13) + std::string(7, ' ') + "*******" + "        " + "?" + le(uint32_t(-7), 4) +
          le(0, 8) + le(minus_bits, 8) + le(0, 8) + le(0, 4) + le(0, 4) + "              12.5000"};
  layout.deleted = {false, true};
  std::string path = dir.file("t.dbf");
  test::write_bytes(path, test::build_dbf(layout));
  EXPECT_TRUE(create_memo_file(path, kVisualFoxPro, 64));
  auto table = open_table(path);
  if (table) set_code_page(*table, CodePage::of_number(1251));
  EXPECT_TRUE(table && read_record(*table, 0));
  EXPECT_TRUE(write_memo(*table, 8, "Line one\r\nline\ttwo"));
  EXPECT_TRUE(write_memo(*table, 9, std::string("\0\x01\xFF", 3), 0));
  EXPECT_TRUE(write_record(*table, 0));
  return table;
}

TEST(TypedValues, JsonLinesAndSqliteCarryEveryTypeExactly) {
  test::TempDir dir;
  std::unique_ptr<Table> table = every_type(dir);
  ExportOptions o;
  o.format = ExportFormat::kJsonl;
  o.delete_mark = true;
  OutputGuard guard{{table->file_name}, [](const std::string&) { return true; }};
  ASSERT_TRUE(export_table(*table, dir.file("t.jsonl"), o, guard).ok());
  std::vector<uint8_t> bytes = test::read_bytes(dir.file("t.jsonl"));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "{\"_deleted\":false,\"NAME\":\"\xD0\x96\xD1\x83\xD0\xBA \\\"q\\\"\\\\\",\"QTY\":-0.5,\"DAY\":\"2024-01-31\","
            "\"OK\":true,\"COUNT\":42,\"PRICE\":1.2345,\"WEIGHT\":2.5,\"STAMP\":\"2024-01-31T13:45:30\","
            "\"NOTES\":\"Line one\\r\\nline\\ttwo\",\"PICTURE\":\"AAH/\",\"BIG\":1234567890123456.7891}\n"
            "{\"_deleted\":true,\"NAME\":\"abcdefghij\\u0000zz\",\"QTY\":null,\"DAY\":null,\"OK\":null,\"COUNT\":-7,"
            "\"PRICE\":0.0000,\"WEIGHT\":-1,\"STAMP\":null,\"NOTES\":null,\"PICTURE\":null,\"BIG\":12.5000}\n");

  // A REAL cannot hold 20 digits: the nearest one is written, and said.
  o.format = ExportFormat::kSqlite;
  ExportResult written = export_table(*table, dir.file("t.sqlite"), o, guard);
  ASSERT_TRUE(written.ok());
  EXPECT_EQ(written.warnings, std::vector<std::string>{
                                  "field BIG: 1 numbers too long for a SQLite REAL were rounded to one"});
  std::string rows;
  test::run_command("sqlite3 " + dir.file("t.sqlite") +
                        " \"SELECT _deleted, NAME, QTY, typeof(QTY), DAY, OK, COUNT, PRICE, WEIGHT, STAMP, NOTES,"
                        " hex(PICTURE), typeof(PICTURE), BIG FROM t\"",
                    rows);
  EXPECT_EQ(rows,
            "0|\xD0\x96\xD1\x83\xD0\xBA \"q\"\\|-0.5|real|2024-01-31|1|42|1.2345|2.5|2024-01-31T13:45:30|"
            "Line one\r\nline\ttwo|0001FF|blob|1.23456789012346e+15\n"
            "1|abcdefghij||null|||-7|0|-1.0||||null|12.5\n");
  // A run stopped halfway leaves the database as it was.
  o.copy_deleted = false;
  ExportResult stopped =
      export_table(*table, dir.file("t.sqlite"), o, guard, [](uint64_t, uint64_t) { return false; });
  EXPECT_EQ(stopped.status, Status::kAborted);
  rows.clear();
  test::run_command("sqlite3 " + dir.file("t.sqlite") + " 'SELECT count(*) FROM t'", rows);
  EXPECT_EQ(rows, "2\n");
}

}  // namespace
}  // namespace kora
