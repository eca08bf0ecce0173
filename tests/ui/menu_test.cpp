#include "ui/menu.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "popup_fixture.h"
#include "ui/key_codes.h"

namespace kora::test {
namespace {

constexpr int kAlphaCommand = 7;
constexpr int kOneCommand = 9;

// A positioned menu at (10, 3): content width 22, frame to column 33 and
// row 3 + 8 + 1 = 12.
class MenuTest : public PopupTest {
 protected:
  void SetUp() override {
    PopupTest::SetUp();
    sub_items_ = {
        {"&One", 0, 0, kOneCommand, nullptr},
        {"&Two", 0, 0, 0, nullptr},
        {nullptr, 0, 0, 0, nullptr},
    };
    sub_ = Menu{};
    sub_.items = sub_items_.data();
    items_ = {
        {"&Alpha", 0, 0, kAlphaCommand, nullptr},  // 0
        {"-", 0, kItemDisabled, 0, nullptr},       // 1
        {"&Beta", 0, kItemDisabled, 0, nullptr},   // 2
        {"&Gamma", 0, 0, 0, nullptr},              // 3
        {"Bravo", 0, 0, 0, nullptr},               // 4
        {"&Epsilon", 0, kItemMarked, 0, nullptr},  // 5
        {"Sub&menu", 0, 0, 0, &sub_},              // 6
        {"-", 0, kItemDisabled, 0, nullptr},       // 7
        {nullptr, 0, 0, 0, nullptr},
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

  EXPECT_EQ(seen_text(0, 10, 3, 24), std::string("\xDA").append(22, '\xC4') + "\xBF");
  EXPECT_EQ(seen_text(0, 10, 12, 24), std::string("\xC0").append(22, '\xC4') + "\xD9");
  EXPECT_EQ(seen_attr(0, 10, 3), 0x3E);
  EXPECT_TRUE(seen_cell(0, 12, 13).plain);  // shadow
  EXPECT_TRUE(seen_cell(0, 35, 4).plain);

  // Highlighted item: text in MenuSelected, hot letter in MenuHotSelected.
  EXPECT_EQ(seen_text(0, 11, row_of(0), 22), std::string(" Alpha").append(16, ' '));
  EXPECT_EQ(seen_attr(0, 11, row_of(0)), 0x0F);
  EXPECT_EQ(seen_attr(0, 12, row_of(0)), 0x0C);
  EXPECT_EQ(seen_attr(0, 13, row_of(0)), 0x0F);
  EXPECT_EQ(seen_attr(0, 32, row_of(0)), 0x0F);

  EXPECT_EQ(seen_text(0, 10, row_of(1), 24), std::string("\xB3").append(22, '\xC4') + "\xB3");
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
  g_pending_command = 0;
  press({kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 0);
  EXPECT_EQ(g_pending_command, kAlphaCommand);
  EXPECT_EQ(g_menu_choice.menu, &menu_);
  EXPECT_EQ(g_menu_choice.index, 0);

  press({kDown, kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 3);
  EXPECT_EQ(g_pending_command, 0);
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
      {"&Hide deleted records", 0, 0, 0, nullptr},  // 20 characters
      {"A label of 25 characters.", 0, 0, 0, &sub_},
      {nullptr, 0, 0, 0, nullptr},
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
  EXPECT_EQ(seen_text(2, 34, row_of(6), 1), std::string(1, static_cast<char>(cell_byte(before_[row_of(6) * 80 + 34]))));
  EXPECT_EQ(seen_attr(2, 12, row_of(6)), 0x0F);
  EXPECT_EQ(g_screen.cells, before_);
}

TEST_F(MenuTest, ChoiceInSubmenuClosesTheParentToo) {
  g_pending_command = 0;
  press({kUp, kEnter, kEnter});
  EXPECT_EQ(menu_popup(menu_, 0), 0);
  EXPECT_EQ(g_menu_choice.menu, &sub_);
  EXPECT_EQ(g_pending_command, kOneCommand);
  EXPECT_EQ(g_screen.cells, before_);

  press({'m', kRight});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuRight);
  press({'m', kLeft});
  EXPECT_EQ(menu_popup(menu_, 0), kMenuLeft);
  EXPECT_EQ(g_screen.cells, before_);
}

TEST_F(MenuTest, EmptyMenuReturnsAtOnceAndDrawsNothing) {
  MenuItem none[] = {{nullptr, 0, 0, 0, nullptr}};
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
  items_[3] = {nullptr, 0, 0, 0, nullptr};
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

TEST_F(MenuTest, CommandsAreFoundInSubmenusToo) {
  EXPECT_EQ(menu_find_command(&menu_, kAlphaCommand), &items_[0]);
  EXPECT_EQ(menu_find_command(&menu_, kOneCommand), &sub_items_[0]);
  EXPECT_EQ(menu_find_command(&menu_, 0), nullptr);  // items without a command
  EXPECT_EQ(menu_find_command(&menu_, 42), nullptr);
}

// A bar of the program's own: the chosen item's command is handed over
// once the bar is down; a plain item without one is handed over by label.
TEST_F(MenuTest, MenuBarReportsTheChosenCommandOrPlainLabel) {
  std::vector<MenuItem> plain = {{"/a&b.dbf", 0, kItemPlain, 0, nullptr}, {nullptr, 0, 0, 0, nullptr}};
  Menu second;
  second.items = plain.data();
  const Pulldown bar[] = {{" One ", 0, &menu_}, {" Two ", 5, &second}};
  std::vector<int> run;
  std::vector<std::string> named;
  std::vector<int> updated;
  g_menu_bar_hooks = MenuBarHooks{};
  g_menu_bar_hooks.pulldowns = bar;
  g_menu_bar_hooks.update_states = [&updated](int pulldown) { updated.push_back(pulldown); };
  g_menu_bar_hooks.run_command = [&run](int command) {
    EXPECT_EQ(screen_row_text(2).find("Alpha"), std::string::npos);  // the menus are closed
    run.push_back(command);
  };
  g_menu_bar_hooks.open_by_name = [&named](const char* label) { named.push_back(label); };

  press({kEnter});
  menu_bar(0);
  press({kUp, kEnter, kEnter});  // Submenu, One
  menu_bar(0);
  EXPECT_EQ(run, (std::vector<int>{kAlphaCommand, kOneCommand}));
  press({kRight, kEnter});
  menu_bar(0);
  EXPECT_EQ(named, std::vector<std::string>{"/a&b.dbf"});
  press({'g'});  // Gamma: no command, not plain
  menu_bar(0);
  EXPECT_EQ(run.size(), 2u);
  EXPECT_EQ(named.size(), 1u);
  EXPECT_EQ(updated, (std::vector<int>{0, 0, 0, 1, 0}));
  EXPECT_EQ(menu_bar_last(), 0);

  // Without pull-downs the bar shows nothing and reads no key.
  g_menu_bar_hooks = MenuBarHooks{};
  press({kEnter});
  menu_bar(0);
  EXPECT_EQ(keys_left(), 1);
}


// The bar on small screens, keys and resizes from the terminal's script:
// a title past the edge opens by its Alt letter, a pull-down moves in or is
// cut rather than lost, Enter chooses only an item shown highlighted, a
// submenu follows its parent to a new size, keys below 40x10 do nothing.
TEST(MenuOnSmallScreens, BarPullDownsAndSubmenusStayUsable) {
  constexpr int kResize = -1;  // followed by rows, cols
  MenuItem sub_items[] = {{"&Left", 0, 0, 201, nullptr}, {"&Right", 0, 0, 202, nullptr}, {}};
  const char* const letters[] = {"&a", "&b", "&c", "&d", "&e", "&f", "&g", "&h", "&i", "&j", "&k", "&l"};
  std::vector<MenuItem> first_items;
  for (int i = 0; i < 12; ++i) first_items.push_back({letters[i], 0, 0, 1 + i, nullptr});
  first_items.push_back({});
  Menu first{.items = first_items.data()}, sub{.items = sub_items};
  MenuItem second_items[] = {{"&Sub", 0, 0, 0, &sub}, {}};
  MenuItem far_items[] = {{"A very long label that ends in &zebra", 0, 0, 301, nullptr}, {"&Quit", 0, 0, 302, nullptr}, {}};
  Menu second{.items = second_items}, far{.items = far_items};
  const Pulldown bar[] = {{" First ", 0, &first}, {" Second ", 30, &second}, {" Far ", 46, &far}};
  struct Case {
    int rows, cols, start, current;  // current: the first pull-down's kept highlight
    std::vector<int> keys;
    int command;
  } cases[] = {{10, 40, 0, 0, {kKeyAltA, 'q'}, 302},
               {10, 40, 2, 0, {'z'}, 301},  // its hot letter cut from view
               {25, 80, 0, 11, {kResize, 10, 40, kKeyEnter}, 12},
               {10, 40, 0, 9, {kKeyEnter}, 10},
               {25, 40, 1, 0, {kKeyEnter, kResize, 25, 80, kKeyEnd, kKeyEnter}, 202},
               {25, 80, 0, 3, {kResize, 8, 30, kKeyDown, kKeyEnter, kResize, 25, 80, kKeyEnter}, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    screen_open_headless(c.rows, c.cols);
    g_key_hooks = KeyHooks{};
    first.current = c.current;
    std::vector<int> run;
    g_menu_bar_hooks = MenuBarHooks{};
    g_menu_bar_hooks.pulldowns = bar;
    g_menu_bar_hooks.run_command = [&run](int command) { run.push_back(command); };
    g_menu_bar_hooks.pulldown_for_key = [](int key) { return key == kKeyAltA ? 2 : -1; };
    for (size_t k = 0; k < c.keys.size(); ++k) {  // a second apart: the screen is seen before each
      if (c.keys[k] != kResize) headless_backend()->push_key(c.keys[k], 1000 * long(k + 1));
      if (c.keys[k] == kResize) headless_backend()->push_resize(c.keys[k + 1], c.keys[k + 2], 1000 * long(k + 1));
      if (c.keys[k] == kResize) k += 2;
    }
    // Before every key the (lowest) highlighted item is on the screen and
    // an open submenu stands beside its parent, level with its item.
    std::string lit;
    headless_backend()->on_wait = [&] {
      if (screen_below_minimum()) return;
      lit.clear();
      for (int y = screen_rows() - 1; y > 0 && lit.empty(); --y) {
        for (int x = 0; x < screen_cols(); ++x) {
          if (screen_attr_at(x, y) == 0x0F || screen_attr_at(x, y) == 0x0C) lit += screen_row_text(y)[size_t(x)];
        }
      }
      EXPECT_NE(lit.find_first_not_of(' '), std::string::npos);
      if (sub.saved.rows == 0) return;
      EXPECT_EQ(sub.top, second.top + 1 + second.current - second.first);
      EXPECT_EQ(sub.left, std::min(second.right + 1, screen_cols() - sub.width - 4));
      EXPECT_EQ(screen_row_text(sub.top)[size_t(sub.left)], '\xDA');
    };
    menu_bar(c.start);
    headless_backend()->on_wait = nullptr;
    EXPECT_TRUE(headless_backend()->script_empty());
    EXPECT_EQ(run, std::vector<int>{c.command});
    if (c.keys.back() != kKeyEnter) continue;
    std::string label = g_menu_choice.menu->items[g_menu_choice.index].label;  // Enter chose what was lit
    size_t at = lit.find_first_not_of(' ');
    EXPECT_NE(label.erase(label.find('&'), 1).find(lit.substr(at, lit.find(' ', at) - at)), std::string::npos) << lit;
  }
  g_menu_bar_hooks = MenuBarHooks{};
}

}  // namespace
}  // namespace kora::test
