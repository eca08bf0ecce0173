// Visual FoxPro tables as other programs read them: null flags and varchar
// lengths written by edits, the version byte kept through appends and packs,
// memo files named in another case, and the .cpg file beside a table.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/dbf_builder.h"
#include "support/independent_readers.h"
#include "support/test_support.h"
#include "table/dbf_file.h"
#include "table/field_write.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/restructure.h"
#include "table/table_create.h"
#include "table/value_codec.h"
#include "table/vfp_fields.h"

namespace kora {
namespace {

using test::TempDir;

// NAME and NUM nullable, VC a nullable varchar, VB a varbinary. Their bits:
// NAME null 0, VC length 1 and null 2, VB length 3, NUM null 4; all set.
std::string nullable_table(const TempDir& dir) {
  test::DbfLayout layout;
  layout.version = 0x32;
  layout.fields = {{"NAME", 'C', 5, 0, kFieldNullable},
                 {"VC", 'V', 6, 0, kFieldNullable},
                 {"VB", 'Q', 4, 0, 0},
                 {"NUM", 'I', 4, 0, kFieldNullable},
                 {"_NullFlags", '0', 1, 0, kFieldSystem | kFieldBinary}};
  layout.records = {std::string("abcde") + std::string("xy\0\0\0\2", 6) + std::string("\1\2\0\2", 4) +
                  std::string("\7\0\0\0", 4) + "\x1f"};
  std::string path = dir.file("null.dbf");
  test::write_bytes(path, test::build_dbf(layout));
  return path;
}

std::vector<std::string> dbfread_lines(const std::string& path, bool memos = false) {
  return test::lines_of(test::dbfread_dump(path, memos));
}

TEST(VisualFoxProEdits, ClearTheNullBitAndSetTheVarcharLengthAsOtherReadersSeeThem) {
  struct Case {
    const char* field;
    std::string typed;
    const char* dbfread;  // the record as dbfread (with the published rules) reads it back
  };
  const Case cases[] = {
      {"NAME", "hello", "['hello', None, b'\\x01\\x02', None, b'\\x1e']"},
      {"VC", "abc", "[None, 'abc', b'\\x01\\x02', None, b'\\x1b']"},
      {"VC", "abcdef", "[None, 'abcdef', b'\\x01\\x02', None, b'\\x19']"},
      {"VC", "", "[None, '', b'\\x01\\x02', None, b'\\x1b']"},
      {"VB", std::string("\xff\0z", 3), "[None, None, b'\\xff\\x00z', None, b'\\x1f']"},
      {"VB", "wxyz", "[None, None, b'wxyz', None, b'\\x17']"},
      {"NUM", "42", "[None, None, b'\\x01\\x02', 42, b'\\x0f']"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " <- " + c.typed);
    TempDir dir;
    std::string path = nullable_table(dir);
    ASSERT_EQ(dbfread_lines(path).at(0), "[None, None, b'\\x01\\x02', None, b'\\x1f']");
    {
      auto table = open_table(path);
      ASSERT_TRUE(table);
      EXPECT_EQ(table->header_errors, 0);
      ASSERT_EQ(read_record(*table, 0), 1);
      int i = find_field(*table, c.field);
      EXPECT_TRUE(c.field == std::string("VB") || is_null_field(*table, RecordImage(table->record), i));
      EXPECT_EQ(set_field_text(*table, i, c.typed), FieldWrite::kStored);
      ASSERT_EQ(write_record(*table, 0), 1);
    }
    EXPECT_EQ(dbfread_lines(path).at(0), c.dbfread);
    auto again = open_table(path);
    ASSERT_TRUE(again);
    ASSERT_EQ(read_record(*again, 0), 1);
    int i = find_field(*again, c.field);
    EXPECT_FALSE(is_null_field(*again, RecordImage(again->record), i));
    std::string shown = field_text(*again, i);
    shown.erase(0, shown.find_first_not_of(' '));
    EXPECT_EQ(shown, c.typed.substr(0, c.typed.find('\0')));
  }
}

TEST(VisualFoxProVersion, AnAppendAndAPackKeep0x32AndItsDoubles) {
  TempDir dir;
  std::string path = dir.copy_fixture("php-xbase/foxpro/vfp.dbf");
  dir.copy_fixture("php-xbase/foxpro/vfp.fpt");
  std::vector<std::string> before = dbfread_lines(path, true);
  ASSERT_EQ(before.size(), 4u);
  {
    auto table = open_table(path);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->header_errors, 0) << "0x32 and the varchar, varbinary and blob types are known";
    EXPECT_EQ(table->kind, kVisualFoxPro);
    ASSERT_EQ(append_record(*table, true), 1);
    ASSERT_EQ(mark_deleted(*table, 1), 1);
    ASSERT_EQ(pack_table(*table, 0), 1);
  }
  EXPECT_EQ(test::read_bytes(path).at(0), 0x32);
  std::vector<std::string> after = dbfread_lines(path, true);
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after[0], before[0]);
  EXPECT_EQ(after[1], before[2]);
  // The general field's empty picture (a block of type 0: b'', where no
  // memo would be None) is among the memos kept.
  EXPECT_NE(before[0].find(", 1.2, b'', "), std::string::npos);
  // The appended record is blank: no date-time, the DOUBLE a double 0.0, no INTEGER.
  EXPECT_NE(before[0].find("1, 1), 2.3, 0, "), std::string::npos);
  EXPECT_NE(after[2].find("None, 0.0, 0, "), std::string::npos) << after[2];
  EXPECT_EQ(after[3], "deleted 0");
}

