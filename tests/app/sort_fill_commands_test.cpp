// Sort, Sum, the Calculator and Fill as the user drives them: keys into their
// dialogs, then the view, the boxes shown and the file's bytes.
#include "app/sort_fill_commands.h"

#include <cstdio>

#include "table/memo_file.h"
#include "tool_harness.h"

namespace kora {
namespace {

constexpr int kName = 0, kNum = 1, kDate = 2, kLogical = 3, kMemo = 4;
constexpr int kEnter = kKeyEnter, kDown = kKeyDown, kSpace = kKeySpace, kRight = 0x4D00, kF4 = 0x3E00;

class SortFillCommandsTest : public test::ToolHarness {
 protected:
  // NAME C(10), NUM N(6), D D(8), L L(1), MEMO M(10); names "R<i>" unless given.
  Table& open_numbered(int count, std::vector<std::string> names = {}, std::vector<int> nums = {},
                       std::vector<bool> deleted = {}) {
    test::DbfLayout layout;
    layout.version = 0x83;
    layout.fields = {{"NAME", 'C', 10}, {"NUM", 'N', 6}, {"D", 'D', 8}, {"L", 'L', 1}, {"MEMO", 'M', 10}};
    for (int i = 0; i < count; ++i) {
      std::string name = i < int(names.size()) ? names[size_t(i)] : std::string("R").append(std::to_string(i));
      char record[64];
      std::snprintf(record, sizeof record, "%-10s%6d20240102T%10s", name.c_str(),
                    i < int(nums.size()) ? nums[size_t(i)] : i + 1, "");
      layout.records.push_back(record);
    }
    layout.deleted = std::move(deleted);
    Table& t = open(layout);
    EXPECT_TRUE(create_memo_file(path, kDBase3, 512));
    apply_settings(t);
    return t;
  }
  std::string name(uint32_t q) { return cell(q, 1, 10); }
  std::string num(uint32_t q) { return cell(q, 11, 6); }
  uint32_t cursor_record() { return physical_record(*g_app.table(), uint32_t(current_state().view.current_record)); }
};

// From the expression line: All chosen, the k-th column picked as the target, OK.
std::vector<int> all_into(int k) {
  std::vector<int> keys = {kDown, kSpace, kDown, kDown, kSpace, 0x4700};
  keys.insert(keys.end(), size_t(k), kDown);
  keys.insert(keys.end(), {kEnter, kEnter});
  return keys;
}

TEST_F(SortFillCommandsTest, SortOrdersTheViewAndKeepsTheCursorOnItsRecord) {
  struct Case {
    std::vector<int> keys;
    const char* order;
  } cases[] = {
      {{kEnter}, "1 4 3 0 5 2 "},                                                      // ascending
      {{kDown, kDown, kDown, kDown, kDown, kDown, kSpace, kEnter}, "2 5 0 3 4 1 "},    // descending, ties reversed
      {{kDown, kDown, kDown, kDown, kSpace, kEnter}, "1 3 0 4 5 2 "},                  // ignoring case
      {{kDown, 'N', 'U', 'M', ' ', 'N', 'A', 'M', 'E', kDown, kDown, kSpace, kEnter}, "3 5 1 0 4 2 "},  // typed list
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.order);
    Table& t = open_numbered(6, {"b", "A", "c", "a", "B", "b"}, {5, 3, 9, 1, 7, 2});
    current_state().view.current_record = 2;
    run(kKeyCtrlS, c.keys);
    EXPECT_EQ(view(t), c.order);
    EXPECT_EQ(cursor_record(), 2u);
    run(kKeyAltS);
    EXPECT_EQ(view(t), "0 1 2 3 4 5 ");
    EXPECT_EQ(cursor_record(), 2u);
    reset_app_state();
  }
}

TEST_F(SortFillCommandsTest, EscDuringTheWalksLeavesTheViewAndReportsNothing) {
  Table& t = open_numbered(20000);
  ViewState& v = current_state().view;
  v.current_record = 1234;
  v.top_record = 1230;
  v.current_column = kNum;
  run(kKeyCtrlS, {kEnter}, {kKeyEsc});
  EXPECT_FALSE(t.view.sort_order.has_value());
  EXPECT_EQ(v.top_record, 1230);
  run(kKeyCtrlF2, {}, {kKeyEsc});
  EXPECT_FALSE(shown("All records"));
  // A stopped fill keeps the records it wrote.
  run(Cmd::Fill, {'0', kEnter}, {kKeyEsc});
  int filled = 0;
  for (uint32_t q = 0; q < 20000; q += 97) filled += num(q) == "     0";
  EXPECT_LT(filled, 20000 / 97);
  EXPECT_EQ(v.current_record, 1234);
  EXPECT_TRUE(shown("Sort"));
  EXPECT_FALSE(shown("Cannot"));
  run(kKeyCtrlS, {kEnter});  // without Esc the walk finishes
  EXPECT_TRUE(t.view.sort_order.has_value());
}

TEST_F(SortFillCommandsTest, SumShowsTheThreeTotalsOverTheViewOrTheSelection) {
  open_numbered(6, {}, {}, {false, true, false, false, true, false});
  run(kKeyCtrlF2);
  EXPECT_TRUE(shown("It's not numeric field."));
  EXPECT_FALSE(shown("All records"));
  current_state().view.current_column = kNum;
  run(kKeyCtrlF2);
  for (const char* line :
       {"All records", "Without deleted records", "Deleted records only", "21.000000", "14.000000", " 7.000000"}) {
    EXPECT_TRUE(shown(line)) << line;
  }
  test::g_pictures.clear();
  current_state().selection = {0, 1, 5};
  run(kKeyCtrlF2);
  EXPECT_TRUE(shown(" 9.000000") && shown(" 2.000000"));
}

TEST_F(SortFillCommandsTest, CalculatorStoresOnlyIntoFieldsThatTakeANumber) {
  struct Case {
    int column;
    const char* record0;  // NAME and NUM afterwards
  } cases[] = {{kName, "5.000000       1"}, {kNum, "a              5"}, {kDate, "a              1"},
               {kLogical, "a              1"}, {kMemo, "a              1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    open_numbered(2, {"a", "b"});
    std::vector<uint8_t> before = test::read_bytes(path);
    current_state().view.current_column = c.column;
    run(kKeyShiftF4, text("NUM*2+3"), {kEnter});  // Enter once the result is on the screen
    EXPECT_TRUE(shown("5.000000"));
    EXPECT_EQ(name(0) + num(0), c.record0);
    if (c.column > kNum) {
      EXPECT_EQ(test::read_bytes(path), before);
    }
    reset_app_state();
  }
  open_numbered(1, {"keep"});
  run(kKeyShiftF4, text("2+", {kEnter}));
  EXPECT_TRUE(shown("Error"));
  run(kKeyShiftF4, text("123456*1000", {kEnter}));  // sixteen characters do not fit NAME
  EXPECT_TRUE(shown("does not fit"));
  g_settings.read_only = 1;
  current_state().view.current_column = kNum;
  run(kKeyShiftF4, text("7", {kEnter}));
  EXPECT_EQ(name(0) + num(0), "keep           1");
}

TEST_F(SortFillCommandsTest, FillWritesProgressionsTheSelectionAndKeepsWhatDoesNotFit) {
  open_numbered(10);
  current_state().view.current_column = kNum;
  // 1 into the current column, All, Advanced options, Arithmetical, Step 1, Max value 5.
  run(Cmd::Fill, {'1', kDown, kSpace, kDown, kDown, kDown, kSpace, kDown, kSpace, kDown, kDown, '1', kDown, '5', kEnter});
  std::string nums;
  for (uint32_t q = 0; q < 10; ++q) nums += num(q);
  EXPECT_EQ(nums, "     1     2     3     4     5     6     7     8     9    10");

  run(Cmd::Fill, text("\"much too long\"", all_into(kName)));
  EXPECT_TRUE(shown("The value does not fit the field NAME (C 10):") && shown("\"much too long\""));
  EXPECT_TRUE(shown("10 record(s) keep their old values."));
  EXPECT_EQ(name(4), "R4        ");
  run(Cmd::Fill, text("NUM*2", all_into(kDate)));
  EXPECT_TRUE(shown("the field D (D 8) is a date."));
  run(Cmd::Fill, text("NAME+'/'+STR(NUM)", all_into(kName)));
  EXPECT_EQ(name(4), "R4/5      ");
  std::vector<uint8_t> before = test::read_bytes(path);
  run(Cmd::Fill, text("\"X\"", all_into(kMemo)));
  EXPECT_TRUE(shown("cannot be filled"));
  EXPECT_EQ(test::read_bytes(path), before);

  // Afresh: the selection is what is filled.
  g_settings = Settings{};
  reset_app_state();
  open_numbered(6);
  current_state().view.current_column = kNum;
  current_state().selection = {1, 2, 4};
  run(Cmd::Fill, {'0', kEnter});
  EXPECT_TRUE(shown("2-3,5"));
  EXPECT_EQ(num(0) + num(1) + num(2) + num(4) + num(5), "     1     0     0     0     6");
  // The list changed by hand is what is filled.
  run(Cmd::Fill, {'7', kDown, kDown, kDown, 0x4F00, 0x0E08, '6', kEnter});
  EXPECT_EQ(num(5) + num(4), "     7     0");
}

// A Fill expression is typed in the screen's characters; its texts are
// stored as the table's code page holds them, and one it cannot hold is
// refused with the reason.
TEST_F(SortFillCommandsTest, FillStoresTypedTextInTheTablesCodePage) {
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 6}};
  layout.records = {"old"};
  layout.code_page_mark = 0x03;  // Windows-1252
  apply_settings(open(layout));
  run(Cmd::Fill, {'\'', '5', 0xF8, '\'', kEnter});  // ° in code page 866
  EXPECT_EQ(cell(0, 1, 6), "5\xB0    ");
  run(Cmd::Fill, {'\'', 0x9F, '\'', kEnter});  // Я
  EXPECT_TRUE(shown("cannot be stored in code page 1252"));
  EXPECT_EQ(cell(0, 1, 6), "5\xB0    ");
}

TEST_F(SortFillCommandsTest, ValuesBeingEditedAreWrittenBeforeTheCommandsReadOrWrite) {
  open_numbered(2, {"a", "b"});
  // The calculator on NUM while NAME of the same record is edited.
  for (int key : {kF4, int('Q'), kRight}) run(key);
  run(kKeyShiftF4, text("NUM+10", {kEnter}));
  run(kF4);
  EXPECT_EQ(name(0) + num(0), "Q             11");
  // Sum sees a number typed and not yet written: 9 + 2.
  test::g_pictures.clear();
  for (int key : {kF4, int('9'), kKeyCtrlF2, kF4}) run(key);
  EXPECT_TRUE(shown("11.000000"));
  // Fill of NUM while NAME is edited: both reach the file.
  current_state().view.current_column = kName;
  for (int key : {kF4, int('Z'), kRight}) run(key);
  run(Cmd::Fill, text("4", all_into(kNum)));
  run(kF4);
  EXPECT_EQ(name(0) + num(0) + num(1), "Z              4     4");
}

}  // namespace
}  // namespace kora
