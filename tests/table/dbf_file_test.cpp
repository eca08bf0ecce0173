// Opening tables: the header check, the descriptors, repair and the table list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "support/dbf_builder.h"
#include "support/independent_readers.h"
#include "support/test_support.h"
#include "table/byte_order.h"
#include "table/dbf_file.h"
#include "table/record_ops.h"
#include "table/field_write.h"
#include "table/value_codec.h"

namespace kora {
namespace {

using test::build_dbf;
using test::DbfLayout;
using test::TempDir;

DbfLayout two_field_table(int records) {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 5}};
  for (int i = 0; i < records; ++i) layout.records.push_back("name" + std::to_string(i));
  return layout;
}

std::string write_table(const TempDir& dir, const DbfLayout& layout, const std::string& name = "t.dbf") {
  std::string path = dir.file(name);
  test::write_bytes(path, build_dbf(layout));
  return path;
}

TEST(TableOpen, ReadsHeaderAndDescriptors) {
  TempDir dir;
  auto table = open_table(write_table(dir, two_field_table(3)));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->header_errors, 0);
  EXPECT_EQ(table->record_count, 3u);
  EXPECT_EQ(table->record_size, 16);
  ASSERT_EQ(table->field_count(), 2);
  EXPECT_EQ(field_name(*table, 0), "NAME");
  EXPECT_EQ(table->fields[0].offset, 1);
  EXPECT_EQ(table->fields[1].offset, 11);
  EXPECT_EQ(field_type(*table, 1), 'N');
  EXPECT_EQ(table->first_memo_field, -1);
  EXPECT_EQ(column_field(*table, 1), 1);
  EXPECT_EQ(table->bak_file_name, dir.file("t.bak"));
}

TEST(TableOpen, RecordCountFollowsTheFileSize) {
  TempDir dir;
  // The header says 100 records; 90 whole ones and half of another are there.
  DbfLayout layout = two_field_table(90);
  layout.stored_count = 100;
  layout.end_of_file = false;
  std::vector<uint8_t> bytes = build_dbf(layout);
  bytes.insert(bytes.end(), 8, ' ');
  std::string path = dir.file("t.dbf");
  test::write_bytes(path, bytes);

  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->record_count, 90u);
  EXPECT_EQ(table->header_errors, kBadRecordCount);

  EXPECT_EQ(confirm_header_repair(*table, true, 0, [] { return 0; }), 0);  // Correct
  std::vector<uint8_t> after = test::read_bytes(path);
  EXPECT_EQ(get_le32(&after[4]), 90u);
  size_t end = size_t(table->header_size) + 90 * 16;
  EXPECT_EQ(after[end], 0x1A);
  EXPECT_EQ(after.size(), bytes.size());  // nothing cut off
}

// A repaired header is read by other software exactly as the intact table.
TEST(HeaderRepair, RepairedFixturesReadLikeTheOriginals) {
  for (const char* name : {"infused-dbf/dbase_03.dbf", "dbase-rs/stations.dbf", "infused-dbf/dbase_83.dbf"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    std::string original = dir.copy_fixture(name, "original.dbf");
    std::string damaged = dir.copy_fixture(name, "damaged.dbf");
    if (std::string(name).find("dbase_83") != std::string::npos) {
      test::copy_file(test::fixture("infused-dbf/dbase_83.dbt"), dir.file("original.dbt"));
      test::copy_file(test::fixture("infused-dbf/dbase_83.dbt"), dir.file("damaged.dbt"));
    }
    std::vector<uint8_t> bytes = test::read_bytes(damaged);
    put_le32(&bytes[4], get_le32(&bytes[4]) + 1000);  // a count far past the data
    bytes[0] = bytes[0] == 0x83 ? 0x83 : 0x05;         // and an unknown version byte
    test::write_bytes(damaged, bytes);

    auto table = open_table(damaged);
    ASSERT_TRUE(table);
    EXPECT_NE(table->header_errors & kBadRecordCount, 0);
    ASSERT_EQ(confirm_header_repair(*table, true, 0, [] { return 0; }), 0);
    table.reset();

    auto reopened = open_table(damaged);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->header_errors, 0);
    EXPECT_EQ(test::dbfread_dump(damaged), test::dbfread_dump(original));
    if (test::read_bytes(original)[0] == 0x03) {
      EXPECT_EQ(test::gdal_csv(damaged), test::gdal_csv(original));
    }
  }
}

