// Menu items chosen through the menu bar by their keys run the commands of
// the program; a disabled item does nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/commands.h"
#include "app/menu_tree.h"
#include "program_driver.h"
#include "table/byte_order.h"
#include "table/record_ops.h"
#include "ui/line_editor.h"
#include "ui/settings.h"

namespace kora {
namespace {

using namespace kora::test;

constexpr const char* kPoints = "infused-dbf/dbase_03.dbf";  // 14 records, no deleted ones
constexpr int kAltF2 = 0x6900, kAltE = 0x1200, kAltM = 0x3200, kCtrlF5 = 0x6200;

struct Points {
  uint32_t count = 0;
  uint32_t deleted = 0;
  std::vector<uint8_t> first, last;
};

// The record count of the header and the records as the file holds them.
Points read_points(const std::string& path) {
  std::vector<uint8_t> bytes = read_bytes(path);
  Points points;
  points.count = get_le32(&bytes[4]);
  size_t header = get_le16(&bytes[8]), size = get_le16(&bytes[10]);
  for (uint32_t i = 0; i < points.count; ++i) points.deleted += bytes[header + i * size] == '*';
  points.first.assign(bytes.begin() + long(header), bytes.begin() + long(header + size));
  size_t at = header + (points.count - 1) * size;
  points.last.assign(bytes.begin() + long(at), bytes.begin() + long(at + size));
  return points;
}

struct MenuCommands : ::testing::Test {
  TempDir dir;
  std::string a = dir.copy_fixture(kPoints, "a.dbf");
  void TearDown() override {
    program_file() = "/nonexistent-kora-test/kora";
    menu_set_favorites({});
  }
};

// The same file under a second name is the open table itself; a record
// another program appends reaches it only through File, Refresh.
TEST_F(MenuCommands, RefreshRereadsRecordsAddedFromOutside) {
  std::string text = dir.file("./a.dbf") + "\n";
  write_bytes(dir.file("kora.fvr"), std::vector<uint8_t>(text.begin(), text.end()));
  program_file() = dir.file("kora");
  run_kora({a}, {kAltO, kEnd, kEnter, kCtrlF5});
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
  EXPECT_NE(row(0).find("15 / 15"), std::string::npos) << row(0);

  reset_app_state();
  screen_open_headless(25, 80);
  ASSERT_EQ(add_open_table(a), 0);
  {
    auto other = open_table(a);
    ASSERT_TRUE(other);
    ASSERT_EQ(append_record(*other, true), 1);
  }
  EXPECT_EQ(visible_count(*g_app.table()), 15u);
  run_menu_command(Cmd::Refresh);
  EXPECT_EQ(visible_count(*g_app.table()), 16u);
  EXPECT_EQ(read_points(a).count, 16u);
  reset_app_state();
}

TEST_F(MenuCommands, ToolsAllMarksEveryRecordAndIsDisabledWhenReadOnly) {
  run_kora({"/ro", a}, {kAltT, 'a', 'd', kEsc});
  EXPECT_EQ(read_points(a).deleted, 0u);
  EXPECT_TRUE(menu_item_of(Cmd::AllMenu)->flags & kItemDisabled);

  run_kora({a}, {kAltT, 'a', 'd'});
  EXPECT_EQ(read_points(a).deleted, 14u);
  run_kora({a}, {kAltT, 'a', 'i', kDown, kAltT, 'a', 'r'});
  EXPECT_EQ(read_points(a).deleted, 0u);
  run_kora({a}, {kAltT, 'a', 'i'});
  EXPECT_EQ(read_points(a).deleted, 14u);
}

TEST_F(MenuCommands, ReadOnlyTogglesIsMarkedAndDisablesTheRecordCommands) {
  run_kora({a}, {kAltV, 'y', kAltV, kEsc, kAltM, 'a', 'z', kEsc});
  EXPECT_EQ(g_settings.read_only, 1);
  EXPECT_TRUE(menu_item_of(Cmd::ReadOnly)->flags & kItemMarked);
  EXPECT_TRUE(menu_item_of(Cmd::AppendNow)->flags & kItemDisabled);
  EXPECT_TRUE(menu_item_of(Cmd::Zap)->flags & kItemDisabled);
  EXPECT_EQ(read_points(a).count, 14u);

  run_kora({a}, {kAltV, 'y', kAltV, 'y', kAltV, kEsc, kAltM, 'a'});
  EXPECT_EQ(g_settings.read_only, 0);
  EXPECT_FALSE(menu_item_of(Cmd::ReadOnly)->flags & kItemMarked);
  EXPECT_EQ(read_points(a).count, 15u);
}

TEST_F(MenuCommands, DuplicateAppendsACopyAndHideDeletedIsMarked) {
  run_kora({a}, {kAltM, 'r', 'a', 0x5300, kAltV, 'h', kAltV, kEsc});
  Points points = read_points(a);
  ASSERT_EQ(points.count, 15u);
  // The copy lands last; Del then marked it, which is all that differs.
  EXPECT_EQ(points.deleted, 1u);
  EXPECT_EQ(points.last[0], '*');
  EXPECT_TRUE(std::equal(points.first.begin() + 1, points.first.end(), points.last.begin() + 1));
  EXPECT_TRUE(menu_item_of(Cmd::HideDeleted)->flags & kItemMarked);
  EXPECT_NE(row(0).find("/ 14"), std::string::npos) << row(0);
}

TEST_F(MenuCommands, ShowSelectedOnlyDisablesInsertAndDelete) {
  run_kora({a}, {kAltV, 's', 's', kAltV, 's', 'o', kAltM, kEsc});
  // One record shown, and it carries the selection mark.
  EXPECT_NE(row(0).find("1 (1) / 1"), std::string::npos) << row(0);
  EXPECT_TRUE(menu_item_of(Cmd::InsertNow)->flags & kItemDisabled);
  EXPECT_TRUE(menu_item_of(Cmd::DeleteNow)->flags & kItemDisabled);
  EXPECT_FALSE(menu_item_of(Cmd::AppendNow)->flags & kItemDisabled);

  run_kora({a}, {kAltM, kEsc});
  EXPECT_FALSE(menu_item_of(Cmd::InsertNow)->flags & kItemDisabled);
}

TEST_F(MenuCommands, EditCopyPutsTheCellOnTheClipboardAndPasteRecordNeedsACopy) {
  g_text_clipboard.text.clear();
  run_kora({a}, {kAltE, kEsc});
  EXPECT_TRUE(menu_item_of(Cmd::PasteRecord)->flags & kItemDisabled);
  EXPECT_FALSE(menu_item_of(Cmd::Copy)->flags & kItemDisabled);

  run_kora({a}, {kAltE, 'c', kAltE, 'y', kAltE, kEsc});
  EXPECT_EQ(g_text_clipboard.text.rfind("0507121", 0), 0u) << g_text_clipboard.text;
  EXPECT_FALSE(menu_item_of(Cmd::PasteRecord)->flags & kItemDisabled);
}

}  // namespace
}  // namespace kora

