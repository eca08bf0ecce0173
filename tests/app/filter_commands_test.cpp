// The filter commands on generated tables: the dialogs take their keys from
// the scripted screen; the view, the cursor and the file are checked after.
#include "app/filter_commands.h"

#include <cstdio>

#include "app/record_commands.h"
#include "tool_harness.h"
#include "tools/filter.h"
#include "tools/record_list.h"

namespace kora {
namespace {

constexpr int kEnter = 0x1C0D, kTab = 0x0F09, kSpace = 0x3920;

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

class FilterCommandsTest : public test::ToolHarness {
 protected:
  Table& open_records(std::vector<std::string> records, std::vector<bool> deleted = {}) {
    test::DbfLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"NUM", 'N', 6}, {"D", 'D', 8}};
    layout.records = std::move(records);
    layout.deleted = std::move(deleted);
    return open(layout);
  }
  // The text, then New or Merge and OK; `late` keys arrive during the walk.
  void filter(const std::string& typed, bool merge, const std::vector<int>& late = {}) {
    std::vector<int> keys = text(typed, {kTab, kTab, kTab, kTab});
    if (merge) keys.push_back(kTab);
    keys.insert(keys.end(), {kSpace, kEnter});
    push(keys, late);
    filter_command();
  }
};

TEST_F(FilterCommandsTest, MergeNarrowsTheViewAndNewStartsOverAllRecords) {
  Table& t = open_records(numbered(10));
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
    EXPECT_EQ(t.view.filter_expr + " = " + view(t), std::string(step.stored) + " = " + step.shown) << step.typed;
    EXPECT_EQ(g_settings.filter.expression, step.typed);
  }
  // A merged text past the line's 512 characters is offered whole.
  std::string part = "NUM>0";
  while (part.size() < 120) part += "&NUM>0";
  filter(part, false);
  for (int i = 0; i < 4; ++i) filter(part, true);
  std::string before = t.view.filter_expr;
  ASSERT_GT(before.size(), 512u);
  filter("", true);
  EXPECT_EQ(t.view.filter_expr, "(" + before + ")&(" + before + ")");
  EXPECT_EQ(view(t), "1 2 3 4 5 6 7 8 9 ");
}

// In a table of another code page (KOI8-R here) a condition typed on the
// screen is compared in the table's page; a letter that page cannot hold is
// refused with the reason and the view stays.
TEST_F(FilterCommandsTest, ATypedConditionIsComparedInTheTablesCodePage) {
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 12}};
  layout.records = {"\xD2\xD5\xD3\xD3\xCB\xC9\xCA", "\xC1\xCE\xC7\xCC\xC9\xCA\xD3\xCB\xC9\xCA"};  // русский, английский
  test::write_bytes(path = dir.file("t.dbf"), test::build_dbf(layout));
  std::FILE* cpg = std::fopen(dir.file("t.cpg").c_str(), "w");
  ASSERT_TRUE(cpg);
  std::fputs("KOI8-R", cpg);
  std::fclose(cpg);
  ASSERT_GE(g_app.current = add_open_table(path), 0);
  Table& t = *g_app.table();
  filter("NAME='\xE0\xE3\xE1\xE1\xAA\xA8\xA9'", false);  // русский in the screen's code page 866
  EXPECT_EQ(visible_count(t), 1u);
  filter("NAME='\xF6'", false);  // Ў, which KOI8-R lacks
  EXPECT_TRUE(shown("cannot be stored in code page KOI8-R"));
  EXPECT_EQ(visible_count(t), 1u);
}

// The condition box of a table in another code page takes any character a
// UTF-8 terminal sends: 國語 finds its record in a Big5 table, and the box
// offers the filter in force again in its characters.
TEST_F(FilterCommandsTest, AConditionTypedInUnicodeIsComparedInTheTablesCodePage) {
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 8}};
  layout.records = {"\xA4\xA4\xA4\xE5", "\xB0\xEA\xBB\x79"};  // 中文, 國語
  test::write_bytes(path = dir.file("t.dbf"), test::build_dbf(layout));
  test::write_bytes(dir.file("t.cpg"), std::vector<uint8_t>{'B', 'I', 'G', '5'});
  ASSERT_GE(g_app.current = add_open_table(path), 0);
  Table& t = *g_app.table();
  backend->push_bytes("NAME='\u570b\u8a9e'");
  filter("", false);
  EXPECT_EQ(view(t), "1 ");
  std::string offered;
  backend->on_wait = [&] {
    for (int y = 0; y < screen_rows(); ++y) offered += screen_row_utf8(y) + "\n";
  };
  push({kKeyEsc});
  filter_command();
  backend->on_wait = nullptr;
  EXPECT_NE(offered.find("NAME='\u570b\u8a9e'"), std::string::npos) << offered;
}

TEST_F(FilterCommandsTest, EscapeDuringAWalkLeavesTheViewAsItWas) {
  Table& t = open_records(numbered(3000));

  filter("NUM<2500", false);
  t.view.reverse = true;
  ViewState& v = view_of(t);
  v.current_record = 700, v.top_record = 690;
  const RecordView records = t.view;
  long top = v.top_record;
  auto unchanged = [&] {
    EXPECT_EQ(t.view.filter_expr, "NUM<2500");
    EXPECT_EQ(t.view.visible_list, records.visible_list);
    EXPECT_TRUE(t.view.reverse);
    EXPECT_EQ(v.current_record, 700);
    EXPECT_EQ(v.top_record, top);
  };
  for (bool merge : {false, true}) {
    filter("NUM>10", merge, {kKeyEsc});
    unchanged();
  }
  // Hide deleted walks the view when switched on, and runs the stored
  // filter again when switched off; stopped either way, the view stays.
  for (bool hidden : {false, true}) {
    top = v.top_record;
    push({}, {kKeyEsc});
    cmd_hide_deleted();
    EXPECT_EQ(t.view.hide_deleted, hidden);
    unchanged();
    if (!hidden) cmd_hide_deleted();
  }
}