TEST(TableOpen, TrailingEndOfFileByteIsNoError) {
  TempDir dir;
  auto table = open_table(write_table(dir, two_field_table(4)));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->header_errors, 0);
  EXPECT_EQ(table->record_count, 4u);
}

TEST(TableOpen, UnknownVersionIsReplacedInMemory) {
  TempDir dir;
  DbfLayout layout = two_field_table(1);
  layout.version = 0x00;
  auto plain = open_table(write_table(dir, layout, "a.dbf"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->header_errors, kBadVersion);
  EXPECT_EQ(plain->version(), 0x03);

  layout.version = 0x05;
  layout.fields.push_back({"NOTES", 'M', 10});
  auto with_memo = open_table(write_table(dir, layout, "b.dbf"));
  ASSERT_TRUE(with_memo);
  EXPECT_EQ(with_memo->header_errors, kBadVersion);
  EXPECT_EQ(with_memo->version(), 0xF5);
  EXPECT_EQ(with_memo->kind, kFoxPro);
  EXPECT_EQ(with_memo->first_memo_field, 2);
}

TEST(TableOpen, RecordSizeIsRecomputedAndWrittenBack) {
  TempDir dir;
  DbfLayout layout = two_field_table(2);
  layout.record_size = 99;
  std::string path = write_table(dir, layout);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->record_size, 16);
  ASSERT_EQ(write_header(*table), 1);
  EXPECT_EQ(get_le16(&test::read_bytes(path)[10]), 16);
}

TEST(TableOpen, UnknownTypeLettersInTheMajorityFailOnlyInAListThatIsNotSound) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"A", 'X', 2}, {"B", 'X', 2}, {"C", 'C', 2}};
  auto sound = open_table(write_table(dir, layout, "sound.dbf"));
  ASSERT_TRUE(sound);
  EXPECT_EQ(sound->header_errors, kBadFieldTypes);
  layout.record_size = 99;
  EXPECT_FALSE(open_table(write_table(dir, layout, "a.dbf")));

  layout.fields = {{"A", 'X', 2}, {"B", 'C', 2}, {"C", 'C', 2}};
  auto table = open_table(write_table(dir, layout, "b.dbf"));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->header_errors, kBadFieldTypes);
}

TEST(TableOpen, TableWithoutFieldsOpensWithBadFieldTypes) {
  TempDir dir;
  DbfLayout layout;
  layout.header_size = 65;
  auto table = open_table(write_table(dir, layout));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->field_count(), 0);
  EXPECT_EQ(table->header_errors & kBadFieldTypes, kBadFieldTypes);
  EXPECT_EQ(table->record_size, 1);
}

TEST(TableOpen, LongCharacterFieldUsesBothLengthBytes) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"TEXT", 'C', 300}, {"N", 'N', 4}};
  layout.records = {"hello"};
  std::string path = write_table(dir, layout);
  std::vector<uint8_t> bytes = test::read_bytes(path);
  EXPECT_EQ(bytes[32 + 16], 44);
  EXPECT_EQ(bytes[32 + 17], 1);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(field_length(*table, 0), 300);
  EXPECT_EQ(field_length_byte(*table, 0), 44);
  EXPECT_EQ(field_decimals(*table, 0), 1);
  EXPECT_EQ(table->record_size, 305);
  EXPECT_EQ(table->header_errors, 0);
}

TEST(TableOpen, DecimalsByteOnCharacterFieldsFallsBackToEightBits) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}, {"CITY", 'C', 8}};
  layout.records = {"Alice     Paris", "Bob       Rome"};
  std::vector<uint8_t> bytes = build_dbf(layout);
  bytes[32 + 17] = 2;  // a stray decimals byte, as some spreadsheet exports leave
  std::string path = dir.file("t.dbf");
  test::write_bytes(path, bytes);

  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_TRUE(table->char_length_8bit);
  EXPECT_EQ(field_length(*table, 0), 10);
  EXPECT_EQ(table->record_size, 19);
  EXPECT_EQ(table->record_count, 2u);
  EXPECT_EQ(table->header_errors, 0);
  ASSERT_EQ(read_record(*table, 1), 1);
  EXPECT_STREQ(field_raw_text(*table, 1), "Rome    ");
}

