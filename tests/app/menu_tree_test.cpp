// The program's menu bar: its pull-downs and their items, the item states
// set from the facts before a pull-down opens, the favourite files and the
// Help pull-down's boxes.
#include "app/menu_tree.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/commands.h"
#include "ui/popup_fixture.h"

namespace kora::test {
namespace {

// ---- the menu bar and its tree ------------------------------------------------------

class MenuBarTest : public PopupTest {
 protected:
  void SetUp() override {
    PopupTest::SetUp();
    g_menu_bar_hooks = MenuBarHooks{};
    g_menu_bar_hooks.pulldowns = kMenuBar;
    g_menu_bar_hooks.run_command = [](int command) { run_command(static_cast<Cmd>(command)); };
    for (const Pulldown& pulldown : kMenuBar) pulldown.menu->current = 0;
  }
  void TearDown() override {
    g_menu_bar_hooks = MenuBarHooks{};
    menu_set_favorites({});
    PopupTest::TearDown();
  }
  // The attribute of each title on row 0 before key number `wait`.
  int open_title(size_t wait) {
    for (int i = 0; i < kPulldownCount; ++i) {
      if (seen_attr(wait, kMenuBar[i].column + 1, 0) == 0x0F) return i;
    }
    return -1;
  }
};

std::vector<std::string> labels(const Menu* menu) {
  std::vector<std::string> out;
  for (const MenuItem* item = menu->items; item->label; ++item) out.push_back(item->label);
  return out;
}

TEST_F(MenuBarTest, TitlesSitSideBySideFromColumnZero) {
  int column = 0;
  std::string row;
  for (const Pulldown& pulldown : kMenuBar) {
    EXPECT_EQ(pulldown.column, column) << pulldown.title;
    column += static_cast<int>(std::strlen(pulldown.title));
    row += pulldown.title;
  }
  EXPECT_EQ(row, " File  View  Edit  Commands  Tools  Favorites  Help ");
}

// Every item of a menu must be reachable by its letter.
void expect_unique_hot_letters(const Menu* menu) {
  std::set<char> seen;
  for (const MenuItem* item = menu->items; item->label; ++item) {
    const char* amp = std::strchr(item->label, '&');
    if (amp && amp[1]) {
      EXPECT_TRUE(seen.insert(static_cast<char>(std::toupper(amp[1]))).second) << item->label;
    }
    if (item->submenu) expect_unique_hot_letters(item->submenu);
  }
}

// The flags of the pull-downs' own items as the program starts, taken before
// any test opens a menu (the tables are constant, this copy is made after).
struct StartFlags {
  std::string label;
  int flags;
};
std::vector<StartFlags> flags_at_start() {
  std::vector<StartFlags> all;
  for (const Pulldown& pulldown : kMenuBar) {
    for (const MenuItem* item = pulldown.menu->items; item->label; ++item) all.push_back({item->label, item->flags});
  }
  all.push_back({"&Clear selection", menu_item_of(Cmd::ClearSelection)->flags});
  return all;
}
const std::vector<StartFlags> kFlagsAtStart = flags_at_start();

TEST_F(MenuBarTest, InitialFlagsAndHotLetters) {
  for (const Pulldown& pulldown : kMenuBar) expect_unique_hot_letters(pulldown.menu);
  // Separators are disabled; so are the clipboard items, Paste record and
  // Clear selection; nothing is marked.
  int disabled_items = 0;
  for (const StartFlags& item : kFlagsAtStart) {
    if (item.label == "-") {
      EXPECT_TRUE(item.flags & kItemDisabled);
    } else if (item.flags & kItemDisabled) {
      ++disabled_items;
    }
    EXPECT_FALSE(item.flags & kItemMarked) << item.label;
  }
  EXPECT_EQ(disabled_items, 6);
  EXPECT_TRUE(kFlagsAtStart.back().flags & kItemDisabled);
}

TEST_F(MenuBarTest, BarShowsTheOpenTitleAndIsTakenDownAfter) {
  int redraws = 0;
  g_menu_bar_hooks.redraw_status = [&redraws]() { ++redraws; };
  press({kEsc});
  menu_bar(3);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_text(0, 0, 0, 52), " File  View  Edit  Commands  Tools  Favorites  Help ");
  EXPECT_EQ(open_title(0), 3);
  EXPECT_EQ(seen_attr(0, 0, 0), 0x30);
  // The pull-down hangs under its title.
  EXPECT_EQ(seen_text(0, 18, 1, 1), "\xDA");
  EXPECT_EQ(seen_text(0, 20, 2, 6), "Append");
  // Row 0 is blanked in Status1, the rest restored, the cursor back.
  EXPECT_EQ(screen_row_text(0), std::string(80, ' '));
  EXPECT_EQ(screen_attr_at(79, 0), 0x30);
  for (int i = 80; i < 80 * 25; ++i) EXPECT_EQ(g_screen.cells[i], before_[i]) << i;
  EXPECT_EQ(redraws, 1);
  EXPECT_EQ(get_cursor(), 7 * 256 + 5);
}

TEST_F(MenuBarTest, LeftAndRightMoveAcrossTheBarAndWrap) {
  press({kRight, kLeft, kLeft, kLeft, kEsc});
  menu_bar(0);
  ASSERT_EQ(seen_.size(), 5u);
  EXPECT_EQ(open_title(0), 0);
  EXPECT_EQ(open_title(1), 1);
  EXPECT_EQ(open_title(2), 0);
  EXPECT_EQ(open_title(3), 6);
  EXPECT_EQ(open_title(4), 5);
  EXPECT_EQ(menu_bar_last(), 5);
  // A negative start reopens the last one.
  press({kEsc});
  menu_bar(-1);
  EXPECT_EQ(open_title(5), 5);
}

TEST_F(MenuBarTest, RightInsideSubmenuOpensTheNextPulldown) {
  press({'a', kRight, kEsc});  // File, Save as..., Right
  menu_bar(0);
  ASSERT_EQ(seen_.size(), 3u);
  EXPECT_EQ(seen_text(1, 26, 9, 4), "Text");  // the submenu beside File
  EXPECT_EQ(open_title(2), 1);
  EXPECT_EQ(seen_text(2, 8, 2, 6), "Browse");
  EXPECT_EQ(menu_bar_last(), 1);
}

TEST_F(MenuBarTest, PendingCommandRunsAfterTheMenusClose) {
  std::vector<Cell> at_run;
  std::vector<int> run;
  g_menu_bar_hooks.run_command = [&](int command) {
    run.push_back(command);
    at_run = g_screen.cells;
  };
  press({kEnter});
  menu_bar(0);
  EXPECT_EQ(run, std::vector<int>{command_id(Cmd::Open)});
  // Nothing of the pull-down is left when the command runs.
  ASSERT_EQ(at_run.size(), before_.size());
  for (size_t i = 80; i < before_.size(); ++i) EXPECT_EQ(at_run[i], before_[i]) << i;
}

TEST_F(MenuBarTest, ItemStatesFollowTheFactsBeforeThePulldownOpens) {
  MenuFacts facts;
  facts.read_only = 1;
  facts.record_count = 5;
  g_menu_bar_hooks.update_states = [&facts](int pulldown) { apply_menu_states(pulldown, facts); };
  // Commands while read-only: Append, Insert, Delete, Pack, Zap, Truncate,
  // Duplicate and Pack... are all disabled: Down finds nothing to move to.
  press({kDown, kEnter, kEsc});
  menu_bar(3);
  EXPECT_EQ(kMenuBar[3].menu->current, 0);
  EXPECT_EQ(seen_attr(0, 20, 2), 0x08);  // highlighted, disabled
  EXPECT_EQ(seen_attr(0, 20, 3), 0x38);

  // Not read-only but sorted: Append stays, Insert/Delete/Truncate/Pack go.
  facts.read_only = 0;
  facts.sorted = 1;
  press({kDown, kEsc});
  menu_bar(3);
  EXPECT_EQ(kMenuBar[3].menu->current, 4);  // Zap
  apply_menu_states(3, facts);
  EXPECT_TRUE(menu_item_of(Cmd::InsertCopyNow)->flags & kItemDisabled);
  EXPECT_FALSE(menu_item_of(Cmd::AppendCopyNow)->flags & kItemDisabled);

  // View marks.
  facts = MenuFacts{};
  facts.fields_view = 1;
  facts.ansi = 1;
  facts.reverse = 1;
  press({kEsc});
  menu_bar(1);
  EXPECT_EQ(seen_text(5, 7, 2, 8), " Browse ");
  EXPECT_EQ(seen_text(5, 7, 3, 8), "@Fields ");
  EXPECT_EQ(seen_text(5, 7, 5, 9), "@Reverse ");
  EXPECT_EQ(seen_text(5, 7, 6, 9), " Aliases ");
  EXPECT_EQ(seen_text(5, 7, 13, 14), "@ANSI charset ");
  EXPECT_EQ(seen_text(5, 7, 14, 13), " OEM charset ");
  EXPECT_EQ(seen_attr(5, 8, 8), 0x38);  // Memo without a memo file
}

TEST_F(MenuBarTest, RulesOfEveryPulldown) {
  MenuFacts facts;
  auto flags = [](Cmd command) { return menu_item_of(command)->flags; };
  facts.table_count = 2;
  facts.record_count = 3;
  facts.has_search = 1;
  facts.has_memo = 1;
  for (int i = 0; i < kPulldownCount; ++i) apply_menu_states(i, facts);
  EXPECT_FALSE(flags(Cmd::Close) & kItemDisabled);
  for (Cmd command : {Cmd::Cut, Cmd::Copy, Cmd::Paste, Cmd::DeleteValue, Cmd::FindNext}) {
    EXPECT_FALSE(flags(command) & kItemDisabled) << command_id(command);
  }
  EXPECT_TRUE(flags(Cmd::PasteRecord) & kItemDisabled);  // nothing copied
  EXPECT_FALSE(flags(Cmd::Pack) & kItemDisabled);
  EXPECT_FALSE(flags(Cmd::Fill) & kItemDisabled);

  facts.table_count = 1;
  facts.record_count = 0;
  facts.has_search = 0;
  facts.record_copied = 1;
  facts.reverse = 1;
  for (int i = 0; i < kPulldownCount; ++i) apply_menu_states(i, facts);
  EXPECT_TRUE(flags(Cmd::Close) & kItemDisabled);
  EXPECT_TRUE(flags(Cmd::Cut) & kItemDisabled);
  EXPECT_TRUE(flags(Cmd::Copy) & kItemDisabled);
  EXPECT_FALSE(flags(Cmd::Paste) & kItemDisabled);
  EXPECT_TRUE(flags(Cmd::FindNext) & kItemDisabled);
  EXPECT_FALSE(flags(Cmd::PasteRecord) & kItemDisabled);
  EXPECT_TRUE(flags(Cmd::Pack) & kItemDisabled);
  EXPECT_TRUE(flags(Cmd::Truncate) & kItemDisabled);
  EXPECT_FALSE(flags(Cmd::InsertNow) & kItemDisabled);
  EXPECT_TRUE(flags(Cmd::PackMenu) & kItemDisabled);

  facts.read_only = 1;
  facts.record_count = 3;
  facts.reverse = 0;
  for (int i = 0; i < kPulldownCount; ++i) apply_menu_states(i, facts);
  EXPECT_TRUE(flags(Cmd::ReadOnly) & kItemMarked);
  EXPECT_TRUE(flags(Cmd::PasteRecord) & kItemDisabled);
  EXPECT_TRUE(flags(Cmd::GroupMenu) & kItemDisabled);
  EXPECT_TRUE(flags(Cmd::AppendFrom) & kItemDisabled);
  EXPECT_FALSE(flags(Cmd::Sort) & kItemDisabled);
  EXPECT_TRUE(flags(Cmd::DecodeDatabase) & kItemDisabled);
  EXPECT_FALSE(flags(Cmd::DefinePassword) & kItemDisabled);
  EXPECT_FALSE(flags(Cmd::PackMemo) & kItemDisabled);

  for (int i = 0; i < kPulldownCount; ++i) apply_menu_states(i, MenuFacts{});
  for (Cmd command : {Cmd::Cut, Cmd::Copy, Cmd::Paste, Cmd::DeleteValue}) {
    menu_item_of(command)->flags |= kItemDisabled;
  }
}

TEST_F(MenuBarTest, FavouriteFilesOpenByNameOtherNullItemsDoNothing) {
  std::vector<std::string> opened;
  g_menu_bar_hooks.open_by_name = [&opened](const char* name) { opened.push_back(favorite_file(name)); };
  menu_set_favorites({"/data/a&b.dbf", "/data/c.dbf"});
  EXPECT_EQ(labels(kMenuBar[5].menu).size(), 5u);

  press({kEnd, kEnter});
  menu_bar(5);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], "/data/c.dbf");
  // The "&" of a path is part of the name, not a hot letter; a file that is
  // not there is marked as such.
  EXPECT_EQ(seen_text(0, 37, 5, 25), "(not found) /data/a&b.dbf");
  // No hot letter "b"; Enter takes the item kept from the last opening.
  press({'b', kEnter});
  menu_bar(5);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[1], "/data/c.dbf");

  // The fixed items have no command yet: choosing them opens nothing, nor
  // does any other item without a command.
  opened.clear();
  press({kHome, kEnter});
  menu_bar(5);
  EXPECT_EQ(g_menu_choice.index, 0);
  press({'o'});
  menu_bar(5);
  EXPECT_EQ(g_menu_choice.index, 1);
  press({'f'});
  menu_bar(2);  // Edit: Find, after Undo, Redo and their separator
  EXPECT_EQ(g_menu_choice.index, 8);
  EXPECT_TRUE(opened.empty());
}

