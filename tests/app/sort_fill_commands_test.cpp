// Sort, Sum, the Calculator and Fill as the user drives them: keys into their
// dialogs, then the view, the boxes shown and the file's bytes. Esc during a
// walk leaves the view; values being edited are written before any of them
// reads or writes records.
#include "app/sort_fill_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/commands.h"
#include "app/main_loop.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "ui/backend.h"
#include "ui/key_codes.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {
namespace {

using test::TempDir;

constexpr int kName = 0, kNum = 1, kDate = 2, kLogical = 3, kMemo = 4;
constexpr int kHeaderSize = 32 + 5 * 32 + 1;
constexpr int kRecordSize = 1 + 10 + 6 + 8 + 1 + 10;
constexpr int kEnter = kKeyEnter, kDown = kKeyDown, kSpace = kKeySpace, kRight = 0x4D00, kF4 = 0x3E00;
constexpr int kHome = 0x4700, kEnd = 0x4F00;

// Every distinct screen a key wait saw.
std::vector<std::string> g_boxes;
void take_picture(int, int, int, int) {
  std::string text;
  for (int y = 0; y < screen_rows(); ++y) text += screen_row_text(y) + "\n";
  if (g_boxes.empty() || g_boxes.back() != text) g_boxes.push_back(text);
}

bool shown(const std::string& text) {
  for (const std::string& box : g_boxes) {
    if (box.find(text) != std::string::npos) return true;
  }
  return false;
}

class SortFillCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_open_headless(25, 80);
    backend = headless_backend();
    reset_app_state();
    install_cell_editing();
    g_ui_idle_hook = take_picture;
    g_boxes.clear();
  }
  void TearDown() override {
    g_ui_idle_hook = nullptr;
    g_cell_edit_hooks = CellEditHooks{};
    reset_app_state();
  }

  // NAME C(10), NUM N(6), D D(8), L L(1), MEMO M(10).
  Table& open(const std::vector<std::string>& names, const std::vector<int>& nums, std::vector<bool> deleted = {}) {
    test::DbfSpec layout;
    layout.version = 0x83;
    layout.fields = {{"NAME", 'C', 10}, {"NUM", 'N', 6}, {"D", 'D', 8}, {"L", 'L', 1}, {"MEMO", 'M', 10}};
    for (size_t i = 0; i < names.size(); ++i) {
      char record[64];
      std::snprintf(record, sizeof record, "%-10s%6d20240102T%10s", names[i].c_str(), nums[i], "");
      layout.records.push_back(record);
    }
    layout.deleted = std::move(deleted);
    path = dir.file("t.dbf");
    test::write_bytes(path, test::build_dbf(layout));
    EXPECT_TRUE(create_memo_file(path, kDBase3, 512));
    int index = add_open_table(path);
    EXPECT_GE(index, 0);
    g_app.current = index;
    apply_settings(*g_app.table());
    return *g_app.table();
  }
  Table& numbered(int count) {
    std::vector<std::string> names;
    std::vector<int> nums;
    for (int i = 0; i < count; ++i) {
      names.push_back("R");
      names.back() += std::to_string(i);
      nums.push_back(i + 1);
    }
    return open(names, nums);
  }

  void paint() {
    if (g_app.redraw & kRedrawAll) full_repaint();
    paint_view();
  }
  // Runs a key's or a menu's command. The keys wait until the command reads
  // them; `late` ones arrive while a walk is under way.
  template <typename Command>
  void run(Command command, const std::vector<int>& keys, const std::vector<int>& late = {}) {
    for (int k : keys) backend->push_key(k);
    for (int k : late) backend->push_key(k, backend->now_ms() + 1);
    if constexpr (std::is_same_v<Command, Cmd>) {
      run_command(command);
    } else {
      dispatch_key(command);
    }
    paint();
  }
  // The characters of text, then the other keys.
  static std::vector<int> keys(const std::string& text, std::vector<int> then = {}) {
    then.insert(then.begin(), text.begin(), text.end());
    return then;
  }

  std::string on_disk(int q, int offset, int length) {
    std::vector<uint8_t> bytes = test::read_bytes(path);
    size_t at = size_t(kHeaderSize + q * kRecordSize + offset);
    return at + size_t(length) <= bytes.size() ? std::string(bytes.begin() + long(at), bytes.begin() + long(at) + length)
                                               : "";
  }
  std::string name(int q) { return on_disk(q, 1, 10); }
  std::string num(int q) { return on_disk(q, 11, 6); }
  std::vector<uint32_t> view_records() {
    std::vector<uint32_t> out;
    for (uint32_t p = 0; p < visible_count(*g_app.table()); ++p) out.push_back(physical_record(*g_app.table(), p));
    return out;
  }
  uint32_t cursor_record() { return physical_record(*g_app.table(), uint32_t(current_state().view.current_record)); }

  TempDir dir;
  std::string path;
  HeadlessBackend* backend = nullptr;
};

