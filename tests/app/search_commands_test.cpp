// Search, find next and replace as the user drives them: the dialogs are
// answered by scripted keys, then the cursor, the boxes and the file's bytes.
#include "app/search_commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <optional>

#include "tool_harness.h"

namespace kora {
namespace {

constexpr int kEnter = 0x1C0D, kTab = 0x0F09, kDown = 0x5000, kRight = 0x4D00;
const std::vector<int> kAllThenOk = {kRight, kRight, kEnter, kEnter};

struct Spot {
  long row;
  int column;
};

class SearchCommands : public test::ToolHarness {
 protected:
  SearchCommands() { spaced = true; }
  // NAME C(10) at byte 1, CITY C(10) at 11, NOTES M(10) at 21.
  Table& open_people() {
    test::DbfLayout layout;
    layout.version = 0x83;
    layout.fields = {{"NAME", 'C', 10}, {"CITY", 'C', 10}, {"NOTES", 'M', 10}};
    layout.records = {"Smithson  Paris              1", "Smith     Oslo                ",
                      "Bob       Rome                ", "Anna      Paris               ",
                      "Carl      Lyon                ", "JohnSmith Madrid              "};
    Table& table = open(layout);
    table.ignore_case = false;
    return table;
  }
  void go_to(const Table& table, Spot spot) {
    view_of(table).current_record = spot.row;
    view_of(table).current_column = spot.column;
  }
  static std::string at(Spot s) { return std::to_string(s.row).append(",").append(std::to_string(s.column)); }
  static std::string at(const Table& t) { return at({view_of(t).current_record, view_of(t).current_column}); }
  // The Replace dialog filled in and confirmed, then the answers.
  void replace(const std::string& find, const std::string& with, std::vector<int> answers) {
    std::vector<int> keys = text(find, {kDown});
    for (int k : text(with, {kEnter})) keys.push_back(k);
    keys.insert(keys.end(), answers.begin(), answers.end());
    test::g_pictures.clear();
    run(Cmd::Replace, keys);
  }
};

// How the search is opened, and where it and each find next after it land
// (none: the not-found box, the cursor left where it was).
TEST_F(SearchCommands, FirstSearchAndFindNextGoOnFromTheMatch) {
  enum Launch { kF7, kShiftF7, kMenu };
  struct Case {
    Spot from;
    Launch launch;
    int last_direction;
    std::vector<int> dialog_keys;  // after the text
    const char* text;
    std::vector<std::optional<Spot>> found;
  } cases[] = {
      // The menu's last direction All starts at the top; find next goes on from the match.
      {{3, 0}, kMenu, 2, {kEnter}, "Paris", {Spot{0, 1}, Spot{3, 1}, std::nullopt}},
      {{3, 0}, kF7, 2, {kEnter}, "Paris", {Spot{3, 1}, std::nullopt}},  // F7 searches down whatever the last
      {{4, 0}, kShiftF7, 0, {kEnter}, "Smith", {Spot{1, 0}, Spot{0, 0}, std::nullopt}},  // up
      // By field: the column chosen in the list, then the next record.
      {{0, 0}, kF7, 0, {kTab, ' ', kTab, ' ', kDown, kEnter, kEnter}, "o", {Spot{1, 1}, Spot{2, 1}, Spot{4, 1}, std::nullopt}},
      // After a match in the next-to-last column the last is looked at.
      {{2, 0}, kF7, 0, {kEnter}, "e", {Spot{2, 1}, Spot{2, 2}, Spot{3, 2}}},
      {{2, 1}, kF7, 0, {kEnter}, "Nowhere", {std::nullopt}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    reset_app_state();
    Table& table = open_people();
    go_to(table, c.from);
    g_settings.search.direction = c.last_direction;
    Spot expected = c.from;
    for (size_t k = 0; k < c.found.size(); ++k) {
      test::g_pictures.clear();
      if (k > 0) run(Cmd::FindNext);
      if (k == 0 && c.launch == kMenu) run([] { run_menu_command(Cmd::Search); }, text(c.text, c.dialog_keys));
      if (k == 0 && c.launch != kMenu) run(c.launch == kF7 ? Cmd::Search : Cmd::SearchOn, text(c.text, c.dialog_keys));
      if (c.found[k]) expected = *c.found[k];
      EXPECT_EQ(shown("String") && shown(std::string("\"").append(c.text).append("\"")) && shown("not found..."),
                !c.found[k])
          << k;
      EXPECT_EQ(at(table), at(expected)) << k;
    }
  }
}

TEST_F(SearchCommands, ALongSearchCentresTheMatchAndEscLeavesTheCursor) {
  test::DbfLayout layout;
  for (const char* name : {"A", "B", "C", "D", "E", "F", "G", "H"}) layout.fields.push_back({name, 'C', 15});
  layout.records.assign(3000, std::string(120, '.'));
  layout.records.back().replace(105, 6, "needle");
  Table& table = open(layout);
  go_to(table, {5, 0});
  push(text("needle", {kEnter}), {kKeyEsc});  // Esc during the walk
  EXPECT_EQ(run_search_dialog(table, 0), 0);
  EXPECT_EQ(at(table), "5,0");
  EXPECT_FALSE(shown("not found"));
  // Without Esc the same walk reaches the last record and its last column.
  push({kEnter});
  EXPECT_EQ(run_search_dialog(table, 0), 1);
  EXPECT_EQ(at(table), "2999,7");
  EXPECT_EQ(view_of(table).top_record, 2999 - browse_rows() / 2);
  EXPECT_GT(view_of(table).first_column, 0);
  EXPECT_EQ(shown_columns(table).back().column, 7);
}

TEST_F(SearchCommands, ReplaceStoresWholeValuesAndKeepsThoseThatDoNotFit) {
  Table& table = open_people();
  g_settings_file = dir.file("kora.ini");
  table.ignore_case = true;
  replace("SMITH", "X", kAllThenOk);
  EXPECT_EQ(cell(0, 1, 10) + cell(1, 1, 10) + cell(5, 1, 10), "Xson      X         JohnX     ");
  EXPECT_NE(ini().find("SExpression=SMITH"), std::string::npos);
  EXPECT_NE(ini().find("RExpression=X"), std::string::npos);
  // Too long for the field: the old values stay, and the end says how many.
  go_to(table, {0, 0});
  replace("x", "LongerThanTen", kAllThenOk);
  EXPECT_EQ(cell(0, 1, 10) + cell(5, 1, 10), "Xson      JohnX     ");
  EXPECT_TRUE(shown("Replacements that did not fit: 3"));
  // The memo column is searched but never replaced.
  go_to(table, {0, 0});
  run(Cmd::Search, text("memo", {kEnter}));
  EXPECT_EQ(at(table), "0,2");
  replace("memo", "X", {kEnter});
  EXPECT_TRUE(shown("not found..."));
  EXPECT_EQ(cell(0, 21, 10), "         1");
  // Yes to each question: Anna, Lyon and JohnSmith, then Anna again on a second pass.
  table.ignore_case = false;
  go_to(table, {3, 0});
  replace("n", "N", {kEnter, kEnter, kEnter, kEnter});
  EXPECT_EQ(cell(3, 1, 10) + cell(4, 11, 10) + cell(5, 1, 10), "ANna      LyoN      JohNX     ");
  go_to(table, {3, 0});
  replace("n", "N", {kEnter, kEnter});
  EXPECT_EQ(cell(3, 1, 10), "ANNa      ");
  EXPECT_TRUE(shown("not found..."));
}

// In a table of another code page the texts to find and to put are typed
// in any characters: asked about in them, stored in the table's page, and
// remembered in UTF-8 where code page 866 cannot hold them.
TEST_F(SearchCommands, ReplaceInABig5TableTakesTextTypedInUnicode) {
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 8}};
  layout.records = {"\xB0\xEA\xBB\x79", "\xA4\xA4\xA4\xE5"};  // 國語, 中文
  test::write_bytes(dir.file("t.cpg"), std::vector<uint8_t>{'B', 'I', 'G', '5'});
  open(layout);
  g_settings_file = dir.file("kora.ini");
  long long at = backend->now_ms();
  backend->push_bytes("\u570b\u8a9e", at += 50);
  backend->push_key(kDown, at += 50);
  backend->push_bytes("\u4e2d\u6587", at += 50);
  backend->push_key(kEnter, at += 50);
  backend->push_key(kEnter, at += 50);  // Yes
  std::string asked;
  backend->on_wait = [&] { asked += screen_row_utf8(11) + screen_row_utf8(13); };
  run(Cmd::Replace);
  backend->on_wait = nullptr;
  EXPECT_NE(asked.find("\"\u570b\u8a9e\""), std::string::npos) << asked;
  EXPECT_NE(asked.find("\"\u4e2d\u6587\""), std::string::npos) << asked;
  EXPECT_EQ(cell(0, 1, 8), "\xA4\xA4\xA4\xE5    ");
  EXPECT_NE(ini().find("SExpression=\xEF\xBB\xBF\u570b\u8a9e"), std::string::npos) << ini();
}

TEST_F(SearchCommands, ReplaceIsRefusedOnAReadOnlyTableAndStopsAtAFailedWrite) {
  Table& table = open_people();
  g_settings.read_only = 1;
  run(Cmd::Replace);
  g_settings.read_only = 0;
  table.read_only = true;
  run(Cmd::Replace);
  EXPECT_TRUE(test::g_pictures.empty());  // no dialog either time
  table.read_only = false;
  // A write that fails ends the run with an error; nothing more is asked.
  int read_only = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(read_only, 0);
  ASSERT_GE(dup2(read_only, table.fd), 0);
  ::close(read_only);
  replace("Smith", "X", {kEnter});
  EXPECT_TRUE(shown("Cannot write record"));
  EXPECT_EQ(cell(0, 1, 10), "Smithson  ");
}

}  // namespace
}  // namespace kora