TEST(TableOpen, BadHeadersFailCleanly) {
  TempDir dir;
  std::vector<uint8_t> good = build_dbf(two_field_table(2));
  std::string path = dir.file("t.dbf");

  std::vector<uint8_t> truncated(good.begin(), good.begin() + 20);
  test::write_bytes(path, truncated);
  EXPECT_FALSE(open_table(path));

  for (int header_size : {0, 32, 64}) {
    std::vector<uint8_t> bytes = good;
    put_le16(&bytes[8], uint16_t(header_size));
    test::write_bytes(path, bytes);
    EXPECT_FALSE(open_table(path)) << header_size;
  }

  std::vector<uint8_t> no_descriptors(good.begin(), good.begin() + 32);
  test::write_bytes(path, no_descriptors);
  EXPECT_FALSE(open_table(path));

  EXPECT_FALSE(open_table(dir.file("missing.dbf")));
}

TEST(TableOpen, EveryFailureNamesItsCause) {
  TempDir dir;
  std::vector<uint8_t> good = build_dbf(two_field_table(2));
  auto cut = [&](size_t n) { return std::vector<uint8_t>(good.begin(), good.begin() + long(n)); };
  auto header_size = [&](uint16_t size) {
    std::vector<uint8_t> bytes = good;
    put_le16(&bytes[8], size);
    return bytes;
  };
  DbfLayout unknown;
  unknown.fields = {{"A", 'X', 2}, {"B", 'X', 2}, {"C", 'C', 2}};
  unknown.record_size = 99;  // and a list that does not read as a table's otherwise
  DbfLayout wide;
  wide.fields = {{"A", 'C', 40000}, {"B", 'C', 40000}};
  const std::string text = "this is a text file, not a table at all.\n";
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    Status why;
  };
  const std::vector<Case> cases = {
      {"a table", good, Status::kOk},
      {"empty file", {}, Status::kShortHeader},
      {"20 bytes", cut(20), Status::kShortHeader},
      {"header size 64", header_size(64), Status::kBadHeaderSize},
      {"header size 0", header_size(0), Status::kBadHeaderSize},
      {"header alone", cut(32), Status::kNoDescriptors},
      {"unknown types", build_dbf(unknown), Status::kBadFieldTypes},
      {"record too long", build_dbf(wide), Status::kRecordTooLong},
      {"text", std::vector<uint8_t>(text.begin(), text.end()), Status::kNotATable},
  };
  for (const Case& c : cases) {
    std::string path = dir.file(std::string(c.name) + ".dbf");
    test::write_bytes(path, c.bytes);
    Status why = Status::kAborted;
    auto table = open_table(path, &why);
    EXPECT_EQ(why, c.why) << c.name;
    EXPECT_EQ(table != nullptr, c.why == Status::kOk) << c.name;
    TableList list;
    why = Status::kAborted;
    EXPECT_EQ(add_table(list, path, &why), c.why == Status::kOk ? 0 : -3) << c.name;
    EXPECT_EQ(why, c.why) << c.name;
  }
  OpenFailure failure;
  EXPECT_FALSE(open_table(dir.file("text.dbf"), &failure));
  EXPECT_EQ(failure.detail, "byte 0 holds 0x74");
  Status why = Status::kOk;
  EXPECT_FALSE(open_table(dir.file("missing.dbf"), &why));
  EXPECT_EQ(why, Status::kNotFound);
  EXPECT_FALSE(open_table(dir.file("missing/t.dbf"), &why));
  EXPECT_EQ(why, Status::kNotFound);
}

TEST(TableOpen, DescriptorsWithoutTerminatorEndAtTheHeader) {
  TempDir dir;
  // One field, header of 65 bytes and no 0x0D: the data begins right after.
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 20}};
  layout.header_size = 64 + 1;
  layout.records = {"first record", "second"};
  std::vector<uint8_t> bytes = build_dbf(layout);
  bytes[64] = 0;  // no terminator
  std::string path = dir.file("t.dbf");
  test::write_bytes(path, bytes);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->field_count(), 1);
  EXPECT_EQ(table->record_count, 2u);
}