TEST(VisualFoxProVersion, ARestructureMovesEachFieldsNullAndLengthBitsWithItAndKeepsItsBlobs) {
  TempDir dir;
  std::string path = dir.copy_fixture("php-xbase/foxpro/vfp.dbf");
  dir.copy_fixture("php-xbase/foxpro/vfp.fpt");
  std::vector<std::string> before;
  {
    auto table = open_table(path);
    ASSERT_TRUE(table);
    // A null INTEGER in the first record, a VARCHAR filling its field in the second.
    ASSERT_EQ(read_record(*table, 0), 1);
    set_field_null(*table, table->record.data(), table->record.size(), find_field(*table, "INTEGER"), true);
    ASSERT_EQ(write_record(*table, 0), 1);
    ASSERT_EQ(read_record(*table, 1), 1);
    ASSERT_EQ(set_field_text(*table, find_field(*table, "VARCHAR"), "abcdefghij"), FieldWrite::kStored);
    ASSERT_EQ(write_record(*table, 1), 1);
    before = dbfread_lines(path, true);
    std::vector<StructureField> fields = structure_of(*table);
    // CURRENCY holds null bit 1: every later field's bits move down by one.
    fields.erase(fields.begin() + find_field(*table, "CURRENCY"));
    ASSERT_EQ(restructure(*table, fields, {}), Status::kOk);
  }
  EXPECT_EQ(test::read_bytes(path).at(0), 0x32);
  std::vector<std::string> after = dbfread_lines(path, true);
  ASSERT_EQ(after.size(), before.size());
  for (size_t r = 0; r + 1 < before.size(); ++r) {
    std::string expected = before[r];
    size_t currency = expected.find(", Decimal('");
    ASSERT_NE(currency, std::string::npos);
    expected.erase(currency, expected.find(')', currency) + 1 - currency);
    // The values alike; the null flags' own bytes (the last value) differ.
    std::string got = after[r];
    EXPECT_EQ(got.erase(got.rfind(", b'")), expected.erase(expected.rfind(", b'"))) << r;
  }
}

TEST(HeaderWrites, KeepTheFileVersionUnlessTheRepairIsChosen) {
  // 0x05 is no version kora knows: in memory it reads as dBase III.
  for (bool repair : {false, true}) {
    TempDir dir;
    test::DbfLayout layout;
    layout.version = 0x05;
    layout.fields = {{"NAME", 'C', 8}};
    layout.records = {"one"};
    test::write_bytes(dir.file("t.dbf"), test::build_dbf(layout));
    auto table = open_table(dir.file("t.dbf"));
    ASSERT_TRUE(table);
    ASSERT_EQ(repair ? int(repair_header(*table) == Status::kOk) : write_header(*table), 1);
    EXPECT_EQ(test::read_bytes(dir.file("t.dbf")).at(0), repair ? 0x03 : 0x05) << repair;
  }
}

