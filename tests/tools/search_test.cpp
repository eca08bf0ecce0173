// Searching the view cell by cell, down, up (the scanner reading backwards)
// and by one column, with the case folded; and replacing in one cell, where
// a value that does not fit keeps the old one and a field holding a
// reference is left alone.
#include "tools/search.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/dbf_builder.h"
#include "support/test_support.h"
#include "table/memo_file.h"

namespace kora {
namespace {

using test::TempDir;

// NAME C(10), CITY C(8), QTY N(4), NOTES M(10); NOTES of record 3 points
// to a block ("Full memo").
std::unique_ptr<Table> open_people(const TempDir& dir) {
  test::DbfLayout layout;
  layout.version = 0x83;
  layout.fields = {{"NAME", 'C', 10}, {"CITY", 'C', 8}, {"QTY", 'N', 4}, {"NOTES", 'M', 10}};
  layout.records = {
      "ann       Paris     12          ",  // 0
      "BOB       Oslo      34          ",  // 1
      "Smithson  Annecy    56          ",  // 2
      "Carl      Rome      78         7",  // 3
      "Anna      Paris    112          ",  // 4
      "DORA      Lyon     340          ",  // 5
  };
  test::write_bytes(dir.file("people.dbf"), test::build_dbf(layout));
  create_memo_file(dir.file("people.dbf"), kDBase3, 512);  // without one a memo cell says so
  return open_table(dir.file("people.dbf"));
}

TEST(SearchWalk, FindsTheFirstCellInTheDirectionFromTheStart) {
  TempDir dir;
  std::unique_ptr<Table> table = open_people(dir);
  ASSERT_TRUE(table);
  struct Case {
    const char *name, *text;
    SearchDirection direction;
    int by_column;
    bool ignore_case;
    SearchSpot start;
    std::optional<SearchSpot> expected;
    bool writable_only = false;
  };
  using D = SearchDirection;
  const Case cases[] = {
      {"down from the start cell", "Paris", D::kDown, -1, false, {1, 0}, SearchSpot{4, 1}},
      {"down takes the start record from its column", "Paris", D::kDown, -1, false, {0, 1}, SearchSpot{0, 1}},
      {"a column before the start is passed over", "ann", D::kDown, -1, false, {0, 1}, std::nullopt},
      {"up finds the nearest match above", "Paris", D::kUp, -1, false, {5, 0}, SearchSpot{4, 1}},
      {"up walks back to the first record", "Paris", D::kUp, -1, false, {3, 0}, SearchSpot{0, 1}},
      {"up never looks below the start", "Lyon", D::kUp, -1, false, {4, 0}, std::nullopt},
      {"case counts unless folded", "ANN", D::kDown, -1, false, {0, 0}, std::nullopt},
      {"folded case", "bob", D::kDown, -1, true, {0, 0}, SearchSpot{1, 0}},
      {"by field looks at one column", "Ann", D::kDown, 1, false, {0, 1}, SearchSpot{2, 1}},
      {"numbers by their display text", "34", D::kDown, -1, false, {2, 0}, SearchSpot{5, 2}},
      {"memo cells by their display text", "Full", D::kDown, -1, false, {0, 0}, SearchSpot{3, 3}},
      {"memo cells are no place to replace", "Full", D::kDown, -1, false, {0, 0}, std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    table->ignore_case = c.ignore_case;
    SearchRequest request{c.text, c.direction, c.by_column, c.writable_only};
    std::optional<SearchSpot> match;
    EXPECT_EQ(search_table(*table, request, c.start, {}, match), Status::kOk);
    EXPECT_EQ(match, c.expected);
  }
}

TEST(SearchWalk, ProgressCountsTheRecordsVisitedAndCanStopTheWalk) {
  TempDir dir;
  std::unique_ptr<Table> table = open_people(dir);
  ASSERT_TRUE(table);
  std::optional<SearchSpot> match;
  for (SearchDirection direction : {SearchDirection::kDown, SearchDirection::kUp}) {
    uint64_t last_done = 0, last_total = 0;
    auto progress = [&](uint64_t done, uint64_t total) { return last_done = done, last_total = total, true; };
    EXPECT_EQ(search_table(*table, {"nowhere", direction}, {2, 0}, progress, match), Status::kOk);
    uint64_t visits = direction == SearchDirection::kUp ? 3 : 4;  // from row 2 of 6
    EXPECT_EQ(last_total * 10 + last_done, visits * 11);
  }
  // Stopped before it reached the match: no match, kAborted.
  auto stop = [](uint64_t, uint64_t) { return false; };
  EXPECT_EQ(search_table(*table, {"Lyon", SearchDirection::kDown}, {0, 0}, stop, match), Status::kAborted);
  EXPECT_FALSE(match);
}

TEST(SearchWalk, AnAnsiTableIsSearchedInScreenTextAndFoldedByItsOwnLetters) {
  TempDir dir;
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 6}};
  layout.records = {"\xE0\xE1\xE2"};  // small a, b, v of Windows-1251
  test::write_bytes(dir.file("ansi.dbf"), test::build_dbf(layout));
  std::unique_ptr<Table> table = open_table(dir.file("ansi.dbf"));
  ASSERT_TRUE(table);
  table->ansi_text = true;
  std::optional<SearchSpot> match;
  for (bool fold : {false, true}) {
    table->ignore_case = fold;
    // Capital A, B of code page 866 as the user types them.
    EXPECT_EQ(search_table(*table, {"\x80\x81"}, {0, 0}, {}, match), Status::kOk);
    EXPECT_EQ(match.has_value(), fold);
  }
}

// Replacing the first occurrence in one cell, then checking the file.
TEST(ReplaceInCell, StoresTheWholeNewValueOrKeepsTheOldOne) {
  struct Case {
    const char* name;
    SearchSpot spot;
    const char *find, *with;
    ReplaceOutcome outcome;
    const char* stored;  // the field's bytes in the file afterwards
    bool column_read_only = false;  // set up so by the user
  };
  using R = ReplaceOutcome;
  const Case cases[] = {
      {"a shorter text leaves no old tail", {2, 0}, "Smith", "X", R::kReplaced, "Xson      "},
      {"only the first occurrence", {4, 1}, "a", "A", R::kReplaced, "PAris   "},
      {"the new text exactly fills the field", {1, 1}, "Oslo", "Stockhol", R::kReplaced, "Stockhol"},
      {"too long: the old value stays", {1, 1}, "Oslo", "Stockholm", R::kDidNotFit, "Oslo    "},
      {"a number stays a number", {5, 2}, "34", "9", R::kReplaced, "  90"},
      {"letters in a number do not fit", {5, 2}, "34", "AB", R::kDidNotFit, " 340"},
      {"a number too wide does not fit", {5, 2}, "3", "123", R::kDidNotFit, " 340"},
      {"a memo pointer is left alone", {3, 3}, "Full", "Empty", R::kSkipped, "         7"},
      {"a column set up read-only is left alone", {1, 1}, "Oslo", "Rome", R::kSkipped, "Oslo    ", true},
      {"the cell no longer holds the text", {0, 0}, "zzz", "y", R::kNoMatch, "ann       "},
  };
  const int offsets[] = {1, 11, 19, 23}, lengths[] = {10, 8, 4, 10};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::unique_ptr<Table> table = open_people(dir);
    ASSERT_TRUE(table);
    table->columns.flags[size_t(column_field(*table, c.spot.column))].read_only = c.column_read_only;
    EXPECT_EQ(replace_in_cell(*table, c.spot, TextMatcher(*table, c.find), c.with), c.outcome);
    std::vector<uint8_t> file = test::read_bytes(table->file_name);
    size_t at = table->header_size + size_t(c.spot.position) * table->record_size + size_t(offsets[c.spot.column]);
    EXPECT_EQ(std::string(file.begin() + long(at), file.begin() + long(at) + lengths[c.spot.column]), c.stored);
  }
}

}  // namespace
}  // namespace kora
