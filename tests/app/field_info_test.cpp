// The Field info window on the headless screen: its rows, aliases edited in
// place and stored in the header file on Enter, F12 and Esc, and a structure
// form written with F2..F9.
#include "app/field_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "program_driver.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/main_loop.h"
#include "ui/backend.h"
#include "ui/screen.h"

namespace kora {
namespace {

using test::TempDir;

constexpr int kEnter = 0x1C0D, kEsc = 0x011B, kUp = 0x4800, kDown = 0x5000, kCtrlEnd = 0x7500, kF2 = 0x3C00,
              kF12 = 0x8600, kEnd = 0x4F00, kBackspace = 0x0E08,
              kShiftF2 = 0x5500, kF10 = 0x4400;

class FieldInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_open_headless(25, 80);
    reset_app_state();
    test::DbfLayout layout;
    layout.fields = {{"NAME", 'C', 300}, {"PRICE", 'N', 8, 2}, {"DAY", 'D', 8}};
    layout.records = {"x"};
    path = dir.file("goods.dbf");
    test::write_bytes(path, test::build_dbf(layout));
    g_app.current = add_table(g_app.tables, path);
    ASSERT_EQ(g_app.current, 0);
  }
  void TearDown() override { reset_app_state(); }

  Table& table() { return *g_app.table(); }
  // Each key comes a moment after the one before, so that the window waits
  // (and can be looked at) between them.
  void keys(const std::vector<int>& codes) {
    for (int key : codes) headless_backend()->push_key(key, at += 100);
  }
  void type(const std::string& text) { headless_backend()->push_bytes(text, at += 100); }
  std::string hdr() {
    std::vector<uint8_t> bytes = test::read_bytes(dir.file("goods.hdr"));
    return std::string(bytes.begin(), bytes.end());
  }

  TempDir dir;
  std::string path;
  long long at = 0;
};

TEST_F(FieldInfoTest, RowsAreLaidOutAndAliasesEditedInPlaceAreStoredOnEnter) {
  table().aliases = {"", "Cost", ""};
  std::vector<std::string> shown;
  headless_backend()->on_wait = [&] {
    if (shown.empty()) {
      for (int y = 1; y < 6; ++y) shown.push_back(screen_row_text(y));
    }
  };
  type("Goods name");
  keys({kDown, kEnd});
  type("!");
  keys({kCtrlEnd});
  type("Day");
  keys({kUp, kUp, kEnter});
  fields_info();
  ASSERT_EQ(shown.size(), 5u);
  EXPECT_NE(shown[0].find(" Field info "), std::string::npos) << shown[0];
  EXPECT_NE(shown[1].find("  # Name       Type       Width Dec Alias"), std::string::npos);
  EXPECT_NE(shown[2].find("  1 NAME       Character    300     " + std::string(32, ' ')), std::string::npos) << shown[2];
  EXPECT_NE(shown[3].find("  2 PRICE      Numeric        8   2 Cost" + std::string(28, ' ')), std::string::npos);
  EXPECT_NE(shown[4].find("  3 DAY        Date           8     "), std::string::npos);
  EXPECT_EQ(table().aliases, (std::vector<std::string>{"Goods name", "Cost!", "Day"}));
  std::string file = hdr();
  ASSERT_EQ(file.size(), 32u * 4);
  EXPECT_EQ(file.substr(32, 11), std::string("Goods name\0", 11));
  EXPECT_EQ(file.substr(64, 6), std::string("Cost!\0", 6));
}

// A field of a type letter kora does not know is named by its letter.
TEST_F(FieldInfoTest, AnUnknownTypeIsNamedByItsLetter) {
  test::DbfLayout layout;
  layout.fields = {{"CODE", '7', 4}, {"NAME", 'C', 10}};
  layout.records = {"abcdname"};
  std::string odd = dir.file("odd.dbf");
  test::write_bytes(odd, test::build_dbf(layout));
  g_app.current = add_table(g_app.tables, odd);
  ASSERT_EQ(g_app.current, 1);
  std::string shown;
  headless_backend()->on_wait = [&] {
    if (shown.empty()) shown = screen_row_text(3);
  };
  keys({kEsc});
  fields_info();
  EXPECT_NE(shown.find("  1 CODE       Unknown 7      4     "), std::string::npos) << shown;
}

TEST_F(FieldInfoTest, F12SwitchesTheCaptionsAndEscUndoesEverything) {
  const std::vector<std::string> before = {"\xCC\xE8\xF0", "", ""};  // Мир in Windows-1251
  table().aliases = before;
  g_app.captions_ansi = 1;
  screen_open_headless(25, 100);
  // Shown converted, and F12 switches the flag and its key-bar label.
  std::string row, label;
  headless_backend()->on_wait = [&] {
    if (row.empty()) row = screen_row_text(3);
    label = screen_row_text(24).substr(88, 8);
  };
  type("x");
  keys({kF12, kEsc});
  fields_info();
  EXPECT_NE(row.find("\x8C\xA8\xE0"), std::string::npos) << row;
  EXPECT_EQ(label, "12Ansi  ");
  EXPECT_EQ(g_app.captions_ansi, 1);
  EXPECT_EQ(table().aliases, before);
  EXPECT_FALSE(test::file_exists(dir.file("goods.hdr")));

  // F12 then Enter keeps the new flag; OEM captions are stored as typed.
  keys({kF12, kEnter});
  fields_info();
  EXPECT_EQ(g_app.captions_ansi, 0);
  EXPECT_EQ(table().aliases[0], "\x8C\xA8\xE0");
  EXPECT_EQ(hdr().substr(32, 4), std::string("\x8C\xA8\xE0\0", 4));

  // With ANSI captions the aliases go to the file in Windows-1251.
  keys({kF12, kEnter});
  fields_info();
  EXPECT_EQ(g_app.captions_ansi, 1);
  EXPECT_EQ(hdr().substr(32, 4), std::string("\xCC\xE8\xF0\0", 4));
}

TEST_F(FieldInfoTest, ClearingEveryAliasRemovesTheHeaderFile) {
  table().aliases = {"A", "", "C"};
  keys({kEnter});
  fields_info();
  ASSERT_TRUE(test::file_exists(dir.file("goods.hdr")));
  type(" ");  // typing replaces the text; a blank is kept
  keys({kCtrlEnd, kEnd, kBackspace, kEnter});
  fields_info();
  EXPECT_EQ(table().aliases, (std::vector<std::string>{" ", "", ""}));
  ASSERT_TRUE(test::file_exists(dir.file("goods.hdr")));
  keys({kCtrlEnd, kUp, kUp, kEnd, kBackspace, kEnter});
  fields_info();
  EXPECT_FALSE(test::file_exists(dir.file("goods.hdr")));
}

TEST_F(FieldInfoTest, F2WritesTheStructureListingToTheNamedFile) {
  keys({kF2});
  type(dir.file("goods"));
  keys({kEnter, kEsc});
  fields_info();
  std::vector<uint8_t> bytes = test::read_bytes(dir.file("goods.txt"));
  std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("NAME        Character     300\n"), std::string::npos) << text;
  EXPECT_NE(text.find("PRICE       Numeric         8  2\n"), std::string::npos) << text;
  EXPECT_FALSE(test::file_exists(dir.file("goods.hdr")));
}

TEST_F(FieldInfoTest, ShiftF2InTheProgramOpensTheWindow) {
  reset_app_state();
  ASSERT_EQ(test::run_kora({path}, {kShiftF2, 'Q', kEnter, kF10}), 0);
  EXPECT_EQ(hdr().substr(32, 2), std::string("Q\0", 2));
}

}  // namespace
}  // namespace kora
