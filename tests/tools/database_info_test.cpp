// The facts of Database info: the twelve lines for tables with and without a
// memo file, the header date in the four date formats, a table past 2 GiB.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "table/byte_order.h"
#include "table/memo_file.h"
#include "tools/database_info.h"

namespace kora {
namespace {

using namespace kora::test;

// A table with the header date 1 December 2002 (year byte 102).
std::string write_table(const TempDir& dir, uint8_t version, std::vector<FieldSpec> fields, int records) {
  DbfLayout layout;
  layout.version = version;
  layout.fields = std::move(fields);
  layout.records.assign(size_t(records), "x");
  std::vector<uint8_t> bytes = build_dbf(layout);
  bytes[1] = 102, bytes[2] = 12, bytes[3] = 1;
  std::string path = dir.file("info.dbf");
  write_bytes(path, bytes);
  return path;
}

TEST(DatabaseInfo, TableWithoutMemoGivesTenLinesAndNamesItsIndexFiles) {
  TempDir dir;
  std::string path = write_table(dir, 0x03, {{"NAME", 'C', 10}, {"QTY", 'N', 5}}, 3);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  table->date_format = 1;
  DatabaseInfo info = database_info(*table);
  EXPECT_FALSE(info.has_memo);
  EXPECT_EQ(database_info_text(info), "File:\t" + path +
                                          "\nType:\tdBase III\nLast updated:\t01.12.2002\n"
                                          "File    size:\t146 bytes\nHeader  size:\t97 bytes\n"
                                          "Record  size:\t16 bytes\nRecord count:\t3\nFields count:\t2\n"
                                          "Index files:\tNone\nMemo-fields:\tNo\n");
  for (int i = kDatabaseInfoLines - kMemoInfoLines; i < kDatabaseInfoLines; ++i) {
    EXPECT_EQ(info.lines[size_t(i)].value, "") << info.lines[size_t(i)].label;
  }
  // Index files named like the table, in any case; others are not its.
  size_t dot = path.rfind('.'), slash = path.rfind('/');
  std::string stem = path.substr(slash + 1, dot - slash - 1);
  for (const std::string& name : {stem + ".NTX", stem + ".cdx", stem + ".txt", std::string("other.cdx")})
    write_bytes(dir.file(name), {0});
  EXPECT_EQ(database_info(*table).lines[8].value, stem + ".NTX, " + stem + ".cdx");
}

TEST(DatabaseInfo, TableWithMemoShowsItsMemoFile) {
  TempDir dir;
  std::string path = write_table(dir, 0xF5, {{"NAME", 'C', 10}, {"NOTES", 'M', 4}}, 1);
  ASSERT_TRUE(create_memo_file(path, kFoxPro, 64));
  auto table = open_table(path);
  ASSERT_TRUE(table);
  table->date_format = 3;
  DatabaseInfo info = database_info(*table);
  EXPECT_EQ(database_info_text(info), "File:\t" + path +
                                          "\nType:\tFoxPro\nLast updated:\t2002.12.01\n"
                                          "File    size:\t113 bytes\nHeader  size:\t97 bytes\n"
                                          "Record  size:\t15 bytes\nRecord count:\t1\nFields count:\t2\n"
                                          "Index files:\tNone\nMemo-fields:\tYes\nMemo-file:\t" + dir.file("info.fpt") +
                                          "\nMemo-file size:\t512 bytes\nBlocksize:\t64 bytes\n");
}

TEST(DatabaseInfo, HeaderDateInEveryDateFormat) {
  const struct {
    int format;
    const char* text;
  } cases[] = {{0, "01.12.2002"}, {1, "01.12.2002"}, {2, "12.01.2002"}, {3, "2002.12.01"}};
  for (const auto& c : cases) EXPECT_EQ(format_header_date(2002, 12, 1, c.format), c.text) << c.format;
}

TEST(DatabaseInfo, SizesAndCountsPastTwoAndFourGigabytes) {
  // A sparse file: 3 GiB of records of 2 bytes, more than 2^31 bytes and
  // 1.6 billion records.
  TempDir dir;
  std::string path = write_table(dir, 0x03, {{"F", 'C', 1}}, 0);
  const uint64_t size = 3ull << 30;
  // The header says so: a count of 0 ending at the end mark would stand.
  std::vector<uint8_t> bytes = test::read_bytes(path);
  put_le32(&bytes[4], uint32_t((size - 65) / 2));
  test::write_bytes(path, bytes);
  ASSERT_EQ(truncate(path.c_str(), off_t(size)), 0);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  DatabaseInfo info = database_info(*table);
  EXPECT_EQ(info.lines[3].value, "3221225472 bytes");
  EXPECT_EQ(info.lines[6].value, std::to_string((size - 65) / 2));
}

}  // namespace
}  // namespace kora
