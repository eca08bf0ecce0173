// Appending from other tables and text files: fields by name, lines by
// delimiter or by column, the table appended to itself, filtered views,
// stops, binary memos and sources that cannot be read.
#include "tools/append_from.h"

#include <gtest/gtest.h>

#include <fstream>

#include "../support/dbf_builder.h"
#include "../support/independent_readers.h"
#include "../support/test_support.h"
#include "table/code_page.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "table/value_codec.h"

namespace kora {
namespace {

using namespace kora::test;

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A dBase III table with a memo file; memos[k] (if not empty) becomes the
// memo text of field `memo_field` in record k.
std::string make_table(const TempDir& dir, const std::string& name, const std::vector<FieldSpec>& fields,
                       const std::vector<std::string>& records, const std::vector<std::string>& memos = {},
                       int memo_field = -1) {
  DbfLayout layout;
  layout.version = 0x83, layout.fields = fields, layout.records = records;
  std::string path = dir.file(name);
  write_bytes(path, build_dbf(layout));
  EXPECT_TRUE(create_memo_file(path, kDBase3, 512));
  auto table = open_table(path);
  for (size_t k = 0; k < memos.size(); ++k) {
    if (!memos[k].empty()) {
      EXPECT_TRUE(read_record(*table, uint32_t(k)) && write_memo(*table, memo_field, memos[k]) &&
                  write_record(*table, uint32_t(k)));
    }
  }
  return path;
}

// NAME C(10), AMOUNT C(8), QTY N(5), DAY D(8), NOTES M(10); one record "old".
std::unique_ptr<Table> target(const TempDir& dir) {
  return open_table(make_table(
      dir, "target.dbf", {{"NAME", 'C', 10}, {"AMOUNT", 'C', 8}, {"QTY", 'N', 5}, {"DAY", 'D', 8}, {"NOTES", 'M', 10}},
      {"old"}));
}

// A record as "NAME|AMOUNT|QTY|DAY|NOTES": texts without their padding,
// memo texts longer than 20 characters as their length.
std::string describe(Table& table, uint32_t q) {
  EXPECT_TRUE(read_record(table, q));
  std::string out;
  for (int i = 0; i < table.field_count(); ++i) {
    std::string text;
    if (is_memo_field(table, i)) {
      read_memo(table, i, text, true);
      if (text.size() > 20) text = std::string("#").append(std::to_string(text.size()));
    } else {
      text = field_raw_text(table, i);
      text.erase(text.find_last_not_of(' ') + 1);
      if (is_numeric_field(table, i)) text.erase(0, text.find_first_not_of(' '));
    }
    out.append(i ? "|" : "").append(text);
  }
  return out;
}

// Appends from a source made of text, or of fields and records (memos of
// its last field); returns the records after the one already there, each
// described, then "+<did not fit> at <field>,<record>".
std::string append(const TempDir& dir, const std::string& name, const std::string& text,
                   const std::vector<FieldSpec>& fields = {}, const std::vector<std::string>& records = {},
                   const std::vector<std::string>& memos = {}, const TextSourceOptions& options = {}) {
  auto table = target(dir);
  std::string path = dir.file(name);
  if (fields.empty()) {
    write_text(path, text);
  } else {
    make_table(dir, name, fields, records, memos, int(fields.size()) - 1);
  }
  AppendResult result = names_dbf_source(path) ? append_from_dbf(*table, path) : append_from_text(*table, path, options);
  std::string out = result.status == Status::kOk ? "" : "failed ";
  for (uint32_t q = 1; q < table->record_count; ++q) out += describe(*table, q) + " / ";
  out += "+" + std::to_string(result.did_not_fit);
  if (result.did_not_fit) out += " at " + std::to_string(result.first_field) + "," + std::to_string(result.first_record);
  auto reopened = open_table(table->file_name);
  if (describe(*table, 0) != "old||||" || reopened->record_count != 1 + result.appended || reopened->header_errors ||
      result.appended + 1 != table->record_count) {
    out += " but the file is not whole";
  }
  return out;
}

TEST(AppendFromTest, TablesAndTextLinesArriveByNameAndByColumn) {
  const TextSourceOptions comma, semicolon_comma{";,"}, no_blank{",", false, true}, sdf{",", true};
  TempDir d;
  // Tables: fields matched by name; numbers arrive as trimmed text; a text
  // too long for its field is refused whole and counted, never cut short.
  EXPECT_EQ(append(d, "DATA.DBF", "", {{"NAME", 'C', 20}}, {"Alexandrina Longname"}), "|||| / +1 at 0,1");
  EXPECT_EQ(append(d, "nums.dbf", "", {{"AMOUNT", 'N', 8, 2}, {"QTY", 'N', 5}, {"DAY", 'D', 8}, {"OTHER", 'C', 3}},
                   {"   12.50   4220240131abc", "               "}),
            "|12.50|42|20240131| / |||| / +0");
  EXPECT_EQ(append(d, "dec.dbf", "", {{"QTY", 'N', 5, 1}}, {"  1.5"}), "||2|| / +0");  // other decimals: the value
  EXPECT_EQ(append(d, "memo.dbf", "", {{"NAME", 'C', 4}, {"NOTES", 'M', 10}}, {"m"}, {std::string(70000, 'm')}),
            "m||||#70000 / +0");  // a memo text over 64 KiB
  // Text lines, delimited or by column.
  struct Case {
    const char* text;
    TextSourceOptions options;
    const char* expected;
  } cases[] = {
      {"a;b,7\n", semicolon_comma, "a|b|7|| / +0"},  // either delimiter of the set splits
      {"a;;7", semicolon_comma, "a||7|| / +0"},       // two in a row leave a field empty
      {"  a,  b\n", comma, "  a|  b||| / +0"},
      {"  a,  b\n", no_blank, "a|b||| / +0"},
      {"Bob\n", sdf, "Bob|||| / +0"},  // a short SDF line fills the first columns
      {"Alice     12.50       701.31.2024note\n", sdf, "Alice|12.50|7|20240131|note / +0"},
      {"a,b,1,01.31.2024,memo,extra,more\n", comma, "a|b|1|20240131|memo / +0"},  // the rest ignored
      {"x,y,3,,note\r\nz\r\n", comma, "x|y|3||note / z|||| / +0"},                // CR LF
      {"n,toolongvalue,1234567\nm,ok,999999\n", comma, "n|||| / m|ok||| / +3 at 1,1"},
      {"s,t,1,20240131\n", comma, "s|t|1|20240131| / +0"},  // a date's stored digits are taken too
      {"s,t,1,13.45.2001\n", comma, "s|t|1|| / +1 at 3,1"},  // no such date: refused, not stored
  };
  for (const Case& c : cases) EXPECT_EQ(append(d, "in.txt", c.text, {}, {}, {}, c.options), c.expected) << c.text;
  std::string big = "big,a,1,," + std::string(100000, 'n') + "\n";  // a 100 KB line is one record
  EXPECT_EQ(append(d, "big.txt", big), "big|a|1||#100000 / +0");
  for (auto [name, dbf] : std::vector<std::pair<const char*, bool>>{
           {"DATA.DBF", true}, {"x.Dbf", true}, {"data.txt", false}, {"dbf", false}, {".dbf", false}}) {
    EXPECT_EQ(names_dbf_source(name), dbf) << name;
  }
}

TEST(AppendFromTest, ATableAppendedToItselfDoublesExactly) {
  TempDir dir;
  std::string path = make_table(dir, "self.dbf", {{"NAME", 'C', 6}, {"QTY", 'N', 4}, {"NOTES", 'M', 10}},
                                {"ann      1", "bob      2", "cy       3"}, {"first", "", "third"}, 2);
  auto table = open_table(path);
  ASSERT_TRUE(mark_deleted(*table, 1));
  EXPECT_EQ(append_from_dbf(*table, path).appended, 3u);
  ASSERT_EQ(table->record_count, 6u);
  for (uint32_t q = 0; q < 3; ++q) EXPECT_EQ(describe(*table, q + 3), describe(*table, q));
  // Read back by other readers: the deleted record arrives live.
  EXPECT_EQ(dbfread_dump(path),
            "['ann', 1, 'first']\n['cy', 3, 'third']\n['ann', 1, 'first']\n['bob', 2, None]\n['cy', 3, 'third']\n"
            "deleted 1\n");
  EXPECT_EQ(gdal_csv(path, "NAME,QTY"), "NAME,QTY\nann,\"1\"\ncy,\"3\"\nann,\"1\"\nbob,\"2\"\ncy,\"3\"\n");
}

TEST(AppendFromTest, RecordsJoinTheEndOfAFilteredAndSortedView) {
  TempDir dir;
  auto table = target(dir);
  for (int k = 0; k < 5; ++k) ASSERT_TRUE(append_record(*table, true));
  RecordView view;
  view.visible_list = std::vector<uint32_t>{1, 3, 5};
  view.sort_order = std::vector<uint32_t>{2, 0, 1};
  ASSERT_TRUE(install_record_view(*table, view));
  std::string source = dir.file("in.txt");
  write_text(source, "p\nq\n");
  EXPECT_EQ(append_from_text(*table, source, {}).appended, 2u);
  EXPECT_EQ(*table->view.visible_list, (std::vector<uint32_t>{1, 3, 5, 6, 7}));
  ASSERT_EQ(visible_count(*table), 5u);
  EXPECT_EQ(physical_record(*table, 3) * 10 + physical_record(*table, 4), 67u);
  table->view = RecordView{};
  EXPECT_EQ(describe(*table, 7), "q||||");
}

TEST(AppendFromTest, AStopKeepsWhatWasAppendedWithItsHeaderAndEndMark) {
  TempDir dir;
  auto table = target(dir);
  std::string source = dir.file("many.txt");
  std::string text;
  for (int k = 0; k < 200000; ++k) text.append("r").append(std::to_string(k)).append(",a,1\n");
  write_text(source, text);
  int calls = 0;
  AppendResult result = append_from_text(*table, source, {}, [&](uint64_t done, uint64_t total) {
    EXPECT_LE(done, total);
    return ++calls < 2;
  });
  EXPECT_EQ(result.status, Status::kAborted);
  EXPECT_GT(result.appended, 0u);
  EXPECT_LT(result.appended, 200000u);
  auto reopened = open_table(table->file_name);
  ASSERT_EQ(reopened->record_count, 1 + result.appended);
  EXPECT_EQ(reopened->header_errors, 0);
  std::vector<uint8_t> bytes = read_bytes(table->file_name);
  EXPECT_EQ(bytes.size(), reopened->header_size + size_t(reopened->record_size) * reopened->record_count + 1);
  EXPECT_EQ(bytes.back(), 0x1A);
  EXPECT_EQ(describe(*reopened, result.appended), std::string("r").append(std::to_string(result.appended - 1)).append("|a|1||"));
}

TEST(AppendFromTest, ADBase4BinaryMemoTakesTheTextAsAMemo) {
  TempDir dir;
  DbfLayout layout;
  layout.version = 0x8B;
  layout.fields = {{"NAME", 'C', 4}, {"DOC", 'B', 10}};
  std::string path = dir.file("four.dbf");
  write_bytes(path, build_dbf(layout));
  ASSERT_TRUE(create_memo_file(path, kDBase4, 512));
  auto table = open_table(path);
  std::string text_source = dir.file("in.txt");
  write_text(text_source, "a,12.5\n");
  std::string dbf_source = make_table(dir, "in.dbf", {{"NAME", 'C', 4}, {"DOC", 'N', 6, 1}}, {"b     3.5"});
  EXPECT_EQ(append_from_text(*table, text_source, {}).status, Status::kOk);
  EXPECT_EQ(append_from_dbf(*table, dbf_source).status, Status::kOk);
  ASSERT_EQ(table->record_count, 2u);
  EXPECT_EQ(describe(*table, 0) + " " + describe(*table, 1), "a|12.5 b|3.5");
}

TEST(AppendFromTest, ASourceThatCannotBeReadAddsNothingAndSaysWhy) {
  TempDir dir;
  auto table = target(dir);
  write_text(dir.file("short.dbf"), "tiny");
  make_table(dir, "other.dbf", {{"CITY", 'C', 4}}, {"Oslo"});
  for (auto [path, expected] : std::vector<std::pair<std::string, Status>>{
           {dir.file("other.dbf"), Status::kNoCommonField},  // no field name in common
           {dir.file("missing.dbf"), Status::kNotFound},
           {dir.file("missing.txt"), Status::kNotFound},
           {dir.file("short.dbf"), Status::kShortHeader},
           {dir.path(), Status::kReadError}}) {  // a folder opens but gives no lines
    AppendResult result = names_dbf_source(path) ? append_from_dbf(*table, path) : append_from_text(*table, path, {});
    EXPECT_EQ(result.status, expected) << path;
  }
  EXPECT_EQ(table->record_count, 1u);
  EXPECT_EQ(test::file_size(table->file_name), long(table->header_size) + table->record_size + 1);
  // With some in common, the fields left blank are named.
  make_table(dir, "some.dbf", {{"CITY", 'C', 4}, {"qty", 'N', 2}, {"name", 'C', 3}}, {"Oslo 2abc"});
  AppendResult result = append_from_dbf(*table, dir.file("some.dbf"));
  EXPECT_EQ(result.appended, 1u);
  EXPECT_EQ(result.blank_fields, (std::vector<std::string>{"AMOUNT", "DAY", "NOTES"}));
}

// A dBase III table with a memo file, marked as being in `mark`'s code page,
// opened as the program opens it; memos[k] goes into NOTES of record k.
std::unique_ptr<Table> marked_table(const TempDir& dir, const std::string& name, uint8_t mark,
                                    const std::vector<std::string>& records, const std::vector<std::string>& memos) {
  DbfLayout layout;
  layout.version = 0x83, layout.code_page_mark = mark, layout.records = records;
  layout.fields = {{"NAME", 'C', 10}, {"AMOUNT", 'C', 8}, {"NOTES", 'M', 10}};
  std::string path = dir.file(name);
  write_bytes(path, build_dbf(layout));
  EXPECT_TRUE(create_memo_file(path, kDBase3, 512));
  std::unique_ptr<Table> table = open_table(path);
  for (size_t k = 0; k < memos.size(); ++k)
    EXPECT_TRUE(read_record(*table, uint32_t(k)) && write_memo(*table, 2, memos[k]) && write_record(*table, uint32_t(k)));
  choose_code_page(*table, 0);
  decide_code_page(*table, 0);
  return table;
}

// From a Windows-1252 table into one in 866: the characters both pages hold
// arrive as 866's bytes, memo texts too; a text holding one 866 lacks is
// left out, its field blank, and the first named with its record.
TEST(AppendFromTest, TextFromAnotherCodePageIsConvertedOrRefusedByName) {
  TempDir d;
  std::unique_ptr<Table> table = marked_table(d, "target.dbf", 0x65, {"old"}, {});
  ASSERT_EQ(table->code_page->number(), 866);
  marked_table(d, "source.dbf", 0x03, {"5\xB0\xB7       12", "caf\xE9      13"}, {"5 \xB0" "C", "\xD6lpreis"});
  AppendResult result = append_from_dbf(*table, d.file("source.dbf"));
  EXPECT_EQ(result.status, Status::kOk);
  EXPECT_EQ(result.appended, 2u);
  EXPECT_EQ(result.not_held, 2u);
  EXPECT_EQ(result.first_not_held, "Record 3, field NAME: \xC3\xA9 cannot be stored in code page 866");
  EXPECT_EQ(describe(*table, 1), "5\xF8\xFA|12|5 \xF8" "C");
  EXPECT_EQ(describe(*table, 2), "|13|");
  // Between 866 and 1251 the bytes are taken as they stand, as before.
  std::unique_ptr<Table> ansi = marked_table(d, "ansi.dbf", 0xC9, {"\xC6"}, {});
  result = append_from_dbf(*ansi, d.file("target.dbf"));
  EXPECT_EQ(result.not_held, 0u);
  EXPECT_EQ(describe(*ansi, 2), "5\xF8\xFA|12|5 \xF8" "C");
}

}  // namespace
}  // namespace kora
