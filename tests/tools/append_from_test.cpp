// Appending from other tables and text files: fields matched by name,
// delimited and fixed-width lines, line ends, lines and memo texts of any
// length, values that do not fit counted, the table appended to itself,
// filtered views, stops, dBase IV binary memos and sources that cannot be
// read.
#include "tools/append_from.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/independent_readers.h"
#include "../support/test_support.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/value_codec.h"

namespace kora {
namespace {

using namespace kora::test;

constexpr int kName = 0, kAmount = 1;

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A dBase III table with a memo file; memos[k] (if not empty) becomes the
// memo text of field `memo_field` in record k.
std::string make_table(const TempDir& dir, const std::string& name, const std::vector<FieldSpec>& fields,
                       const std::vector<std::string>& records, const std::vector<std::string>& memos = {},
                       int memo_field = -1) {
  DbfSpec layout;
  layout.version = 0x83;
  layout.fields = fields;
  layout.records = records;
  std::string path = dir.file(name);
  write_bytes(path, build_dbf(layout));
  EXPECT_TRUE(create_memo_file(path, kDBase3, 512));
  if (memos.empty()) return path;
  auto table = open_table(path);
  for (size_t k = 0; k < memos.size(); ++k) {
    if (memos[k].empty()) continue;
    EXPECT_TRUE(read_record(*table, uint32_t(k)));
    EXPECT_TRUE(write_memo(*table, memo_field, memos[k]));
    EXPECT_TRUE(write_record(*table, uint32_t(k)));
  }
  return path;
}

// NAME C(10), AMOUNT C(8), QTY N(5), DAY D(8), NOTES M(10); one record "old".
std::unique_ptr<Table> target(const TempDir& dir) {
  std::string path = make_table(dir, "target.dbf",
                                {{"NAME", 'C', 10}, {"AMOUNT", 'C', 8}, {"QTY", 'N', 5}, {"DAY", 'D', 8},
                                 {"NOTES", 'M', 10}},
                                {"old"});
  return open_table(path);
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
    if (i > 0) out += '|';
    out += text;
  }
  return out;
}

struct Source {
  std::string name;
  std::string text;                // a text source
  std::vector<FieldSpec> fields;   // or a DBF source
  std::vector<std::string> records;
  std::vector<std::string> memos;  // of its last field
};

Source text_source(std::string name, std::string text) { return {std::move(name), std::move(text), {}, {}, {}}; }
Source dbf_source(std::string name, std::vector<FieldSpec> fields, std::vector<std::string> records,
                  std::vector<std::string> memos = {}) {
  return {std::move(name), "", std::move(fields), std::move(records), std::move(memos)};
}

TEST(AppendFromTest, TablesAndTextLinesArriveByNameAndByColumn) {
  struct Case {
    const char* story;
    Source source;
    TextSourceOptions options;
    std::vector<std::string> expected;
    uint64_t did_not_fit;
    int first_field;
  };
  const std::string big(100000, 'n');
  const TextSourceOptions comma, semicolon_comma{";,"}, no_blank{",", false, true}, sdf{",", true};
  const std::vector<Case> cases = {
      {"a C 20 name gives its first 10 characters, counted",
       dbf_source("DATA.DBF", {{"NAME", 'C', 20}}, {"Alexandrina Longname"}), comma, {"Alexandrin||||"}, 1, kName},
      {"numbers arrive as trimmed text; unmatched fields are ignored",
       dbf_source("nums.dbf", {{"AMOUNT", 'N', 8, 2}, {"QTY", 'N', 5}, {"DAY", 'D', 8}, {"OTHER", 'C', 3}},
                  {"   12.50   4220240131abc", "               "}),
       comma, {"|12.50|42|20240131|", "||||"}, 0, -1},
      {"other decimals pass through the value", dbf_source("dec.dbf", {{"QTY", 'N', 5, 1}}, {"  1.5"}), comma,
       {"||2||"}, 0, -1},
      {"a memo text over 64 KiB",
       dbf_source("memo.dbf", {{"NAME", 'C', 4}, {"NOTES", 'M', 10}}, {"m"}, {std::string(70000, 'm')}),
       comma, {"m||||#70000"}, 0, -1},
      {"either delimiter of the set splits", text_source("a.txt", "a;b,7\n"), semicolon_comma, {"a|b|7||"}, 0, -1},
      {"two delimiters in a row leave a field empty", text_source("b.txt", "a;;7"), semicolon_comma, {"a||7||"}, 0, -1},
      {"leading blanks kept", text_source("c.txt", "  a,  b\n"), comma, {"  a|  b|||"}, 0, -1},
      {"leading blanks ignored", text_source("d.txt", "  a,  b\n"), no_blank, {"a|b|||"}, 0, -1},
      {"a short SDF line fills the first columns", text_source("e.txt", "Bob\n"), sdf, {"Bob||||"}, 0, -1},
      {"SDF columns by display width",
       text_source("f.txt", "Alice     12.50       701.31.2024note\n"), sdf, {"Alice|12.50|7|20240131|note"}, 0, -1},
      {"values beyond the columns are ignored",
       text_source("data.txt", "a,b,1,01.31.2024,memo,extra,more\n"), comma, {"a|b|1|20240131|memo"}, 0, -1},
      {"CR LF ends lines", text_source("g.txt", "x,y,3,,note\r\nz\r\n"), comma, {"x|y|3||note", "z||||"}, 0, -1},
      {"a 100 KB line is one record", text_source("h.txt", "big,a,1,," + big + "\n"), comma, {"big|a|1||#100000"}, 0, -1},
      {"values that do not fit are counted",
       text_source("i.txt", "n,toolongvalue,1234567\nm,ok,999999\n"), comma, {"n|toolongv|||", "m|ok|||"}, 3, kAmount},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.story);
    TempDir dir;
    auto table = target(dir);
    std::string path = dir.file(c.source.name);
    if (c.source.fields.empty()) {
      write_text(path, c.source.text);
    } else {
      make_table(dir, c.source.name, c.source.fields, c.source.records, c.source.memos,
                 int(c.source.fields.size()) - 1);
    }
    AppendResult result = names_dbf_source(path) ? append_from_dbf(*table, path) : append_from_text(*table, path, c.options);
    EXPECT_EQ(result.status, Status::kOk);
    EXPECT_EQ(result.appended, c.expected.size());
    for (uint32_t q = 1; q < table->record_count && q <= c.expected.size(); ++q) {
      EXPECT_EQ(describe(*table, q), c.expected[q - 1]);
    }
    EXPECT_EQ(describe(*table, 0), "old||||");
    EXPECT_EQ(result.did_not_fit, c.did_not_fit);
    if (c.did_not_fit) {
      EXPECT_EQ(result.first_field, c.first_field);
      EXPECT_EQ(result.first_record, 1u);
    }
    auto reopened = open_table(table->file_name);
    EXPECT_EQ(reopened->record_count, 1 + c.expected.size());
    EXPECT_EQ(reopened->header_errors, 0);
  }
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
  AppendResult result = append_from_dbf(*table, path);
  EXPECT_EQ(result.status, Status::kOk);
  EXPECT_EQ(result.appended, 3u);
  ASSERT_EQ(table->record_count, 6u);
  for (uint32_t q = 0; q < 3; ++q) EXPECT_EQ(describe(*table, q + 3), describe(*table, q));
  // Read back by other readers: the deleted record arrives live.
  std::vector<std::string> lines = lines_of(dbfread_dump(path));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "['ann', 1, 'first']");
  EXPECT_EQ(lines[2], "['ann', 1, 'first']");
  EXPECT_EQ(lines[3], "['bob', 2, None]");
  EXPECT_EQ(lines[4], "['cy', 3, 'third']");
  EXPECT_EQ(lines[5], "deleted 1");
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
  EXPECT_EQ(physical_record(*table, 3), 6u);
  EXPECT_EQ(physical_record(*table, 4), 7u);
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
  DbfSpec layout;
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
  EXPECT_EQ(describe(*table, 0), "a|12.5");
  EXPECT_EQ(describe(*table, 1), "b|3.5");
}

TEST(AppendFromTest, ASourceThatCannotBeReadAddsNothingAndSaysWhy) {
  TempDir dir;
  auto table = target(dir);
  write_text(dir.file("short.dbf"), "tiny");
  for (auto [path, expected] : std::vector<std::pair<std::string, Status>>{
           {dir.file("missing.dbf"), Status::kNotFound},
           {dir.file("missing.txt"), Status::kNotFound},
           {dir.file("short.dbf"), Status::kShortHeader},
           {dir.path(), Status::kReadError}}) {  // a folder opens but gives no lines
    AppendResult result = names_dbf_source(path) ? append_from_dbf(*table, path) : append_from_text(*table, path, {});
    EXPECT_EQ(result.status, expected) << path;
  }
  EXPECT_EQ(table->record_count, 1u);
  EXPECT_EQ(test::file_size(table->file_name), long(table->header_size) + table->record_size + 1);
}

}  // namespace
}  // namespace kora
