// Search, find next and replace on the headless screen: the dialogs are
// answered by scripted keys, the boxes are captured while they wait, and the
// cursor and the file's bytes are checked afterwards.
#include "app/search_commands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/commands.h"
#include "ui/backend.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {
namespace {

using test::TempDir;

constexpr int kEnter = 0x1C0D, kEsc = 0x011B, kTab = 0x0F09, kDown = 0x5000, kRight = 0x4D00;

std::vector<std::string> g_boxes;
void take_picture(int, int, int, int) {
  std::string text;
  for (int y = 0; y < screen_rows(); ++y) text += screen_row_text(y) + "\n";
  g_boxes.push_back(text);
}

// NAME C(10) at byte 1, CITY C(10) at 11, NOTES M(10) at 21.
const std::vector<std::string> kPeople = {
    "Smithson  Paris              1",  // 0
    "Smith     Oslo                ",  // 1
    "Bob       Rome                ",  // 2
    "Anna      Paris               ",  // 3
    "Carl      Lyon                ",  // 4
    "JohnSmith Madrid              ",  // 5
};

struct Spot {
  long row;
  int column;
};

class SearchCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_app_state();
    screen_open_headless(25, 80);
    backend = headless_backend();
    g_ui_idle_hook = take_picture;
    g_boxes.clear();
  }
  void TearDown() override {
    g_ui_idle_hook = nullptr;
    g_settings_file.clear();
    reset_app_state();
  }

  Table& open(const std::vector<test::FieldSpec>& fields, const std::vector<std::string>& records) {
    test::DbfSpec layout;
    layout.version = 0x83;
    layout.fields = fields;
    layout.records = records;
    path = dir.file("t.dbf");
    test::write_bytes(path, test::build_dbf(layout));
    int index = add_open_table(path);
    EXPECT_GE(index, 0);
    g_app.current = index;
    Table& table = *g_app.table();
    table.ignore_case = false;
    return table;
  }
  Table& open_people() { return open({{"NAME", 'C', 10}, {"CITY", 'C', 10}, {"NOTES", 'M', 10}}, kPeople); }

  // Each key arrives after the previous one was waited for, so that every
  // box is captured while it waits.
  void press(const std::vector<int>& keys) {
    for (int key : keys) backend->push_key(key, at += 50);
  }
  void type(const std::string& text) {
    for (char c : text) press({static_cast<unsigned char>(c)});
  }
  void go_to(const Table& table, Spot spot) {
    view_of(table).current_record = spot.row;
    view_of(table).current_column = spot.column;
  }
  bool at_spot(const Table& table, Spot spot) const {
    return view_of(table).current_record == spot.row && view_of(table).current_column == spot.column;
  }
  bool last_box_says(const std::string& text) const {
    return !g_boxes.empty() && g_boxes.back().find(text) != std::string::npos;
  }
  std::string bytes_on_disk(int record, int offset, int length) const {
    std::vector<uint8_t> file = test::read_bytes(path);
    size_t at = 32 + 3 * 32 + 1 + size_t(record) * 31 + size_t(offset);
    return std::string(file.begin() + long(at), file.begin() + long(at) + length);
  }
  std::string name_on_disk(int record) const { return bytes_on_disk(record, 1, 10); }
  // The Replace dialog filled in and confirmed, then the answers.
  void replace(const std::string& find, const std::string& with, const std::vector<int>& answers) {
    type(find);
    press({kDown});
    type(with);
    press({kEnter});
    press(answers);
    run_command(Cmd::Replace);
  }
  const std::vector<int> kAllThenOk = {kRight, kRight, kEnter, kEnter};

  TempDir dir;
  std::string path;
  HeadlessBackend* backend = nullptr;
  long long at = 0;
};

