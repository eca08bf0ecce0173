#include "ui/menu.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "popup_fixture.h"

namespace kora::test {
namespace {

int g_runs = 0;
int g_run_slot = -1;
Table* g_run_table = nullptr;
void count_run(int slot, Table* table) {
  ++g_runs;
  g_run_slot = slot;
  g_run_table = table;
}

// A positioned menu at (10, 3): content width 22, frame to column 33 and
// row 3 + 8 + 1 = 12.
class MenuTest : public PopupTest {
 protected:
  void SetUp() override {
    PopupTest::SetUp();
    g_runs = 0;
    sub_items_ = {
        {"&One", 0, 0, count_run, nullptr},
        {"&Two", 0, 0, nullptr, nullptr},
        {nullptr, 0, 0, nullptr, nullptr},
    };
    sub_ = Menu{};
    sub_.items = sub_items_.data();
    items_ = {
        {"&Alpha", 0, 0, count_run, nullptr},           // 0
        {"-", 0, kItemDisabled, nullptr, nullptr},      // 1
        {"&Beta", 0, kItemDisabled, nullptr, nullptr},  // 2
        {"&Gamma", 0, 0, nullptr, nullptr},             // 3
        {"Bravo", 0, 0, nullptr, nullptr},              // 4
        {"&Epsilon", 0, kItemMarked, nullptr, nullptr}, // 5
        {"Sub&menu", 0, 0, nullptr, &sub_},             // 6
        {"-", 0, kItemDisabled, nullptr, nullptr},      // 7
        {nullptr, 0, 0, nullptr, nullptr},
    };
    menu_ = Menu{};
    menu_.left = 10;
    menu_.top = 3;
    menu_.items = items_.data();
  }

  // The row of item i while the menu shows from item 0.
  static int row_of(int item) { return 4 + item; }