TEST(TableOpen, ManyDescriptorsAreBoundedAndRecordsTooLongFail) {
  TempDir dir;
  // 3000 descriptors of 1-byte fields: only those inside the largest
  // possible header (65535 bytes) are fields.
  DbfLayout layout;
  for (int i = 0; i < 3000; ++i) layout.fields.push_back({std::string("F").append(std::to_string(i)), 'C', 1});
  layout.header_size = 65535;
  std::vector<uint8_t> bytes = build_dbf(layout);
  std::string path = dir.file("many.dbf");
  test::write_bytes(path, bytes);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->field_count(), (65535 - 32) / 32);
  EXPECT_EQ(table->record_size, 1 + table->field_count());

  // Two fields of 40000 bytes each cannot fit the 65535-byte record.
  DbfLayout wide;
  wide.fields = {{"A", 'C', 40000}, {"B", 'C', 40000}};
  EXPECT_FALSE(open_table(write_table(dir, wide, "wide.dbf")));
}

TEST(TableOpen, HugeRecordCountInHeaderDoesNotAllocate) {
  TempDir dir;
  DbfLayout layout = two_field_table(3);
  layout.stored_count = 0x7FFFFFFF;
  auto table = open_table(write_table(dir, layout));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->record_count, 3u);
  EXPECT_EQ(table->header_errors, kBadRecordCount);
}

TEST(TableOpen, ReadOnlyFileOpensButRefusesEveryWrite) {
  TempDir dir;
  chmod(dir.path().c_str(), 0755);
  DbfLayout layout = two_field_table(3);
  layout.stored_count = 9;  // a header error, so a repair would want to write
  std::string path = write_table(dir, layout);
  std::vector<uint8_t> before = test::read_bytes(path);

  chmod(path.c_str(), 0444);
  int status = test::run_without_root([](void* context) {
    auto table = open_table(*static_cast<std::string*>(context));
    if (!table) return 1;
    if (!table->read_only) return 2;
    if (read_record(*table, 1) != 1) return 3;
    if (write_record(*table, 1) != 0) return 4;
    if (append_record(*table, true) != 0) return 5;
    if (write_header(*table) != 0) return 6;
    if (mark_deleted(*table, 0) != 0) return 7;
    if (table->record_count != 3) return 8;
    return 0;
  }, &path);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test::read_bytes(path), before);
}

TEST(TableHeader, WriteStampsTodayAndCount) {
  TempDir dir;
  std::string path = write_table(dir, two_field_table(2));
  auto table = open_table(path);
  ASSERT_TRUE(table);
  ASSERT_EQ(write_header(*table), 1);
  std::vector<uint8_t> bytes = test::read_bytes(path);
  time_t now = time(nullptr);
  struct tm today;
  localtime_r(&now, &today);
  int year = today.tm_year;
  while (year >= 256) year -= 100;
  EXPECT_EQ(bytes[1], year);
  EXPECT_EQ(bytes[2], today.tm_mon + 1);
  EXPECT_EQ(bytes[3], today.tm_mday);
}

TEST(TableHeader, RefreshNoticesRecordsAddedFromOutside) {
  TempDir dir;
  DbfLayout layout = two_field_table(2);
  layout.end_of_file = false;
  std::string path = write_table(dir, layout);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(refresh_record_count(*table), 0);
  std::vector<uint8_t> bytes = test::read_bytes(path);
  bytes.insert(bytes.end(), 16, ' ');
  test::write_bytes(path, bytes);
  EXPECT_EQ(refresh_record_count(*table), 1);
  EXPECT_EQ(table->record_count, 3u);
}

TEST(HeaderRepair, AnswersDecideWhatIsWritten) {
  TempDir dir;
  DbfLayout layout = two_field_table(2);
  layout.stored_count = 7;
  std::string path = write_table(dir, layout);
  auto original = test::read_bytes(path);

  auto table = open_table(path);
  ASSERT_TRUE(table);
  int asked = 0;
  EXPECT_EQ(confirm_header_repair(*table, false, 0, [&] { ++asked; return 1; }), 0);  // Continue
  EXPECT_EQ(test::read_bytes(path), original);
  EXPECT_EQ(confirm_header_repair(*table, true, 0, [&] { ++asked; return 2; }), 1);  // Cancel
  EXPECT_EQ(confirm_header_repair(*table, true, 0, [&] { ++asked; return -1; }), 1);  // Esc
  EXPECT_EQ(test::read_bytes(path), original);
  EXPECT_EQ(asked, 3);

  EXPECT_EQ(confirm_header_repair(*table, true, 1, [&] { ++asked; return 2; }), 0);  // /a: no question
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(get_le32(&test::read_bytes(path)[4]), 2u);
}