TEST_F(FilterCommandsTest, HideDeletedOffRunsTheStoredFilterOverAllRecords) {
  Table& t = open_records(numbered(8), {false, true, false, true});
  run(cmd_hide_deleted);
  filter("NUM<4", true);
  EXPECT_EQ(view(t), "0 2 ");
  run(cmd_hide_deleted);
  EXPECT_EQ(view(t) + t.view.filter_expr, "0 1 2 3 NUM<4");
}

TEST_F(FilterCommandsTest, TheWholeExpressionIsSavedAndReadBack) {
  g_settings_file = dir.file("kora.ini");
  test::write_bytes(g_settings_file, std::vector<uint8_t>{});
  open_records(numbered(5)).ignore_case = true;
  std::string typed = "NUM>1";
  while (typed.size() < 400) typed += "&NUM>1";
  run(filter_command, text(typed, {kTab, kSpace, kEnter}));  // Ignore case off, OK
  g_settings = Settings{};
  settings_load();
  EXPECT_EQ(g_settings.filter.expression, typed);
  EXPECT_EQ(g_settings.filter.ignore_case, 0);
}

TEST_F(FilterCommandsTest, QuickFilterUsesTheFieldNameAndTheStoredValue) {
  Table& t = open_records({"SMITH          120021231", "SMITHSON       220021231", "SMITH          320030101",
                           "A&B            420021231", "NUM            520021231", "it's \"x\"       620021231",
                           "(open          720021231"});
  t.show_aliases = true;
  t.aliases = {"Full name", "Number", "When"};
  ASSERT_GE(add_computed_column(t.columns, {"TWICE", "NUM*2", 'N', 20, 2}), 0);
  struct Case {
    uint32_t record;
    int column;
    bool merge, refused;  // a refused value leaves the filter and the view as they were
    const char* outcome;
  } cases[] = {
      {0, 0, false, false, "NAME==\"SMITH     \" = 0 2 "},
      {0, 2, true, false, "(NAME==\"SMITH     \")&(D==\"20021231\") = 0 "},
      {0, 2, false, false, "D==\"20021231\" = 0 1 3 4 5 6 "},
      {3, 0, false, true, "D==\"20021231\" = 0 1 3 4 5 6 "},
      {5, 0, false, true, "D==\"20021231\" = 0 1 3 4 5 6 "},
      {6, 0, false, true, "D==\"20021231\" = 0 1 3 4 5 6 "},
      {4, 0, false, false, "NAME==\"NUM       \" = 4 "},
      {4, 1, false, false, "NUM==\"     5\" = 4 "},
      {4, 3, false, false, "NUM*2==\"10\" = 4 "},
  };
  for (const Case& c : cases) {
    view_of(t).current_record = long(view_position_of(t, c.record));
    view_of(t).current_column = c.column;
    run(c.merge ? quick_filter_add_command : quick_filter_command, c.refused ? std::vector<int>{kEnter} : std::vector<int>{});
    EXPECT_EQ(t.view.filter_expr + " = " + view(t), c.outcome) << c.record << "/" << c.column;
    EXPECT_TRUE(backend->script_empty());
  }
}

TEST_F(FilterCommandsTest, GoToBeyondTheCountChangesNothing) {
  Table& t = open_records(numbered(50));
  for (auto [typed, current] : std::vector<std::pair<std::string, long>>{
           {"40", 39}, {"51", 39}, {"1", 0}, {"50", 49}, {"9999999999", 49}}) {
    run(go_to_record_command, text(typed, {kEnter}));
    EXPECT_EQ(view_of(t).current_record, current) << typed;
    EXPECT_EQ(table_state(t).goto_number, typed);
  }
  EXPECT_EQ(view_of(t).top_record, 49 - 9);
}

TEST_F(FilterCommandsTest, GroupDeleteMarksExactlyALargeSelection) {
  constexpr uint32_t kCount = 60000;
  Table& t = open_records(numbered(int(kCount)));
  std::vector<uint32_t>& selection = table_state(t).selection;
  for (uint32_t q = 0; q < kCount; ++q) q % 3 ? selection.push_back(q) : void();
  ASSERT_EQ(selection.size(), 40000u);
  ASSERT_GT(format_record_list(record_list_from_selection(t, selection)).size(), 256u);
  run(group_delete_command, {kEnter});
  std::vector<uint8_t> bytes = test::read_bytes(path);
  uint32_t wrong = 0;
  for (uint32_t q = 0; q < kCount; ++q) wrong += bytes[t.header_size + q * t.record_size] != (q % 3 ? '*' : ' ');
  EXPECT_EQ(wrong, 0u);
  // A typed list with Recall chosen; then read-only refuses.
  run(group_delete_command, text("2-3,7", {kTab, kTab, kSpace, kEnter}));
  EXPECT_EQ(cell(1, 0, 1) + cell(2, 0, 1) + cell(4, 0, 1) + cell(6, 0, 1), "  * ");
  g_settings.read_only = 1;
  run(group_recall_command);
  EXPECT_EQ(cell(4, 0, 1), "*");
}

}  // namespace
}  // namespace kora