namespace kora {
namespace {

using namespace kora::test;

// File > Exit leaves edit mode the way F10 does: with Confirmation on, the
// question about the changes comes first, and Save writes the record.
TEST(MenuExit, ExitAsksAboutChangesAndSaveWritesTheRecord) {
  TempDir dir;
  std::string table = dir.copy_fixture("infused-dbf/dbase_03.dbf", "points.dbf");
  write_bytes(dir.file("kora.ini"), {'[', 'O', 'p', 't', 'i', 'o', 'n', 's', ']', '\r', '\n', 'C', 'o', 'n', 'f', 'i',
                                     'r', 'm', 'a', 't', 'i', 'o', 'n', '=', '1', '\r', '\n'});
  program_file() = dir.file("kora");
  run_kora({table}, {0x3E00, 'Z', kAltF, 'x', kEnter});
  program_file() = "/nonexistent-kora-test/kora";
  std::vector<uint8_t> bytes = read_bytes(table);
  size_t first_field = get_le16(&bytes[8]) + 1;
  EXPECT_EQ(bytes[first_field], 'Z');
}

TEST_F(MenuCommands, DatabaseInfoCopiesFromAltF2AndFromTheFileMenu) {
  // Copy once from each way in: the file holds the two blocks.
  std::string out = dir.file("info");
  std::vector<int> keys = {kAltF2, kEnter};
  keys.insert(keys.end(), out.begin(), out.end());
  keys.insert(keys.end(), {kEnter, kAltF, 'd', kEnter});
  keys.insert(keys.end(), out.begin(), out.end());
  keys.push_back(kEnter);
  run_kora({a}, keys);
  std::vector<uint8_t> bytes = read_bytes(out + ".txt");
  std::string text(bytes.begin(), bytes.end());
  std::string block = "File:\t" + a + "\nType:\tdBase III\n";
  ASSERT_EQ(text.substr(0, block.size()), block);
  EXPECT_EQ(text.find(block, 1), text.size() / 2);
  EXPECT_NE(text.find("Record count:\t14\nFields count:\t"), std::string::npos);
}

}  // namespace
}  // namespace kora