// Every spoiled table below also says 9 records for its 2: a repair would
// want to write. Only one whose descriptors read as a table's is written,
// and the 32 bytes it replaces are kept beside it first.
TEST(HeaderRepair, OnlyAFileThatReadsAsATableIsWrittenAndItsOldHeaderIsKept) {
  TempDir dir;
  auto spoiled = [](uint8_t version, size_t at, uint8_t value) {
    DbfLayout layout = two_field_table(2);
    layout.version = version;
    layout.stored_count = 9;
    std::vector<uint8_t> bytes = build_dbf(layout);
    bytes[at] = value;
    return bytes;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    Status refusal;
    const char* detail;
    const char* read_only;  // before the repair
  };
  const Case cases[] = {
      {"sound", spoiled(0x03, 0, 0x03), Status::kOk, "", ""},
      {"unknown version", spoiled(0x05, 0, 0x05), Status::kOk, "", "unknown version 0x05"},
      {"control byte in a name", spoiled(0x03, 32 + 2, 0x0A), Status::kNotATable, "byte 34 holds 0x0A", ""},
      {"unknown type", spoiled(0x03, 64 + 11, 'X'), Status::kOk, "", ""},  // a table all the same
      {"length 0", spoiled(0x03, 64 + 16, 0), Status::kNotATable, "byte 80 holds 0x00", ""},
      {"record size", spoiled(0x03, 10, 99), Status::kRecordSizeMismatch, "the header says 99, the fields 16", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.file("t.dbf"), backup = dir.file("t.hbk");
    test::write_bytes(path, c.bytes);
    std::remove(backup.c_str());
    auto table = open_table(path);
    ASSERT_TRUE(table);
    EXPECT_EQ(read_only_reason(*table), c.read_only);
    std::string detail = "unset";
    EXPECT_EQ(repair_header(*table, &detail), c.refusal);
    EXPECT_EQ(detail, c.detail);
    if (c.refusal != Status::kOk) {
      EXPECT_EQ(confirm_header_repair(*table, true, 0, [] { ADD_FAILURE(); return 0; }), 0);
      EXPECT_EQ(test::read_bytes(path), c.bytes);
      EXPECT_FALSE(test::file_exists(backup));
      continue;
    }
    EXPECT_EQ(test::read_bytes(backup), std::vector<uint8_t>(c.bytes.begin(), c.bytes.begin() + 32));
    EXPECT_EQ(get_le32(&test::read_bytes(path)[4]), 2u);
    EXPECT_EQ(test::read_bytes(path)[0], 0x03);
    EXPECT_EQ(read_only_reason(*table), "");  // the version is known now
    EXPECT_EQ(write_record(*table, 0), 1);
  }
}

// A header size past the end of the file, or one that disagrees with where
// the field list's 0x0D stands, is taken from the 0x0D when records from
// there fill the file: the repair keeps every record and the file's size.
// When the 0x0D gives no such size, nothing is written and the reason is
// given.
TEST(HeaderRepair, AWrongHeaderSizeIsTakenFromTheFieldListOrRefusedWithTheReason) {
  struct Case {
    const char* fixture;
    uint16_t header_size;  // written over the fixture's own
    size_t cut;            // bytes cut off the end, leaving part of a record
    const char* refusal;   // "" when the repair is made
  };
  const Case cases[] = {
      {"infused-dbf/dbase_03.dbf", 60000, 0, ""},  // past the end
      {"infused-dbf/dbase_03.dbf", 1028, 0, ""},   // a few bytes off: rows of garbage
      {"infused-dbf/dbase_03.dbf", 1022, 0, ""},   // short of the 0x0D
      {"infused-dbf/dbase_31.dbf", 60000, 0, ""},  // Visual FoxPro, no end mark
      {"infused-dbf/dbase_30.dbf", 4940, 0, ""},   // Visual FoxPro with its 263 bytes after the 0x0D
      {"shapelib/3dpoints.dbf", 60000, 0,
       "the header says the records start at byte 60000; the file has 132 bytes"},  // no 0x0D at all
      {"infused-dbf/dbase_03.dbf", 1028, 100,
       "the header says the records start at byte 1028; the field list ends at byte 1024"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " " + std::to_string(c.header_size));
    TempDir dir;
    std::string original = dir.copy_fixture(c.fixture, "original.dbf");
    std::string damaged = dir.copy_fixture(c.fixture, "damaged.dbf");
    std::vector<uint8_t> bytes = test::read_bytes(damaged);
    uint16_t true_size = get_le16(&bytes[8]);
    put_le16(&bytes[8], c.header_size);
    bytes.resize(bytes.size() - c.cut);
    test::write_bytes(damaged, bytes);

    OpenFailure why;
    auto table = open_table(damaged, &why);
    if (!table) {  // without a 0x0D nothing says where the fields end
      EXPECT_EQ(why.status, Status::kHeaderSizeMismatch);
      EXPECT_EQ(why.detail, c.refusal);
      EXPECT_EQ(test::read_bytes(damaged), bytes);
      continue;
    }
    EXPECT_NE(table->header_errors & kBadHeaderSize, 0);
    if (*c.refusal) {
      EXPECT_EQ(table->repair_refusal.status, Status::kHeaderSizeMismatch);
      EXPECT_EQ(table->repair_refusal.detail, c.refusal);
      EXPECT_EQ(read_only_reason(*table), "header size off");  // no record is written where it would not belong
      EXPECT_EQ(confirm_header_repair(*table, true, 1, nullptr), 0);
      EXPECT_EQ(test::read_bytes(damaged), bytes);
      EXPECT_FALSE(test::file_exists(dir.file("damaged.hbk")));
      continue;
    }
    uint32_t count = get_le32(&bytes[4]);
    EXPECT_EQ(table->record_count, count);
    EXPECT_EQ(header_corrections(*table).at(0),
              "The header says the records start at byte " + std::to_string(c.header_size) +
                  "; the field list says " + std::to_string(true_size) + ". Write " + std::to_string(true_size) + "?");
    ASSERT_EQ(confirm_header_repair(*table, true, 0, [] { return 0; }), 0);
    table.reset();

    std::vector<uint8_t> after = test::read_bytes(damaged);
    ASSERT_EQ(after.size(), bytes.size());  // not grown
    EXPECT_EQ(get_le16(&after[8]), true_size);
    EXPECT_EQ(get_le32(&after[4]), count);
    EXPECT_TRUE(std::equal(after.begin() + 32, after.end(), bytes.begin() + 32));  // every record as it was
    EXPECT_EQ(test::read_bytes(dir.file("damaged.hbk")), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 32));
    EXPECT_EQ(test::dbfread_dump(damaged, false), test::dbfread_dump(original, false));
    auto reopened = open_table(damaged);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->header_errors & kRepairableErrors, 0);
  }
}