  std::vector<MenuItem> items_, sub_items_;
  Menu menu_, sub_;
};

TEST_F(MenuTest, ItemsAreDrawnWithTheirStateColoursMarksAndPointers) {
  press({kEsc});
  EXPECT_EQ(menu_popup(menu_, 60), kMenuCancel);
  ASSERT_EQ(seen_.size(), 1u);

  EXPECT_EQ(seen_text(0, 10, 3, 24), "\xDA" + std::string(22, '\xC4') + "\xBF");
  EXPECT_EQ(seen_text(0, 10, 12, 24), "\xC0" + std::string(22, '\xC4') + "\xD9");
  EXPECT_EQ(seen_attr(0, 10, 3), 0x3E);
  EXPECT_TRUE(seen_cell(0, 12, 13).plain);  // shadow
  EXPECT_TRUE(seen_cell(0, 35, 4).plain);

  // Highlighted item: text in MenuSelected, hot letter in MenuHotSelected.
  EXPECT_EQ(seen_text(0, 11, row_of(0), 22), " Alpha" + std::string(16, ' '));
  EXPECT_EQ(seen_attr(0, 11, row_of(0)), 0x0F);
  EXPECT_EQ(seen_attr(0, 12, row_of(0)), 0x0C);
  EXPECT_EQ(seen_attr(0, 13, row_of(0)), 0x0F);
  EXPECT_EQ(seen_attr(0, 32, row_of(0)), 0x0F);

  EXPECT_EQ(seen_text(0, 10, row_of(1), 24), "\xB3" + std::string(22, '\xC4') + "\xB3");
  EXPECT_EQ(seen_attr(0, 11, row_of(1)), 0x3E);

  // Disabled: one colour for text and hot letter.
  EXPECT_EQ(seen_text(0, 12, row_of(2), 4), "Beta");
  EXPECT_EQ(seen_attr(0, 12, row_of(2)), 0x38);
  EXPECT_EQ(seen_attr(0, 13, row_of(2)), 0x38);

  // Plain: MenuText and the hot letter in MenuHot.
  EXPECT_EQ(seen_attr(0, 12, row_of(3)), 0x3E);
  EXPECT_EQ(seen_attr(0, 13, row_of(3)), 0x30);
  EXPECT_EQ(seen_attr(0, 12, row_of(4)), 0x30);  // no hot letter

  // The mark (byte 7, shown as "@") in front of a marked item.
  EXPECT_EQ(seen_text(0, 11, row_of(5), 9), "@Epsilon ");
  // The hot letter inside the word, and the submenu pointer at left + w.
  EXPECT_EQ(seen_text(0, 12, row_of(6), 7), "Submenu");
  EXPECT_EQ(seen_attr(0, 15, row_of(6)), 0x3E);
  EXPECT_EQ(seen_attr(0, 14, row_of(6)), 0x30);
  EXPECT_EQ(seen_text(0, 32, row_of(6), 1), ">");

  EXPECT_EQ(g_screen.cells, before_);
  EXPECT_EQ(get_cursor(), 7 * 256 + 5);
}

TEST_F(MenuTest, DownAndUpSkipSeparatorsAndDisabledItemsAndWrap) {
  press({kDown, kDown, kDown, kDown, kDown, kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 0);  // 0 3 4 5 6 -> 0 (wrapped past 7)
  ASSERT_EQ(seen_.size(), 6u);
  EXPECT_EQ(seen_attr(1, 13, row_of(3)), 0x0F);
  EXPECT_EQ(seen_attr(1, 13, row_of(2)), 0x38);

  press({kUp, kEsc});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuCancel);
  EXPECT_EQ(menu_.current, 6);  // wrapped from the first past the separator
  press({kUp, kUp, kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 4);
  press({kUp, kUp, kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 0);  // 3, then 2 and 1 are skipped
}

TEST_F(MenuTest, HomeEndPgUpPgDnGoToTheFirstAndLastSelectable) {
  menu_.current = 4;
  press({kEnd, kEsc});
  menu_popup(menu_, 0);
  EXPECT_EQ(menu_.current, 6);
  press({kPgDn, kPgUp, kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 0);
  press({kHome, kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 0);
}

TEST_F(MenuTest, CurrentItemIsKeptBetweenOpeningsAndResetWhenOutOfRange) {
  press({kDown, kEsc});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuCancel);
  EXPECT_EQ(menu_.current, 3);
  press({kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 3);
  menu_.current = 42;
  press({kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 0);
}

TEST_F(MenuTest, EnterChoosesAndLeavesTheCommandPending) {
  g_pending_command = nullptr;
  press({kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 0);
  EXPECT_EQ(g_pending_command, &count_run);
  EXPECT_EQ(g_runs, 0);  // never run inside the menu
  EXPECT_EQ(g_menu_choice.menu, &menu_);
  EXPECT_EQ(g_menu_choice.index, 0);

  press({kDown, kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 3);
  EXPECT_EQ(g_pending_command, nullptr);
}

TEST_F(MenuTest, HotLettersChooseAtOnceInEitherCase) {
  press({'g'});
  EXPECT_EQ(menu_popup(menu_, 0), 3);
  press({'E'});
  EXPECT_EQ(menu_popup(menu_, 0), 5);
  EXPECT_EQ(keys_left(), 0);
}

TEST_F(MenuTest, DisabledHotLetterFallsBackToFirstLetterWithoutChoosing) {
  // "B" is the hot letter of the disabled Beta: Bravo (first letter B) is
  // only highlighted.
  press({'b', kEsc});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuCancel);
  EXPECT_EQ(menu_.current, 4);
  ASSERT_EQ(seen_.size(), 2u);
  EXPECT_EQ(seen_attr(1, 12, row_of(4)), 0x0F);
}

TEST_F(MenuTest, FirstLetterSearchStartsAfterTheCurrentItem) {
  items_[0].label = "Start";
  items_[4].label = "Second";
  items_[5].label = "Sixth";
  menu_.current = 4;
  press({'s', kEsc});
  menu_popup(menu_, 0);
  EXPECT_EQ(menu_.current, 5);
  press({'s', kEsc});
  menu_popup(menu_, 0);
  EXPECT_EQ(menu_.current, 6);  // "Submenu"
  press({'s', kEsc});
  menu_popup(menu_, 0);
  EXPECT_EQ(menu_.current, 0);  // wraps to the first in the menu
  press({'q', kEsc});
  menu_popup(menu_, 0);
  EXPECT_EQ(menu_.current, 0);  // no match: nothing moves
}

TEST_F(MenuTest, EnterOnDisabledItemChoosesNothing) {
  menu_.current = 2;
  press({kEnter, kEsc});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuCancel);
  EXPECT_EQ(keys_left(), 0);
}

TEST_F(MenuTest, EscF10LeftRightCloseTheMenu) {
  press({kF10});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuCancel);
  press({kLeft});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuLeft);
  press({kRight});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuRight);
  EXPECT_EQ(g_screen.cells, before_);
}

TEST_F(MenuTest, LabelsAsWideAsTheMenuAreShownWhole) {
  std::vector<MenuItem> items = {
      {"&Hide deleted records", 0, 0, nullptr, nullptr},  // 20 characters
      {"A label of 25 characters.", 0, 0, nullptr, &sub_},
      {nullptr, 0, 0, nullptr, nullptr},
  };
  Menu menu;
  menu.left = 10;
  menu.top = 3;
  menu.items = items.data();
  press({kEsc});
  menu_popup(menu, 0);
  EXPECT_EQ(seen_text(0, 12, 4, 20), "Hide deleted records");
  EXPECT_EQ(seen_text(0, 12, 5, 25), "A label of 25 characters.");
  EXPECT_EQ(seen_text(0, 37, 5, 2), ">\xB3");  // pointer, then the frame
}

TEST_F(MenuTest, SubmenuOpensBesideItsItemAndEscClosesOnlyIt) {
  press({'m', kEsc, kEsc});
  EXPECT_EQ(menu_popup(menu_, 7), kMenuCancel);
  ASSERT_EQ(seen_.size(), 3u);
  // The submenu's frame starts right of the parent, at the item's row.
  EXPECT_EQ(seen_text(1, 34, row_of(6), 1), "\xDA");
  EXPECT_EQ(seen_text(1, 36, row_of(6) + 1, 3), "One");
  // After Esc the parent is still open, the submenu gone.
  EXPECT_EQ(seen_text(2, 34, row_of(6), 1), std::string(1, static_cast<char>(before_[row_of(6) * 80 + 34].ch)));
  EXPECT_EQ(seen_attr(2, 12, row_of(6)), 0x0F);
  EXPECT_EQ(g_screen.cells, before_);
}

TEST_F(MenuTest, ChoiceInSubmenuClosesTheParentToo) {
  g_pending_command = nullptr;
  press({kUp, kEnter, kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 0);
  EXPECT_EQ(g_menu_choice.menu, &sub_);
  EXPECT_EQ(g_pending_command, &count_run);
  EXPECT_EQ(g_screen.cells, before_);

  press({'m', kRight});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuRight);
  press({'m', kLeft});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuLeft);
  EXPECT_EQ(g_screen.cells, before_);
}

TEST_F(MenuTest, EmptyMenuReturnsAtOnceAndDrawsNothing) {
  MenuItem none[] = {{nullptr, 0, 0, nullptr, nullptr}};
  Menu empty;
  empty.items = none;
  press({kEnter});
  EXPECT_EQ(menu_popup(empty, 0), kMenuCancel);
  EXPECT_EQ(keys_left(), 1);
  EXPECT_EQ(g_screen.cells, before_);
}

TEST_F(MenuTest, CentredMenuGeometry) {
  // Three short items: content width 21 (odd), so left moves one further.
  menu_.centred = 1;
  items_[3] = {nullptr, 0, 0, nullptr, nullptr};
  press({kEsc});
  menu_popup(menu_, 0);
  EXPECT_EQ(menu_.top, 10);
  EXPECT_EQ(menu_.bottom, 14);
  EXPECT_EQ(menu_.left, 28);
  EXPECT_EQ(menu_.right, 51);
  EXPECT_EQ(seen_text(0, 28, 10, 1), "\xDA");
  EXPECT_EQ(seen_text(0, 51, 14, 1), "\xD9");
}

TEST_F(MenuTest, LongLabelsKeepTheirEndNearTheRightEdge) {
  // At column 60 the content may be at most 80 - 60 - 4 = 16 wide.
  items_[0].label = "&0123456789abcdefghijklmnopqrstu";
  menu_.left = 60;
  press({kEsc});
  menu_popup(menu_, 0);
  EXPECT_EQ(menu_.right, 77);
  EXPECT_EQ(seen_text(0, 62, row_of(0), 14), "hijklmnopqrstu");
  // The hot letter scrolled out of view is drawn neither over the text nor
  // outside the box.
  EXPECT_EQ(seen_attr(0, 62, row_of(0)), 0x0F);
  for (int x = 0; x < 60; ++x) EXPECT_EQ(seen_cell(0, x, row_of(0)), before_[row_of(0) * 80 + x]) << x;
}

TEST_F(MenuTest, PickListScrollsInsideItsFrame) {
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) names.push_back("name&" + std::to_string(i));
  // 40 items on 25 rows: rows 3..21 show 19 items.
  press({kEnd, kUp, kEnter});
  EXPECT_EQ(pick_list(names, 0, 55), 38);
  ASSERT_EQ(seen_.size(), 3u);
  EXPECT_EQ(seen_text(0, 30, 3, 6), "name&0");  // plain: "&" is text
  EXPECT_EQ(seen_text(0, 30, 21, 7), "name&18");
  EXPECT_EQ(seen_text(1, 30, 21, 7), "name&39");
  EXPECT_EQ(seen_text(1, 30, 3, 7), "name&21");

  // Starting on an item far down shows it on the last row.
  press({kEnter});
  EXPECT_EQ(pick_list(names, 30, 55), 30);
  EXPECT_EQ(seen_text(3, 30, 21, 7), "name&30");
  // Up from the first wraps to the last and scrolls there.
  press({kUp, kEnter});
  EXPECT_EQ(pick_list(names, 0, 55), 39);
  // Letters find entries by their first letter, case aside.
  press({'N', kEnter});
  EXPECT_EQ(pick_list(names, 0, 55), 1);
  EXPECT_EQ(g_screen.cells, before_);
}

// ---- the menu bar and its tree ------------------------------------------------------

class MenuBarTest : public PopupTest {
 protected:
  void SetUp() override {
    PopupTest::SetUp();
    g_menu_bar_hooks = MenuBarHooks{};
    g_runs = 0;
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

TEST_F(MenuBarTest, InitialFlagsAndHotLetters) {
  for (const Pulldown& pulldown : kMenuBar) expect_unique_hot_letters(pulldown.menu);
  // Separators are disabled; so are the clipboard items, Paste record and
  // Clear selection; nothing is marked.
  int disabled_items = 0;
  for (const Pulldown& pulldown : kMenuBar) {
    for (const MenuItem* item = pulldown.menu->items; item->label; ++item) {
      if (std::strcmp(item->label, "-") == 0) {
        EXPECT_TRUE(item->flags & kItemDisabled);
      } else if (item->flags & kItemDisabled) {
        ++disabled_items;
      }
      EXPECT_FALSE(item->flags & kItemMarked) << item->label;
    }
  }
  EXPECT_EQ(disabled_items, 5);
  EXPECT_TRUE(menu_find_item(menu_find_item(kMenuBar[1].menu, "&Selection...")->submenu,
                             "&Clear selection")->flags & kItemDisabled);
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
  MenuItem* open = menu_find_item(kMenuBar[0].menu, "&Open");
  std::vector<Cell> at_run;
  static std::vector<Cell>* screen_at_run;
  screen_at_run = &at_run;
  open->command = [](int slot, Table* table) {
    count_run(slot, table);
    *screen_at_run = g_screen.cells;
  };
  Table* fake_table = reinterpret_cast<Table*>(&at_run);
  g_menu_bar_hooks.current_slot = []() { return 4; };
  g_menu_bar_hooks.current_table = [fake_table]() { return fake_table; };
  press({kEnter});
  menu_bar(0);
  open->command = nullptr;
  EXPECT_EQ(g_runs, 1);
  EXPECT_EQ(g_run_slot, 4);
  EXPECT_EQ(g_run_table, fake_table);
  // Nothing of the pull-down is left when the command runs.
  ASSERT_EQ(at_run.size(), before_.size());
  for (size_t i = 80; i < before_.size(); ++i) EXPECT_EQ(at_run[i], before_[i]) << i;
}

TEST_F(MenuBarTest, ItemStatesFollowTheFactsBeforeThePulldownOpens) {
  MenuFacts facts;
  facts.read_only = 1;
  facts.record_count = 5;
  g_menu_bar_hooks.facts = [&facts]() { return facts; };
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
  Menu* duplicate = menu_find_item(kMenuBar[3].menu, "Duplicate curent &record...")->submenu;
  EXPECT_TRUE(menu_find_item(duplicate, "&Insert")->flags & kItemDisabled);
  EXPECT_FALSE(menu_find_item(duplicate, "&Append")->flags & kItemDisabled);

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
  auto flags = [](int pulldown, const char* label) {
    return menu_find_item(kMenuBar[pulldown].menu, label)->flags;
  };
  facts.table_count = 2;
  facts.record_count = 3;
  facts.has_search = 1;
  facts.has_memo = 1;
  for (int i = 0; i < kPulldownCount; ++i) apply_menu_states(i, facts);
  EXPECT_FALSE(flags(0, "C&lose") & kItemDisabled);
  for (const char* label : {"C&ut", "&Copy", "&Paste", "&Delete", "Find &next"}) {
    EXPECT_FALSE(flags(2, label) & kItemDisabled) << label;
  }
  EXPECT_TRUE(flags(2, "Past&e record") & kItemDisabled);  // nothing copied
  EXPECT_FALSE(flags(3, "&Pack") & kItemDisabled);
  EXPECT_FALSE(flags(4, "&Fill") & kItemDisabled);

  facts.table_count = 1;
  facts.record_count = 0;
  facts.has_search = 0;
  facts.record_copied = 1;
  facts.reverse = 1;
  for (int i = 0; i < kPulldownCount; ++i) apply_menu_states(i, facts);
  EXPECT_TRUE(flags(0, "C&lose") & kItemDisabled);
  EXPECT_TRUE(flags(2, "C&ut") & kItemDisabled);
  EXPECT_TRUE(flags(2, "&Copy") & kItemDisabled);
  EXPECT_FALSE(flags(2, "&Paste") & kItemDisabled);
  EXPECT_TRUE(flags(2, "Find &next") & kItemDisabled);
  EXPECT_FALSE(flags(2, "Past&e record") & kItemDisabled);
  EXPECT_TRUE(flags(3, "&Pack") & kItemDisabled);
  EXPECT_TRUE(flags(3, "&Truncate") & kItemDisabled);
  EXPECT_FALSE(flags(3, "&Insert") & kItemDisabled);
  EXPECT_TRUE(flags(3, "Pac&k...") & kItemDisabled);

  facts.read_only = 1;
  facts.record_count = 3;
  facts.reverse = 0;
  for (int i = 0; i < kPulldownCount; ++i) apply_menu_states(i, facts);
  EXPECT_TRUE(flags(1, "Read onl&y") & kItemMarked);
  EXPECT_TRUE(flags(2, "Past&e record") & kItemDisabled);
  EXPECT_TRUE(flags(4, "&Group...") & kItemDisabled);
  EXPECT_TRUE(flags(4, "A&ppend from") & kItemDisabled);
  EXPECT_FALSE(flags(4, "&Sort") & kItemDisabled);
  Menu* encoding = menu_find_item(kMenuBar[4].menu, "E&ncoding...")->submenu;
  EXPECT_TRUE(menu_find_item(encoding, "&Decode database")->flags & kItemDisabled);
  EXPECT_FALSE(menu_find_item(encoding, "Define &password")->flags & kItemDisabled);
  Menu* pack = menu_find_item(kMenuBar[3].menu, "Pac&k...")->submenu;
  EXPECT_FALSE(menu_find_item(pack, "Pack &memo only")->flags & kItemDisabled);

  for (int i = 0; i < kPulldownCount; ++i) apply_menu_states(i, MenuFacts{});
  for (const char* label : {"C&ut", "&Copy", "&Paste", "&Delete"}) {
    menu_find_item(kMenuBar[2].menu, label)->flags |= kItemDisabled;
  }
}

TEST_F(MenuBarTest, FavouriteFilesOpenByNameOtherNullItemsDoNothing) {
  std::vector<std::string> opened;
  g_menu_bar_hooks.open_by_name = [&opened](const char* name) { opened.push_back(name); };
  menu_set_favorites({"/data/a&b.dbf", "/data/c.dbf"});
  EXPECT_EQ(labels(kMenuBar[5].menu).size(), 5u);

  press({kEnd, kEnter});
  menu_bar(5);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], "/data/c.dbf");
  // The "&" of a path is part of the name, not a hot letter.
  EXPECT_EQ(seen_text(0, 37, 5, 13), "/data/a&b.dbf");
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
  menu_bar(2);  // Edit: Find
  EXPECT_EQ(g_menu_choice.index, 5);
  EXPECT_TRUE(opened.empty());
}

TEST_F(MenuBarTest, FavoritesRebuildKeepsCommandsOfTheFixedItems) {
  menu_find_item(kMenuBar[5].menu, "&Add to favorites")->command = count_run;
  menu_set_favorites({"/x.dbf"});
  menu_set_favorites({});
  EXPECT_EQ(labels(kMenuBar[5].menu).size(), 2u);
  press({'a'});
  menu_bar(5);
  EXPECT_EQ(g_runs, 1);
  menu_find_item(kMenuBar[5].menu, "&Add to favorites")->command = nullptr;
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
  press({'i', kEnter});
  menu_bar(6);
  screen.clear();
  for (int y = 0; y < 25; ++y) screen += seen_text(3, 0, y, 80);
  EXPECT_NE(screen.find(" Internet Homepage "), std::string::npos);
  press({'e', kEnter});
  menu_bar(6);
  screen.clear();
  for (int y = 0; y < 25; ++y) screen += seen_text(5, 0, y, 80);
  EXPECT_NE(screen.find(" Feedback "), std::string::npos);
}

}  // namespace
}  // namespace kora::test
