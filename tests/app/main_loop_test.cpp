// The main loop with several tables: opening from the Favorites pull-down,
// switching with Ctrl+Tab, Alt+Tab and the Alt+0 list, closing, quitting, the
// menu items' states, and the progress box.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/main_loop.h"
#include "app/menu_tree.h"
#include "program_driver.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "ui/screen.h"

namespace kora {
namespace {

using namespace kora::test;

constexpr const char* kStates = "shapelib/mexico/states.dbf";  // 32 records
constexpr const char* kPoints = "infused-dbf/dbase_03.dbf";    // 14 records

// Keys that open the favourite `from_end` places above the last one.
std::vector<int> open_favourite(int from_end) {
  std::vector<int> keys = {kAltO, kEnd};
  for (int i = 0; i < from_end; ++i) keys.push_back(kUp);
  keys.push_back(kEnter);
  return keys;
}

std::vector<int> join(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct TwoTables : ::testing::Test {
  TempDir dir;
  std::string a = dir.copy_fixture(kStates, "a.dbf");
  std::string b = dir.copy_fixture(kPoints, "b.dbf");
  // The favourites file beside the program names the tables to open; the
  // second is a through a symbolic link.
  void SetUp() override {
    ASSERT_EQ(symlink(a.c_str(), dir.file("link.dbf").c_str()), 0);
    std::string text = b + "\n" + dir.file("link.dbf") + "\n" + dir.file("missing.dbf") + "\n";
    write_bytes(dir.file("kora.fvr"), std::vector<uint8_t>(text.begin(), text.end()));
    program_file() = dir.file("kora");
  }
  void TearDown() override {
    program_file() = "/nonexistent-kora-test/kora";
    menu_set_favorites({});
  }
};

TEST_F(TwoTables, AFavouriteOpensAsASecondTableAndBecomesCurrent) {
  EXPECT_EQ(run_kora({a}, open_favourite(2)), 0);
  EXPECT_EQ(row(0).substr(0, 8), "[1]b.dbf");
  EXPECT_NE(row(0).find("1 / 14"), std::string::npos);
  // b was closed at the end; a is still in the list.
  EXPECT_EQ(g_app.tables.last, 0);
  // Both went on the recent list beside the program, the last opened on top.
  std::vector<uint8_t> recent = read_bytes(dir.file("kora.lst"));
  std::string text(recent.begin(), recent.end());
  EXPECT_EQ(text.find(b), 0u) << text;
  EXPECT_NE(text.find(a), std::string::npos) << text;
}

TEST_F(TwoTables, ASymbolicLinkToAnOpenTableSwitchesToItWithoutAdding) {
  std::vector<int> keys = join(open_favourite(2), open_favourite(1));
  EXPECT_EQ(run_kora({a}, keys), 0);
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
  EXPECT_EQ(g_app.tables.last, 0);  // only b is left after a was closed
  EXPECT_EQ(g_app.tables.at(0)->file_name, b);
}

// Every way of leaving an edited record without writing it asks, with
// Confirmation off too: Save writes, Don't save drops, Cancel (Esc) goes
// back to the typed text, which the key after it extends.
TEST_F(TwoTables, LeavingAnEditedRecordAsksSaveDontSaveOrCancel) {
  std::string original = [&] {
    auto table = open_table(b);
    return table && read_record(*table, 0) ? std::string(field_raw_text(*table, 0)) : std::string();
  }();
  ASSERT_FALSE(original.empty());
  ASSERT_NE(original[0], 'Z');
  const std::vector<std::pair<const char*, std::vector<int>>> ways = {
      {"Esc", {kEsc}},         {"F10", {kF10}},           {"F12", {kF12}},
      {"File Exit", {kAltF, 'x'}}, {"Refresh", {0x1312}},  {"Ctrl+Tab", {kCtrlTab}},
      {"Alt+0", {kAlt0, kUp, kEnter}}, {"File Close", {kAltF, 'l'}}, {"a favourite", open_favourite(0)},
  };
  const std::vector<std::pair<std::vector<int>, std::string>> answers = {
      {{kEnter}, "Z"}, {{kRight, kEnter}, ""}, {{kEsc, 'Y'}, "ZY"},
  };
  for (const auto& [way, way_keys] : ways) {
    for (const auto& [answer_keys, start] : answers) {
      TempDir run;
      std::string edited = run.copy_fixture(kPoints, "b.dbf");
      std::string text = edited + "\n" + dir.file("link.dbf") + "\n";
      write_bytes(dir.file("kora.fvr"), std::vector<uint8_t>(text.begin(), text.end()));
      std::vector<int> keys = join(join(join(open_favourite(1), {0x3E00, 'Z'}), way_keys), answer_keys);
      run_kora({a}, keys);
      auto table = open_table(edited);
      ASSERT_TRUE(table && read_record(*table, 0));
      std::string stored = field_raw_text(*table, 0);
      if (start.empty()) {
        EXPECT_EQ(stored, original) << way;
      } else {
        EXPECT_EQ(stored.substr(0, start.size()), start) << way << " " << stored;
      }
    }
  }
}

TEST_F(TwoTables, AFileThatCannotBeOpenedLeavesTheCurrentTable) {
  EXPECT_EQ(run_kora({a}, open_favourite(0)), 0);
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
  EXPECT_EQ(g_app.tables.last, -1);
}

TEST_F(TwoTables, CtrlTabAndAltTabWalkTheListAndEachTableKeepsItsPlace) {
  std::vector<int> keys = join(open_favourite(2), {kDown, kDown, kCtrlTab});
  run_kora({a}, keys);
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
  EXPECT_NE(row(0).find("1 / 32"), std::string::npos);

  run_kora({a}, join(keys, {kCtrlTab}));
  EXPECT_EQ(row(0).substr(0, 8), "[1]b.dbf");
  EXPECT_NE(row(0).find("3 / 14"), std::string::npos);

  run_kora({a}, join(keys, {kAltTab}));
  EXPECT_EQ(row(0).substr(0, 8), "[1]b.dbf");

  // Alt+Tab as an xterm-style terminal reports it (ESC, Tab).
  run_kora({a}, join(keys, {0xA500}));
  EXPECT_EQ(row(0).substr(0, 8), "[1]b.dbf");
}

TEST_F(TwoTables, TheListOfOpenTablesChoosesOne) {
  run_kora({a}, join(open_favourite(2), {kAlt0, kUp, kEnter}));
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
  run_kora({a}, join(open_favourite(2), {kAlt0, kEnter}));
  EXPECT_EQ(row(0).substr(0, 8), "[1]b.dbf");
}

TEST_F(TwoTables, WithOneTableSwitchingDoesNothingAndCloseIsDisabled) {
  run_kora({a}, {kCtrlTab, kAltTab, kAltF, kEsc});
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
  EXPECT_TRUE(menu_item_of(Cmd::Close)->flags & kItemDisabled);

  run_kora({a}, join(open_favourite(2), {kAltF, kEsc}));
  EXPECT_FALSE(menu_item_of(Cmd::Close)->flags & kItemDisabled);
}

TEST_F(TwoTables, ClosingTheLastTableOfTheListShowsTheOneBefore) {
  run_kora({a}, join(open_favourite(2), {kAltF, 'l'}));
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
  EXPECT_EQ(g_app.tables.last, -1);
}

TEST(MainLoop, F10AndEscQuitAndTheMenuExitToo) {
  TempDir dir;
  std::string a = dir.copy_fixture(kPoints, "a.dbf");
  // Keys after the quit key are never read.
  EXPECT_EQ(run_kora({a}, {kF10, kDown}), 0);
  EXPECT_NE(row(0).find("1 / 14"), std::string::npos);
  EXPECT_EQ(run_kora({a}, {kEsc, kDown}), 0);
  EXPECT_NE(row(0).find("1 / 14"), std::string::npos);
  EXPECT_EQ(run_kora({a}, {kAltF, 'x', kDown}), 0);
  EXPECT_NE(row(0).find("1 / 14"), std::string::npos);
}

TEST(MainLoop, ViewMenuItemsAreMarkedFromTheCurrentTable) {
  TempDir dir;
  std::string a = dir.copy_fixture(kPoints, "a.dbf");
  run_kora({"/r+", a}, {kF2, kAltV, kEsc});
  EXPECT_TRUE(menu_item_of(Cmd::Reverse)->flags & kItemMarked);
  EXPECT_TRUE(menu_item_of(Cmd::ViewFields)->flags & kItemMarked);
  EXPECT_FALSE(menu_item_of(Cmd::ViewBrowse)->flags & kItemMarked);
  EXPECT_TRUE(menu_item_of(Cmd::OemCharset)->flags & kItemMarked);
  // The View menu's Browse switches back.
  run_kora({a}, {kF2, kAltV, 'b'});
  EXPECT_EQ(row(24).substr(8, 8), " 2Fields");
}

TEST(MainLoop, TheProgressBoxFillsItsBarAndRestoresTheScreen) {
  TempDir dir;
  std::string a = dir.copy_fixture(kPoints, "a.dbf");
  run_kora({a}, {});
  std::string before = row(12);
  progress_open(4);
  EXPECT_NE(row(11).find("Please wait..."), std::string::npos);
  EXPECT_EQ(row(13).substr(25, 30), std::string(30, char(176)));
  progress_step();
  progress_step();
  EXPECT_EQ(row(13).substr(25, 16), std::string(15, char(219)) + char(176));
  progress_step();
  progress_step();
  // A full bar stops one cell short.
  EXPECT_EQ(row(13).substr(25, 30), std::string(29, char(219)) + char(176));
  progress_close();
  EXPECT_EQ(row(12), before);
}

// Ctrl+Tab in edit mode writes the record and keeps editing in the other
// table, whose current record is shown as its file holds it.
TEST(MainLoop, SwitchingTablesInEditModeShowsTheNewTablesRecord) {
  TempDir dir;
  std::string a = dir.copy_fixture(kStates, "a.dbf");
  std::string b = dir.copy_fixture(kPoints, "b.dbf");
  reset_app_state();
  screen_open_headless(25, 80);
  install_cell_editing();
  ASSERT_EQ(add_open_table(a), 0);
  ASSERT_EQ(add_open_table(b), 1);
  auto paint = [] {
    g_app.redraw = kRedrawAll;
    full_repaint();
    paint_view();
  };
  g_app.current = 1;
  paint();
  std::string shown = row(4);
  ASSERT_NE(shown.substr(3, 10), std::string(10, ' '));

  g_app.current = 0;
  ASSERT_EQ(edit_mode_on(), 1);
  paint();
  next_table();
  ASSERT_EQ(g_app.current, 1);
  EXPECT_EQ(g_app.edit.mode, 1);
  paint();
  EXPECT_EQ(row(4), shown);
  edit_mode_off(false);
  reset_app_state();
}

}  // namespace
}  // namespace kora

namespace kora {
namespace {

using namespace kora::test;

// A favourite opened while a record is being edited: Save writes the edited
// record before the other table is shown, so the change is not lost.
TEST(FavouriteInEditMode, SaveWritesTheEditedRecordBeforeTheSwitch) {
  TempDir dir;
  std::string a = dir.copy_fixture("shapelib/mexico/states.dbf", "a.dbf");
  std::string b = dir.copy_fixture("infused-dbf/dbase_03.dbf", "b.dbf");
  std::string text = b + "\n";
  write_bytes(dir.file("kora.fvr"), std::vector<uint8_t>(text.begin(), text.end()));
  program_file() = dir.file("kora");
  std::vector<int> keys = {kRight, 0x3E00, 'Z', kAltO, kEnd, kEnter, kEnter, kF10};  // CODE, a C field
  run_kora({a}, keys);
  program_file() = "/nonexistent-kora-test/kora";
  menu_set_favorites({});

  auto table = open_table(a);
  ASSERT_TRUE(table);
  ASSERT_EQ(read_record(*table, 0), 1);
  EXPECT_EQ(std::string(field_raw_text(*table, 1)), "Z   ");
}

}  // namespace
}  // namespace kora