// A field of a type letter no program kora knows writes is shown as its
// bytes and takes no value; the table around it opens and may be repaired.
TEST(TableOpen, AFieldOfAnUnknownTypeShowsItsBytesAndIsNeverWritten) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_03.dbf", "t.dbf");
  auto intact = open_table(dir.copy_fixture("infused-dbf/dbase_03.dbf", "intact.dbf"));
  ASSERT_TRUE(intact);
  std::vector<uint8_t> bytes = test::read_bytes(path);
  bytes[32 + 2 * 32 + 11] = '7';  // the third field, Shape C(20)
  put_le32(&bytes[4], 20);         // and a count the file does not hold
  test::write_bytes(path, bytes);

  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->header_errors, kBadFieldTypes | kBadRecordCount);
  ASSERT_EQ(read_record(*table, 0), 1);
  ASSERT_EQ(read_record(*intact, 0), 1);
  EXPECT_EQ(std::string(field_text(*table, 2)), std::string(field_raw_text(*intact, 2)));
  EXPECT_EQ(set_field_text(*table, 2, "typed"), FieldWrite::kNotWritable);  // what every writer goes through
  ASSERT_EQ(header_corrections(*table), std::vector<std::string>{"The header says 20 records; the file holds 14. Write 14?"});
  ASSERT_EQ(confirm_header_repair(*table, true, 0, [] { return 0; }), 0);
  std::vector<uint8_t> after = test::read_bytes(path);
  EXPECT_EQ(get_le32(&after[4]), 14u);
  EXPECT_EQ(after[32 + 2 * 32 + 11], '7');
}