// How the search is opened, and what it and each find next after it find
// (none: the not-found box, the cursor left where it was).
TEST_F(SearchCommands, FirstSearchAndFindNextGoOnFromTheMatch) {
  enum Launch { kF7, kShiftF7, kMenu };
  struct Case {
    const char* name;
    Spot from;
    Launch launch;
    int last_direction;
    std::vector<int> dialog_keys;  // after the text
    const char* text;
    std::vector<std::optional<Spot>> found;
  };
  const Case cases[] = {
      {"the menu's last direction All starts at the top; find next goes on from the match",
       {3, 0}, kMenu, 2, {kEnter}, "Paris", {Spot{0, 1}, Spot{3, 1}, std::nullopt}},
      {"F7 searches down from the cursor whatever the last direction", {3, 0}, kF7, 2, {kEnter}, "Paris",
       {Spot{3, 1}, std::nullopt}},
      {"Shift+F7 searches up", {4, 0}, kShiftF7, 0, {kEnter}, "Smith", {Spot{1, 0}, Spot{0, 0}, std::nullopt}},
      {"by field: the column chosen in the list, then the next record", {0, 0}, kF7, 0,
       {kTab, ' ', kTab, ' ', kDown, kEnter, kEnter}, "o", {Spot{1, 1}, Spot{2, 1}, Spot{4, 1}, std::nullopt}},
      {"after a match in the next-to-last column the last is looked at", {2, 0}, kF7, 0, {kEnter}, "e",
       {Spot{2, 1}, Spot{2, 2}, Spot{3, 2}}},
      {"not found", {2, 1}, kF7, 0, {kEnter}, "Nowhere", {std::nullopt}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Table& table = open_people();
    go_to(table, c.from);
    g_settings.search.direction = c.last_direction;
    type(c.text);
    press(c.dialog_keys);
    if (c.launch == kMenu) run_menu_command(Cmd::Search);
    if (c.launch == kF7) run_command(Cmd::Search);
    if (c.launch == kShiftF7) run_command(Cmd::SearchOn);
    Spot expected = c.from;
    for (size_t k = 0; k < c.found.size(); ++k) {
      SCOPED_TRACE(k);
      if (k > 0) {
        g_boxes.clear();
        run_command(Cmd::FindNext);
      }
      if (c.found[k]) {
        expected = *c.found[k];
      } else {
        EXPECT_TRUE(last_box_says("String"));
        EXPECT_TRUE(last_box_says(std::string("\"") + c.text + "\""));
        EXPECT_TRUE(last_box_says("not found..."));
      }
      EXPECT_TRUE(at_spot(table, expected)) << view_of(table).current_record << "," << view_of(table).current_column;
    }
    TearDown();
  }
}

TEST_F(SearchCommands, ALongSearchCentresTheMatchAndEscLeavesTheCursor) {
  std::vector<test::FieldSpec> fields;
  for (const char* name : {"A", "B", "C", "D", "E", "F", "G", "H"}) fields.push_back({name, 'C', 15});
  std::vector<std::string> records(3000, std::string(120, '.'));
  records.back().replace(105, 6, "needle");
  Table& table = open(fields, records);
  go_to(table, {5, 0});

  type("needle");
  press({kEnter});
  backend->push_key(kEsc, at + 1);  // during the walk
  EXPECT_EQ(run_search_dialog(table, 0), 0);
  EXPECT_TRUE(at_spot(table, {5, 0}));
  EXPECT_FALSE(last_box_says("not found"));

  // Without Esc the same walk reaches the last record and its last column.
  press({kEnter});
  EXPECT_EQ(run_search_dialog(table, 0), 1);
  EXPECT_TRUE(at_spot(table, {2999, 7}));
  EXPECT_EQ(view_of(table).top_record, 2999 - browse_rows() / 2);
  std::vector<ColumnSpan> shown = shown_columns(table);
  EXPECT_GT(view_of(table).first_column, 0);
  EXPECT_EQ(shown.back().column, 7);
}

TEST_F(SearchCommands, ReplaceStoresWholeValuesAndKeepsThoseThatDoNotFit) {
  Table& table = open_people();
  g_settings_file = dir.file("kora.ini");
  table.ignore_case = true;
  replace("SMITH", "X", kAllThenOk);
  EXPECT_EQ(name_on_disk(0), "Xson      ");
  EXPECT_EQ(name_on_disk(1), "X         ");
  EXPECT_EQ(name_on_disk(5), "JohnX     ");
  std::vector<uint8_t> bytes = test::read_bytes(g_settings_file);
  std::string ini(bytes.begin(), bytes.end());
  EXPECT_NE(ini.find("SExpression=SMITH"), std::string::npos);
  EXPECT_NE(ini.find("RExpression=X"), std::string::npos);

  // Too long for the field: the old values stay, and the end says how many.
  go_to(table, {0, 0});
  replace("x", "LongerThanTen", kAllThenOk);
  EXPECT_EQ(name_on_disk(0), "Xson      ");
  EXPECT_EQ(name_on_disk(5), "JohnX     ");
  EXPECT_TRUE(last_box_says("Replacements that did not fit: 3"));

  // The memo column is searched but never replaced.
  go_to(table, {0, 0});
  type("memo");
  press({kEnter});
  run_command(Cmd::Search);
  EXPECT_TRUE(at_spot(table, {0, 2}));
  replace("memo", "X", {kEnter});
  EXPECT_TRUE(last_box_says("not found..."));
  EXPECT_EQ(bytes_on_disk(0, 21, 10), "         1");
}

TEST_F(SearchCommands, ReplacingTwiceInOneCellTakesTwoPasses) {
  Table& table = open_people();
  // Yes to each question: Anna, Lyon and JohnSmith, then Anna alone.
  go_to(table, {3, 0});
  replace("n", "N", {kEnter, kEnter, kEnter, kEnter});
  EXPECT_EQ(name_on_disk(3), "ANna      ");
  EXPECT_EQ(bytes_on_disk(4, 11, 10), "LyoN      ");
  EXPECT_EQ(name_on_disk(5), "JohNSmith ");
  go_to(table, {3, 0});
  replace("n", "N", {kEnter, kEnter});
  EXPECT_EQ(name_on_disk(3), "ANNa      ");
  EXPECT_TRUE(last_box_says("not found..."));
}

TEST_F(SearchCommands, ReplaceIsRefusedOnAReadOnlyTableAndStopsAtAFailedWrite) {
  Table& table = open_people();
  g_settings.read_only = 1;
  run_command(Cmd::Replace);
  g_settings.read_only = 0;
  table.read_only = true;
  run_command(Cmd::Replace);
  EXPECT_TRUE(g_boxes.empty());  // no dialog either time
  table.read_only = false;

  // A write that fails ends the run with an error; nothing more is asked.
  int read_only = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(read_only, 0);
  ASSERT_GE(dup2(read_only, table.fd), 0);
  ::close(read_only);
  replace("Smith", "X", {kEnter});
  EXPECT_TRUE(last_box_says("Cannot write record"));
  EXPECT_EQ(name_on_disk(0), "Smithson  ");
}

}  // namespace
}  // namespace kora
