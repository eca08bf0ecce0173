// The filter commands run headless on generated tables: the dialogs take
// their keys from the scripted screen; the view, the cursor and the file
// are checked afterwards. An Esc pushed later on the fake clock arrives
// while a walk is under way.
#include "app/filter_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/record_commands.h"
#include "table/record_ops.h"
#include "tools/filter.h"
#include "tools/record_list.h"
#include "ui/backend.h"
#include "ui/key_codes.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {
namespace {

using namespace kora::test;

constexpr int kEnter = 0x1C0D, kTab = 0x0F09, kSpace = 0x3920;
constexpr size_t kFirstRecord = 32 + 3 * 32 + 1, kRecordSize = 25;

// NAME C(10), NUM N(6), D D(8): record i holds "R<i>", i and a day of 2002.
std::vector<std::string> numbered(int count) {
  std::vector<std::string> records;
  for (int i = 0; i < count; ++i) {
    char text[64];
    std::snprintf(text, sizeof text, "R%-9d%6d200201%02d", i, i, i % 28 + 1);
    records.push_back(text);
  }
  return records;
}

class FilterCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_app_state();
    screen_open_headless(25, 80);
    backend = headless_backend();
  }
  void TearDown() override {
    g_settings_file.clear();
    reset_app_state();
  }

  Table& open(std::vector<std::string> records, std::vector<bool> deleted = {}) {
    DbfSpec layout;
    layout.fields = {{"NAME", 'C', 10}, {"NUM", 'N', 6}, {"D", 'D', 8}};
    layout.records = std::move(records);
    layout.deleted = std::move(deleted);
    path = dir.file("t.dbf");
    write_bytes(path, build_dbf(layout));
    g_app.current = add_open_table(path);
    return *g_app.table();
  }

  void type(const std::string& text) {
    for (char c : text) backend->push_key(static_cast<unsigned char>(c));
  }
  void keys(std::initializer_list<int> codes) {
    for (int key : codes) backend->push_key(key);
  }
  void escape_during_walk() { backend->push_key(kKeyEsc, backend->now_ms() + 1); }
  // From the expression line to New or Merge, and OK.
  void choose(bool merge) {
    keys({kTab, kTab, kTab, kTab});
    if (merge) keys({kTab});
    keys({kSpace, kEnter});
  }
  void filter(const std::string& text, bool merge) {
    type(text);
    choose(merge);
    filter_command();
  }

  // The physical records in view, in view order.
  static std::string shown(const Table& t) {
    std::string out;
    for (uint32_t p = 0; p < visible_count(t); ++p) out += std::to_string(physical_record(t, p)) + " ";
    return out;
  }
  char flag_on_disk(uint32_t q) const { return char(read_bytes(path)[kFirstRecord + q * kRecordSize]); }

  TempDir dir;
  std::string path;
  HeadlessBackend* backend = nullptr;
};

TEST_F(FilterCommandsTest, MergeNarrowsTheViewAndNewStartsOverAllRecords) {
  Table& t = open(numbered(10));
  struct Step {
    const char *typed, *stored, *shown;
    bool merge;
  } steps[] = {
      {"NUM>3", "NUM>3", "4 5 6 7 8 9 ", false},
      {"NUM<6", "(NUM>3)&(NUM<6)", "4 5 ", true},
      {"NUM~<8", "((NUM>3)&(NUM<6))&(NUM~<8)", "4 5 ", true},
      {"NUM<2", "NUM<2", "0 1 ", false},
      // Braces outside quotes compare; a text without a comparison changes nothing.
      {"NUM}7", "NUM>7", "8 9 ", false},
      {"NAME", "NUM>7", "8 9 ", false},
      {"NUM{3|NAME='}'", "NUM<3|NAME='}'", "0 1 2 ", false},
  };
  for (const Step& step : steps) {
    filter(step.typed, step.merge);
    EXPECT_EQ(t.view.filter_expr, step.stored) << step.typed;
    EXPECT_EQ(shown(t), step.shown) << step.typed;
    EXPECT_EQ(g_settings.filter.expression, step.typed);
  }
  // A merged text past the line's 512 characters is offered whole.
  std::string part = "NUM>0";
  while (part.size() < 120) part += "&NUM>0";
  filter(part, false);
  for (int i = 0; i < 4; ++i) filter(part, true);
  std::string before = t.view.filter_expr;
  ASSERT_GT(before.size(), 512u);
  choose(true);
  filter_command();
  EXPECT_EQ(t.view.filter_expr, "(" + before + ")&(" + before + ")");
  EXPECT_EQ(shown(t), "1 2 3 4 5 6 7 8 9 ");
}

TEST_F(FilterCommandsTest, EscapeDuringAWalkLeavesTheViewAsItWas) {
  Table& t = open(numbered(3000));
  filter("NUM<2500", false);
  t.view.reverse = true;
  ViewState& v = view_of(t);
  v.current_record = 700, v.top_record = 690;
  const RecordView records = t.view;
  for (bool merge : {false, true}) {
    type("NUM>10");
    choose(merge);
    escape_during_walk();
    filter_command();
    EXPECT_EQ(t.view.filter_expr, "NUM<2500");
    EXPECT_EQ(t.view.visible_list, records.visible_list);
    EXPECT_TRUE(t.view.reverse);
    EXPECT_EQ(v.current_record, 700);
    EXPECT_EQ(v.top_record, 690);
  }
  // Hide deleted walks the view when switched on, and runs the stored
  // filter again when switched off; stopped either way, the view stays.
  for (bool hidden : {false, true}) {
    escape_during_walk();
    cmd_hide_deleted();
    EXPECT_EQ(t.view.hide_deleted, hidden);
    EXPECT_EQ(t.view.visible_list, records.visible_list);
    EXPECT_EQ(v.current_record, 700);
    if (!hidden) cmd_hide_deleted();
  }
}