// The backup of a table, the old header a repair keeps and the table a
// pack rewrites may be read by whoever may read the table, no one else.
TEST(TableFiles, CopiesKeepTheTablesPermissionBits) {
  TempDir dir;
  DbfLayout layout = two_field_table(3);
  layout.stored_count = 5;
  std::string path = write_table(dir, layout);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  auto mode_of = [](const std::string& file) {
    struct stat info;
    return stat(file.c_str(), &info) == 0 ? int(info.st_mode & 07777) : -1;
  };
  auto table = open_table(path);
  ASSERT_TRUE(table);
  ASSERT_EQ(repair_header(*table), Status::kOk);
  EXPECT_EQ(mode_of(dir.file("t.hbk")), 0640);
  set_bak_mode(*table, 1);
  ASSERT_EQ(mark_deleted(*table, 1), 1);
  ASSERT_EQ(pack_table(*table, 0), 1);
  EXPECT_EQ(table->record_count, 2u);
  EXPECT_EQ(mode_of(dir.file("t.bak")), 0640);
  EXPECT_EQ(mode_of(path), 0640);
}

TEST(TableOpen, AFileOfThirtyThreeHeaderBytesIsATableWithoutFields) {
  TempDir dir;
  DbfLayout none;
  none.records = {"", ""};  // records of just the deletion flag
  none.end_of_file = false;
  std::vector<uint8_t> bytes = build_dbf(none);
  std::string path = dir.file("t.dbf");
  test::write_bytes(path, bytes);
  ASSERT_EQ(bytes.size(), 33u + 2);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->field_count(), 0);
  EXPECT_EQ(table->record_count, 2u);
  EXPECT_EQ(table->repair_refusal.status, Status::kOk);
}

TEST(HeaderRepair, CleanTableIsNotAsked) {
  TempDir dir;
  auto table = open_table(write_table(dir, two_field_table(2)));
  ASSERT_TRUE(table);
  EXPECT_EQ(confirm_header_repair(*table, true, 0, [] { ADD_FAILURE(); return 2; }), 0);
}

// A table is its file: every spelling of the name that reaches the same
// device and inode finds the open table; a name differing only in letter
// case is another file.
TEST(TableList, TheSameFileUnderAnyNameGivesTheSameIndex) {
  TempDir dir;
  std::string path = write_table(dir, two_field_table(1), "orders.dbf");
  std::string other = write_table(dir, two_field_table(2), "ORDERS.dbf");
  ASSERT_EQ(symlink(path.c_str(), dir.file("link.dbf").c_str()), 0);
  char* cwd = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  TableList list;
  std::vector<std::string> added;
  list.on_added = [&](const std::string& p) { added.push_back(p); };
  EXPECT_EQ(add_table(list, "./orders.dbf"), 0);
  // The table keeps the name absolute, so a later change of folder does not
  // turn it into another file's.
  EXPECT_EQ(list.at(0)->file_name, path);
  for (std::string same : {std::string("orders.dbf"), path, dir.path() + "//./orders.dbf", dir.file("link.dbf")})
    EXPECT_EQ(add_table(list, same), 0) << same;
  EXPECT_EQ(add_table(list, "ORDERS.dbf"), 1);
  EXPECT_EQ(list.at(1)->file_name, other);
  EXPECT_EQ(add_table(list, dir.file("missing.dbf")), -3);
  EXPECT_EQ(chdir(cwd), 0);
  std::free(cwd);
  EXPECT_EQ(added, (std::vector<std::string>{path, other}));
}