std::vector<std::string> files_in(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  while (dirent* entry = dir ? readdir(dir) : nullptr) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (dir) closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(MemoFileNames, AMemoFileNamedInAnotherCaseIsReadAndWritten) {
  struct Case {
    const char* table;
    const char* memo;
    uint8_t version;
  };
  const Case cases[] = {{"orders.dbf", "ORDERS.DBT", 0x83},
                        {"ORDERS.DBF", "orders.dbt", 0x83},
                        {"Calls.dbf", "CALLS.FPT", 0xF5},
                        {"calls.DBF", "Calls.fpt", 0xF5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.memo);
    TempDir dir;
    test::DbfLayout layout;
    layout.version = c.version;
    layout.fields = {{"NAME", 'C', 8}, {"NOTES", 'M', 10}};
    layout.records = {"first"};
    test::write_bytes(dir.file(c.table), test::build_dbf(layout));
    TableKind kind = table_kind_for_version(c.version);
    ASSERT_TRUE(create_memo_file(dir.file("m.dbf"), kind, 64));
    ASSERT_EQ(std::rename(memo_file_name(dir.file("m.dbf"), kind).c_str(), dir.file(c.memo).c_str()), 0);
    {
      auto table = open_table(dir.file(c.table));
      ASSERT_TRUE(table);
      EXPECT_EQ(table->memo_file_name, dir.file(c.memo));
      ASSERT_EQ(read_record(*table, 0), 1);
      ASSERT_TRUE(write_memo(*table, 1, "a memo text"));
      ASSERT_EQ(write_record(*table, 0), 1);
      std::string text;
      ASSERT_TRUE(read_memo(*table, 1, text));
      EXPECT_EQ(text, "a memo text");
    }
    std::vector<std::string> names{c.memo, c.table};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(files_in(dir.path()), names) << "no second memo file";
    EXPECT_EQ(dbfread_lines(dir.file(c.table), true).at(0), "['first', 'a memo text']");
  }
}

TEST(CodePageFiles, NameTheCodePageAndDecideOEMOrANSIForTheTwoShown) {
  // А О Е У in each code page: the letter test takes the record for that one.
  const std::string ansi = "\xC0\xCE\xC5\xD3", oem = "\x80\x8E\x85\x94";
  struct Case {
    const char* cpg_file;  // beside the table; none when empty
    const char* written;
    const char* name;
    const std::string& record;
    bool ansi;
  };
  const Case cases[] = {{"", "", "", ansi, true},
                        {"t.cpg", "1251", "1251", oem, true},
                        {"T.CPG", " CP866\r\n", "CP866", ansi, false},
                        {"t.Cpg", "ANSI 1251", "ANSI 1251", oem, true},
                        {"t.cpg", "koi8r", "koi8r", ansi, true},
                        {"t.cpg", "koi8r", "koi8r", oem, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cpg_file) + ": " + c.written);
    TempDir dir;
    test::DbfLayout layout;
    layout.fields = {{"NAME", 'C', 8}};
    layout.records = {c.record};
    test::write_bytes(dir.file("t.dbf"), test::build_dbf(layout));
    std::string written = c.written;
    if (*c.cpg_file) test::write_bytes(dir.file(c.cpg_file), std::vector<uint8_t>(written.begin(), written.end()));
    TableList list;
    int index = add_table(list, dir.file("t.dbf"));
    ASSERT_GE(index, 0);
    EXPECT_EQ(list.at(index)->code_page_name, c.name);
    EXPECT_EQ(list.at(index)->ansi_text, c.ansi);
  }
}

TEST(CodePageFiles, ShapefileTablesKeepTheNameOfTheirCodePage) {
  for (const char* name : {"win1251", "koi8r", "latin2", "big5", "euckr", "shiftjis", "win874", "utf16"}) {
    SCOPED_TRACE(name);
    std::string base = test::fixture("mapshaper/dbf/cpg/") + name;
    std::vector<uint8_t> cpg = test::read_bytes(base + ".cpg");
    auto table = open_table(base + ".dbf");
    ASSERT_TRUE(table);
    EXPECT_EQ(table->code_page_name, std::string(cpg.begin(), cpg.end()));
    TableList list;
    list.options.oem_ansi = 1;  // always OEM, unless the table says otherwise
    int index = add_table(list, base + ".dbf");
    ASSERT_GE(index, 0);
    EXPECT_EQ(list.at(index)->ansi_text, std::string(name) == "win1251");
  }
}

}  // namespace
}  // namespace kora