// ---- sort -----------------------------------------------------------------------------------

TEST_F(SortFillCommandsTest, SortOrdersTheViewAndKeepsTheCursorOnItsRecord) {
  struct Case {
    const char* what;
    std::vector<int> keys;
    std::vector<uint32_t> order;
  };
  const std::vector<Case> cases = {
      {"ascending by the current field", {kEnter}, {1, 4, 3, 0, 5, 2}},
      {"descending: ties reversed", {kDown, kDown, kDown, kDown, kDown, kDown, kSpace, kEnter}, {2, 5, 0, 3, 4, 1}},
      {"ignoring case", {kDown, kDown, kDown, kDown, kSpace, kEnter}, {1, 3, 0, 4, 5, 2}},
      {"by the typed field list", {kDown, 'N', 'U', 'M', ' ', 'N', 'A', 'M', 'E', kDown, kDown, kSpace, kEnter}, {3, 5, 1, 0, 4, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    open({"b", "A", "c", "a", "B", "b"}, {5, 3, 9, 1, 7, 2});
    current_state().view.current_record = 2;
    run(kKeyCtrlS, c.keys);
    EXPECT_EQ(view_records(), c.order);
    EXPECT_EQ(cursor_record(), 2u);
    run(kKeyAltS, {});
    EXPECT_EQ(view_records(), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(cursor_record(), 2u);
    reset_app_state();
  }
}

TEST_F(SortFillCommandsTest, EscDuringTheWalksLeavesTheViewAndShowsNoTotals) {
  Table& t = numbered(20000);
  ViewState& v = current_state().view;
  v.current_record = 1234;
  v.top_record = 1230;
  v.current_column = kNum;
  run(kKeyCtrlS, {kEnter}, {kKeyEsc});
  EXPECT_FALSE(t.view.sort_order.has_value());
  EXPECT_EQ(v.current_record, 1234);
  EXPECT_EQ(v.top_record, 1230);
  EXPECT_TRUE(shown("Sort"));
  run(kKeyCtrlF2, {}, {kKeyEsc});
  EXPECT_FALSE(shown("All records"));
  // A stopped fill keeps the records it wrote and the view; nothing is reported.
  run(Cmd::Fill, {'0', kEnter}, {kKeyEsc});
  int filled = 0;
  for (int q = 0; q < 20000; q += 97) filled += num(q) == "     0";
  EXPECT_LT(filled, 20000 / 97);
  EXPECT_EQ(v.current_record, 1234);
  EXPECT_FALSE(shown("Cannot"));
  // Without Esc the same walks finish.
  run(kKeyCtrlS, {kEnter});
  EXPECT_TRUE(t.view.sort_order.has_value());
}

// ---- sum ------------------------------------------------------------------------------------

TEST_F(SortFillCommandsTest, SumShowsTheThreeTotalsOverTheViewOrTheSelection) {
  open({"a", "b", "c", "d", "e", "f"}, {1, 2, 3, 4, 5, 6}, {false, true, false, false, true, false});
  current_state().view.current_column = kName;
  run(kKeyCtrlF2, {});
  EXPECT_TRUE(shown("It's not numeric field."));
  EXPECT_FALSE(shown("All records"));

  current_state().view.current_column = kNum;
  run(kKeyCtrlF2, {});
  ASSERT_FALSE(g_boxes.empty());
  const std::string& box = g_boxes.back();
  for (const char* line : {"All records", "Without deleted records", "Deleted records only"}) {
    EXPECT_NE(box.find(line), std::string::npos) << line;
  }
  EXPECT_NE(box.find("21.000000"), std::string::npos);
  EXPECT_NE(box.find("14.000000"), std::string::npos);
  EXPECT_NE(box.find(" 7.000000"), std::string::npos);

  current_state().selection = {0, 1, 5};
  run(kKeyCtrlF2, {});
  EXPECT_NE(g_boxes.back().find(" 9.000000"), std::string::npos);
  EXPECT_NE(g_boxes.back().find(" 2.000000"), std::string::npos);
}

// ---- the calculator -------------------------------------------------------------------------

TEST_F(SortFillCommandsTest, CalculatorStoresOnlyIntoFieldsThatTakeANumber) {
  struct Case {
    int column;
    std::string name, num;  // record 0 afterwards
  };
  const std::vector<Case> cases = {
      {kName, "5.000000  ", "     1"},  {kNum, "a         ", "     5"}, {kDate, "a         ", "     1"},
      {kLogical, "a         ", "     1"}, {kMemo, "a         ", "     1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    open({"a", "b"}, {1, 2});
    std::vector<uint8_t> before = test::read_bytes(path);
    current_state().view.current_column = c.column;
    run(kKeyShiftF4, keys("NUM*2+3"), {kEnter});  // Enter once the result is on the screen
    EXPECT_TRUE(shown("5.000000"));
    EXPECT_EQ(name(0), c.name);
    EXPECT_EQ(num(0), c.num);
    if (c.name == "a         " && c.num == "     1") {
      EXPECT_EQ(test::read_bytes(path), before);
    }
    reset_app_state();
  }
}

TEST_F(SortFillCommandsTest, CalculatorErrorsTooWideResultsAndReadOnly) {
  open({"keep"}, {1});
  run(kKeyShiftF4, keys("2+", {kEnter}));
  EXPECT_TRUE(shown("Error"));
  // Sixteen characters do not fit NAME: the old value stays and says so.
  run(kKeyShiftF4, keys("123456*1000", {kEnter}));
  EXPECT_TRUE(shown("does not fit"));
  g_settings.read_only = 1;
  current_state().view.current_column = kNum;
  run(kKeyShiftF4, keys("7", {kEnter}));
  EXPECT_EQ(name(0) + num(0), "keep           1");
}

// ---- fill -----------------------------------------------------------------------------------

// From the expression line: All chosen, the k-th column picked as the
// target, OK.
std::vector<int> all_into(int k) {
  std::vector<int> keys = {kDown, kSpace, kDown, kDown, kSpace, kHome};
  keys.insert(keys.end(), size_t(k), kDown);
  keys.insert(keys.end(), {kEnter, kEnter});
  return keys;
}

TEST_F(SortFillCommandsTest, FillWritesProgressionsAndKeepsWhatDoesNotFit) {
  numbered(10);
  current_state().view.current_column = kNum;
  // Expression 1 into the current column, All, Advanced options,
  // Arithmetical, Step 1, Max value 5.
  run(Cmd::Fill, {'1', kDown, kSpace, kDown, kDown, kDown, kSpace, kDown, kSpace, kDown, kDown, '1', kDown, '5', kEnter});
  std::string nums;
  for (int q = 0; q < 10; ++q) nums += num(q);
  EXPECT_EQ(nums, "     1     2     3     4     5     6     7     8     9    10");

  run(Cmd::Fill, keys("\"much too long\"", all_into(kName)));
  EXPECT_TRUE(shown("10 value(s) did not fit"));
  EXPECT_EQ(name(4), "R4        ");

  std::vector<uint8_t> before = test::read_bytes(path);
  run(Cmd::Fill, keys("\"X\"", all_into(kMemo)));
  EXPECT_TRUE(shown("cannot be filled"));
  EXPECT_EQ(test::read_bytes(path), before);
}

TEST_F(SortFillCommandsTest, FillFollowsTheSelectionOrTheTypedList) {
  numbered(6);
  current_state().view.current_column = kNum;
  current_state().selection = {1, 2, 4};
  run(Cmd::Fill, {'0', kEnter});
  EXPECT_TRUE(shown("2-3,5"));
  EXPECT_EQ(num(0) + num(1) + num(2) + num(4) + num(5), "     1     0     0     0     6");
  // The list changed by hand is what is filled.
  run(Cmd::Fill, {'7', kDown, kDown, kDown, kEnd, 0x0E08, '6', kEnter});
  EXPECT_EQ(num(5), "     7");
  EXPECT_EQ(num(4), "     0");
}

// ---- edits pending when a command starts ----------------------------------------------------

TEST_F(SortFillCommandsTest, ValuesBeingEditedAreWrittenBeforeTheCommandsReadOrWrite) {
  open({"a", "b"}, {1, 2});
  // Calculator on NUM while NAME of the same record is edited.
  run(kF4, {});
  run('Q', {});
  run(kRight, {});
  run(kKeyShiftF4, keys("NUM+10", {kEnter}));
  run(kF4, {});
  EXPECT_EQ(name(0), "Q         ");
  EXPECT_EQ(num(0), "    11");

  // Sum sees a number typed and not yet written.
  g_boxes.clear();
  run(kF4, {});
  run('9', {});
  run(kKeyCtrlF2, {});
  run(kF4, {});
  EXPECT_TRUE(shown("11.000000"));  // 9 + 2

  // Fill of NUM while NAME is edited: both reach the file.
  current_state().view.current_column = kName;
  run(kF4, {});
  run('Z', {});
  run(kRight, {});
  run(Cmd::Fill, keys("4", all_into(kNum)));
  run(kF4, {});
  EXPECT_EQ(name(0), "Z         ");
  EXPECT_EQ(num(0) + num(1), "     4     4");
}

}  // namespace
}  // namespace kora