TEST_F(MenuBarTest, FavoritesRebuildKeepsCommandsOfTheFixedItems) {
  std::vector<int> run;
  g_menu_bar_hooks.run_command = [&run](int command) { run.push_back(command); };
  menu_set_favorites({"/x.dbf"});
  menu_set_favorites({});
  EXPECT_EQ(labels(kMenuBar[5].menu).size(), 2u);
  press({'a'});
  menu_bar(5);
  press({'o'});
  menu_bar(5);
  EXPECT_EQ(run, (std::vector<int>{command_id(Cmd::AddFavorite), command_id(Cmd::OrganizeFavorites)}));
}

TEST_F(MenuBarTest, HelpItemsShowTheirBoxes) {
  // About: the bar closes, then the box asks for a key.
  press({'a', kEnter});
  menu_bar(6);
  ASSERT_EQ(seen_.size(), 2u);
  std::string screen;
  for (int y = 0; y < 25; ++y) screen += seen_text(1, 0, y, 80);
  EXPECT_NE(screen.find(" About "), std::string::npos);
  EXPECT_NE(screen.find("kora"), std::string::npos);
  EXPECT_EQ(screen.find("@"), std::string::npos) << "no address";
  // Read me: the README in the read-only viewer, or where it was looked for.
  press({'r', kEsc, kEnter});
  menu_bar(6);
  screen.clear();
  for (int y = 0; y < 25; ++y) screen += seen_text(3, 0, y, 80);
  EXPECT_TRUE(screen.find("README") != std::string::npos) << screen;
}

}  // namespace
}  // namespace kora::test
