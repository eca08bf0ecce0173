// The data tools' commands on the headless screen. Database info: the twelve
// lines with their values against the right edge, a long path cut in the
// middle, Copy appending the facts to a file, a failed Copy reported. Save
// structure: the structure table replaces a file only when the user says so
// and never the open table.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "../ui/popup_fixture.h"
#include "app/app_state.h"
#include "app/tool_commands.h"
#include "table/memo_file.h"
#include "tools/database_info.h"
#include "tools/structure_forms.h"
#include "ui/key_codes.h"

namespace kora {
namespace {

using namespace kora::test;

struct ToolCommands : PopupTest {
  TempDir dir;

  std::string make_table(const std::string& name, bool memo) {
    DbfLayout layout;
    layout.version = memo ? 0x83 : 0x03;
    layout.fields = {{"NAME", 'C', 10}};
    if (memo) layout.fields.push_back({"NOTES", 'M', 10});
    layout.records = {"one"};
    std::string path = dir.file(name);
    write_bytes(path, build_dbf(layout));
    if (memo) {
      EXPECT_TRUE(create_memo_file(path, kDBase3, 0));
    }
    return path;
  }
  void open(const std::string& path) {
    reset_app_state();
    ASSERT_EQ(add_table(g_app.tables, path), 0);
    g_app.current = 0;
  }
  void type(const std::string& text) {
    for (char c : text) keys_.push_back(static_cast<unsigned char>(c));
    keys_.push_back(kEnter);
  }
  std::string seen_row(size_t wait, int y) const { return seen_text(wait, 0, y, 80); }
  bool seen_anywhere(size_t wait, const std::string& text) const {
    for (int y = 0; y < 25; ++y) {
      if (seen_row(wait, y).find(text) != std::string::npos) return true;
    }
    return false;
  }
  void TearDown() override {
    PopupTest::TearDown();
    reset_app_state();
  }
};

TEST_F(ToolCommands, ShowsTheFactsRightAlignedAndCopyAppendsThemEachTime) {
  ASSERT_EQ(mkdir(dir.file("a-folder-with-a-rather-long-name-for-the-dialog").c_str(), 0755), 0);
  std::string path = make_table("a-folder-with-a-rather-long-name-for-the-dialog/memo.dbf", true);
  open(path);
  std::string out = dir.file("info");
  press({kEnter});
  type(out);
  database_info_command();
  press({kEnter});
  type(out);
  database_info_command();

  // Labels from column 7, values ending at column 73; a long path shows its
  // start and its end.
  ASSERT_GT(path.size(), 50u);
  const struct {
    int row;
    const char* label;
    std::string value;
  } lines[] = {
      {5, "File:", path.substr(0, 3) + "..." + path.substr(path.size() - 44)},
      {6, "Type:", "dBase III"},
      {13, "Index files:", "None"},
      {14, "Memo-fields:", "Yes"},
      {15, "Memo-file:", path.substr(0, 3) + "..." + path.substr(path.size() - 44, 41) + "dbt"},
      {17, "Blocksize:", "512 bytes"},
  };
  for (const auto& line : lines) {
    std::string row = seen_row(0, line.row);
    EXPECT_EQ(row.substr(7, std::strlen(line.label)), line.label);
    EXPECT_EQ(row.substr(73 - line.value.size(), line.value.size() + 2), " " + line.value + " ") << row;
  }
  EXPECT_NE(seen_row(0, 4).find("Database info"), std::string::npos);
  EXPECT_NE(seen_row(0, 18).find("Copy"), std::string::npos);
  EXPECT_NE(seen_row(0, 18).find("Cancel"), std::string::npos);

  std::string block = database_info_text(database_info(*g_app.table()));
  EXPECT_EQ(std::count(block.begin(), block.end(), '\n'), 13);
  std::vector<uint8_t> bytes = read_bytes(out + ".txt");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), block + block);
}

TEST_F(ToolCommands, TableWithoutMemoLeavesTheMemoLinesEmptyAndAFailedCopyIsReported) {
  open(make_table("plain.dbf", false));
  press({kEnter});
  type(dir.file("no-such-folder/info"));
  press({kEnter});
  database_info_command();

  EXPECT_EQ(seen_row(0, 13).substr(69, 6), " None ");
  EXPECT_EQ(seen_row(0, 14).substr(71, 4), " No ");
  for (int y = 15; y <= 17; ++y) EXPECT_EQ(seen_row(0, y).substr(22, 53), std::string(53, ' ')) << y;
  // The last key closes the error box, which was on the screen before it.
  EXPECT_TRUE(seen_anywhere(seen_.size() - 1, "Cannot open file"));
  EXPECT_EQ(keys_left(), 0);
}

TEST_F(ToolCommands, SaveStructureReplacesOnlyWhenToldAndNeverTheOpenTable) {
  std::string table_path = make_table("memo.dbf", true);
  open(table_path);
  const Table& table = *g_app.table();
  std::string target = dir.file("s");
  write_bytes(target + ".dbf", {'o', 'l', 'd'});

  type(target);
  press({kEnter});  // the question starts on Cancel
  EXPECT_EQ(save_structure(table, StructureForm::kDbf, XmlEncoding::kCp866), 0);
  EXPECT_TRUE(seen_anywhere(seen_.size() - 1, "Do you wish to replace it?"));
  EXPECT_EQ(read_bytes(target + ".dbf"), std::vector<uint8_t>({'o', 'l', 'd'}));

  type(target);
  press({kLeft, kEnter});
  EXPECT_EQ(save_structure(table, StructureForm::kDbf, XmlEncoding::kCp866), 1);
  std::string structure = structure_text(StructureForm::kDbf, table, {});
  EXPECT_EQ(read_bytes(target + ".dbf"), std::vector<uint8_t>(structure.begin(), structure.end()));

  std::vector<uint8_t> before = read_bytes(table_path);
  for (StructureForm form : {StructureForm::kDbf, StructureForm::kText}) {
    type(table_path.substr(0, table_path.size() - 4));
    if (form == StructureForm::kText) keys_.insert(keys_.end() - 1, {kEnd, kKeyBackspace, kKeyBackspace, kKeyBackspace, 'd', 'b', 'f'});
    press({kEnter});  // closes the error box
    EXPECT_EQ(save_structure(table, form, XmlEncoding::kCp866), 0);
    EXPECT_TRUE(seen_anywhere(seen_.size() - 1, "Cannot write over a table open in KORA"));
  }
  EXPECT_EQ(read_bytes(table_path), before);
  EXPECT_EQ(keys_left(), 0);
}

}  // namespace
}  // namespace kora