TEST_F(FilterCommandsTest, HideDeletedOffRunsTheStoredFilterOverAllRecords) {
  Table& t = open(numbered(8), {false, true, false, true});
  cmd_hide_deleted();
  filter("NUM<4", true);
  EXPECT_EQ(shown(t), "0 2 ");
  cmd_hide_deleted();
  EXPECT_EQ(shown(t), "0 1 2 3 ");
  EXPECT_EQ(t.view.filter_expr, "NUM<4");
}

TEST_F(FilterCommandsTest, TheWholeExpressionIsSavedAndReadBack) {
  g_settings_file = dir.file("kora.ini");
  write_bytes(g_settings_file, std::vector<uint8_t>{});
  open(numbered(5)).ignore_case = true;
  std::string text = "NUM>1";
  while (text.size() < 400) text += "&NUM>1";
  type(text);
  keys({kTab, kSpace, kEnter});  // Ignore case off, OK
  filter_command();
  g_settings = Settings{};
  settings_load();
  EXPECT_EQ(g_settings.filter.expression, text);
  EXPECT_EQ(g_settings.filter.ignore_case, 0);
}

TEST_F(FilterCommandsTest, QuickFilterUsesTheFieldNameAndTheStoredValue) {
  Table& t = open({"SMITH          120021231", "SMITHSON       220021231", "SMITH          320030101",
                   "A&B            420021231", "NUM            520021231", "it's \"x\"       620021231",
                   "(open          720021231"});
  t.show_aliases = true;
  t.aliases = {"Full name", "Number", "When"};
  ASSERT_GE(add_computed_column(t.columns, {"TWICE", "NUM*2", 'N', 20, 2}), 0);
  const char* kDates = "D==\"20021231\"";
  struct Case {
    uint32_t record;
    int column;
    bool merge;
    const char *stored, *shown;  // a refused value leaves both as they were
  } cases[] = {
      {0, 0, false, "NAME==\"SMITH     \"", "0 2 "},
      {0, 2, true, "(NAME==\"SMITH     \")&(D==\"20021231\")", "0 "},
      {0, 2, false, kDates, "0 1 3 4 5 6 "},
      {3, 0, false, kDates, "0 1 3 4 5 6 "},
      {5, 0, false, kDates, "0 1 3 4 5 6 "},
      {6, 0, false, kDates, "0 1 3 4 5 6 "},
      {4, 0, false, "NAME==\"NUM       \"", "4 "},
      {4, 1, false, "NUM==\"     5\"", "4 "},
      {4, 3, false, "NUM*2==\"10\"", "4 "},
  };
  for (const Case& c : cases) {
    ViewState& v = view_of(t);
    v.current_record = long(view_position_of(t, c.record));
    v.current_column = c.column;
    if (c.record == 3 || c.record == 5 || c.record == 6) keys({kEnter});  // the refusal's OK
    c.merge ? quick_filter_add_command() : quick_filter_command();
    EXPECT_EQ(t.view.filter_expr, c.stored) << c.record << "/" << c.column;
    EXPECT_EQ(shown(t), c.shown) << c.record << "/" << c.column;
    EXPECT_TRUE(backend->script_empty());
  }
}

TEST_F(FilterCommandsTest, GoToBeyondTheCountChangesNothing) {
  Table& t = open(numbered(50));
  ViewState& v = view_of(t);
  struct Step {
    const char* typed;
    long current;
  } steps[] = {{"40", 39}, {"51", 39}, {"1", 0}, {"50", 49}, {"9999999999", 49}};
  for (const Step& step : steps) {
    type(step.typed);
    keys({kEnter});
    go_to_record_command();
    EXPECT_EQ(v.current_record, step.current) << step.typed;
    EXPECT_EQ(table_state(t).goto_number, step.typed);
  }
  EXPECT_EQ(v.top_record, 49 - 9);
}

TEST_F(FilterCommandsTest, GroupDeleteMarksExactlyALargeSelection) {
  constexpr uint32_t kCount = 60000;
  Table& t = open(numbered(int(kCount)));
  std::vector<uint32_t>& selection = table_state(t).selection;
  for (uint32_t q = 0; q < kCount; ++q) {
    if (q % 3 != 0) selection.push_back(q);
  }
  ASSERT_EQ(selection.size(), 40000u);
  ASSERT_GT(format_record_list(record_list_from_selection(t, selection)).size(), 256u);
  keys({kEnter});
  group_delete_command();
  std::vector<uint8_t> bytes = read_bytes(path);
  uint32_t wrong = 0;
  for (uint32_t q = 0; q < kCount; ++q) wrong += bytes[kFirstRecord + q * kRecordSize] != (q % 3 ? '*' : ' ');
  EXPECT_EQ(wrong, 0u);

  // A typed list with Recall chosen; then read-only refuses.
  type("2-3,7");
  keys({kTab, kTab, kSpace, kEnter});
  group_delete_command();
  EXPECT_EQ(std::string({flag_on_disk(1), flag_on_disk(2), flag_on_disk(4), flag_on_disk(6)}), "  * ");
  g_settings.read_only = 1;
  group_recall_command();
  EXPECT_EQ(flag_on_disk(4), '*');
}

}  // namespace
}  // namespace kora