TEST(TableList, HundredTablesAtMostAndRemovalShiftsDown) {
  TempDir dir;
  TableList list;
  for (int i = 0; i < kMaxTables; ++i)
    ASSERT_EQ(add_table(list, write_table(dir, two_field_table(1), std::string("t").append(std::to_string(i)) + ".dbf")), i);
  Status why = Status::kOk;
  EXPECT_EQ(add_table(list, write_table(dir, two_field_table(1), "extra.dbf"), &why), -2);
  EXPECT_EQ(why, Status::kListFull);

  EXPECT_EQ(remove_table(list, 5), 5);
  EXPECT_EQ(list.at(5)->file_name, dir.file("t6.dbf"));
  EXPECT_EQ(remove_table(list, list.last), list.last);
  while (list.last > 0) remove_table(list, 0);
  EXPECT_EQ(remove_table(list, 0), -1);
  EXPECT_EQ(list.at(0), nullptr);
}

TEST(TableList, OptionsAndCodePageMarkAreApplied) {
  TempDir dir;
  DbfLayout layout = two_field_table(1);
  layout.code_page_mark = 0xC9;
  TableList list;
  list.options.date_format = 3;
  list.options.separator = true;
  list.options.date_char = '/';
  int index = add_table(list, write_table(dir, layout));
  ASSERT_GE(index, 0);
  Table* table = list.at(index);
  EXPECT_TRUE(table->ansi_text);
  EXPECT_EQ(table->date_format, 3);
  EXPECT_EQ(table->date_formats[3], "%04d/%02d/%02d");
  // Every field is shown, in file order, none fixed.
  EXPECT_EQ(column_count(*table), table->field_count());
  EXPECT_EQ(column_field(*table, 1), 1);
  EXPECT_EQ(table->columns.fixed, 0);
}

TEST(FieldAccessors, NamesTypesAndLists) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"ID", 'I', 4},    {"PRICE", 'Y', 8}, {"RATE", 'B', 8}, {"BLOB", 'B', 10},
                 {"NOTE", 'M', 10}, {"PIC", 'G', 4},   {"NAME", 'C', 20}};
  auto table = open_table(write_table(dir, layout));
  ASSERT_TRUE(table);
  EXPECT_TRUE(is_numeric_field(*table, 0));
  EXPECT_TRUE(is_numeric_field(*table, 1));
  EXPECT_TRUE(is_numeric_field(*table, 2));
  EXPECT_FALSE(is_numeric_field(*table, 3));
  EXPECT_TRUE(is_memo_field(*table, 3));
  EXPECT_TRUE(is_memo_field(*table, 4));
  EXPECT_TRUE(is_memo_field(*table, 5));
  EXPECT_FALSE(is_memo_field(*table, 6));
  EXPECT_EQ(table->first_memo_field, 3);
  EXPECT_EQ(field_type(*table, 99), '#');
  EXPECT_EQ(field_length(*table, 99), 0);

  EXPECT_EQ(find_field(*table, "price"), 1);
  EXPECT_EQ(find_field(*table, "PRIC"), -1);
  EXPECT_EQ(parse_field_list(*table, "name; id,\tprice"), (std::vector<int>{6, 0, 1}));
  EXPECT_EQ(parse_field_list(*table, "name bogus id"), (std::vector<int>{6}));
  EXPECT_TRUE(parse_field_list(*table, "bogus name").empty());

  table->aliases[6] = "Customer";
  table->show_aliases = true;
  EXPECT_EQ(column_name(*table, 6), "Customer");
  EXPECT_EQ(column_name_length(*table, 6), 8);
  table->show_aliases = false;
  EXPECT_EQ(column_name(*table, 6), "NAME");
}

TEST(TableKinds, VersionBytesGiveKindsAndNames) {
  EXPECT_EQ(table_kind_for_version(0x83), kDBase3);
  EXPECT_EQ(table_kind_for_version(0xF5), kFoxPro);
  EXPECT_EQ(table_kind_for_version(0x8B), kDBase4);
  EXPECT_EQ(table_kind_for_version(0x30), kVisualFoxPro);
  EXPECT_EQ(table_kind_for_version(0xE5), kSmtKind);
  EXPECT_STREQ(table_kind_name(kVisualFoxPro), "Visual FoxPro");
  EXPECT_TRUE(is_known_version(0x62));
  EXPECT_FALSE(is_known_version(0x00));
  EXPECT_FALSE(is_known_version(0xE5));
}

}  // namespace
}  // namespace kora
