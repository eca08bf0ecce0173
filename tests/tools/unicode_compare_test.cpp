// Tables in code pages other than 866 and 1251 compare text as Unicode:
// ignoring case folds the letters of every script (never the trail byte of
// a double-byte character), a search matches only on a character, and
// conditions and sorts order by code point, in memory and through runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/independent_readers.h"
#include "../support/test_support.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "tools/condition.h"
#include "tools/search.h"
#include "tools/sort.h"

namespace kora {
namespace {

using namespace kora::test;

struct PageCase {
  const char* page;
  std::vector<std::string> words;  // UTF-8, one a record
  std::string needle;              // UTF-8, as typed
  std::vector<uint32_t> folded_matches;  // records it matches ignoring case
  std::vector<uint32_t> folded_order;    // the ascending sort ignoring case
};

const PageCase kCases[] = {
    {"1252", {"été", "Zoo", "Été", "Ž"}, "ÉTÉ", {0, 2}, {1, 0, 2, 3}},
    {"1250", {"čaj", "Čaj", "Ďas", "cuk"}, "ČAJ", {0, 1}, {3, 0, 1, 2}},
    {"1253", {"σας", "ΣΑΣ", "άλφα", "zeta"}, "ΣΑΣ", {0, 1}, {3, 2, 0, 1}},
    {"KOI8-R", {"яблоко", "ЯБЛОКО", "арбуз", "Юла"}, "ЯБЛОКО", {0, 1}, {2, 3, 0, 1}},
    {"UTF-8", {"äpfel", "ÄPFEL", "яма", "ЯМА", "zebra"}, "ÄPFEL", {0, 1}, {4, 0, 1, 2, 3}},
    {"UTF-8", {"äpfel", "ÄPFEL", "яма", "ЯМА", "zebra"}, "ЯМА", {2, 3}, {4, 0, 1, 2, 3}},
    // Full-width letters fold; ア and ヂ end in the bytes of "A" and "a".
    {"Shift-JIS", {"ａｂｃ", "ＡＢＣ", "ア", "ヂ", "A"}, "ＡＢＣ", {0, 1}, {4, 2, 3, 0, 1}},
    {"Shift-JIS", {"ａｂｃ", "ＡＢＣ", "ア", "ヂ", "A"}, "A", {4}, {4, 2, 3, 0, 1}},
    {"Shift-JIS", {"ａｂｃ", "ＡＢＣ", "ア", "ヂ", "A"}, "ヂ", {3}, {4, 2, 3, 0, 1}},
};

std::string in_page(const CodePage& page, const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(page.from_utf8(utf8, out)) << utf8;
  return out;
}

// Every record the search finds, walking down from the top.
std::vector<uint32_t> searched(const Table& table, const std::string& text) {
  SearchRequest request;
  request.text = text;
  std::vector<uint32_t> found;
  std::optional<SearchSpot> start = first_search_start(table, request, 0);
  while (start) {
    std::optional<SearchSpot> match;
    EXPECT_EQ(search_table(table, request, *start, nullptr, match), Status::kOk);
    if (!match) break;
    found.push_back(match->position);
    start = next_search_start(table, request, *match);
  }
  return found;
}

std::vector<uint32_t> passing(Table& table, const std::string& condition) {
  CompiledCondition compiled = compile_condition(table, condition, {});
  std::vector<uint32_t> out;
  for (uint32_t q = 0; q < table.record_count; ++q) {
    EXPECT_EQ(read_record(table, q), 1);
    if (condition_passes(compiled, table, RecordImage(table.record.data(), table.record_size))) out.push_back(q);
  }
  return out;
}

std::vector<uint32_t> sorted_records(const Table& table, size_t budget) {
  SortOptions options;
  options.memory_budget = budget;
  std::vector<uint32_t> order;
  EXPECT_EQ(sort_view_positions(table, {0}, options, nullptr, order), Status::kOk);
  return order;
}

TEST(UnicodeComparison, SearchConditionAndSortFollowEachPage) {
  for (const PageCase& c : kCases) {
    SCOPED_TRACE(std::string(c.page) + " " + c.needle);
    auto page = CodePage::find(c.page);
    ASSERT_TRUE(page);
    TempDir dir;
    DbfLayout layout;
    layout.fields = {{"NAME", 'C', 16}};
    for (const std::string& word : c.words) layout.records.push_back(in_page(*page, word));
    write_bytes(dir.file("t.dbf"), build_dbf(layout));
    auto table = open_table(dir.file("t.dbf"));
    ASSERT_TRUE(table);
    set_code_page(*table, page);
    const std::string needle = in_page(*page, c.needle);

    // Told apart by case, the UTF-8 texts themselves are the answers: a
    // substring of UTF-8 is always whole characters, and its bytes order
    // as its code points do.
    std::vector<uint32_t> holding, starting, greater, led, by_code_point(c.words.size());
    const uint8_t lead = uint8_t(c.needle[0]);
    const std::string first_letter = c.needle.substr(0, lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4);
    for (uint32_t q = 0; q < c.words.size(); ++q) {
      const std::string& w = c.words[q];
      if (w.starts_with(first_letter)) led.push_back(q);
      if (w.find(c.needle) != std::string::npos) holding.push_back(q);
      if (w.starts_with(c.needle)) starting.push_back(q);
      if (w.compare(0, c.needle.size(), c.needle) > 0) greater.push_back(q);
    }
    std::iota(by_code_point.begin(), by_code_point.end(), 0);
    std::stable_sort(by_code_point.begin(), by_code_point.end(),
                     [&](uint32_t a, uint32_t b) { return c.words[a] < c.words[b]; });

    for (bool ignore_case : {false, true}) {
      SCOPED_TRACE(ignore_case ? "ignoring case" : "by case");
      table->ignore_case = ignore_case;
      EXPECT_EQ(searched(*table, needle), ignore_case ? c.folded_matches : holding);
      EXPECT_EQ(passing(*table, "NAME='" + needle + "'"), ignore_case ? c.folded_matches : starting);
      if (!ignore_case) {
        EXPECT_EQ(passing(*table, "NAME>'" + needle + "'"), greater);
        // LEFT counts characters, of however many bytes.
        EXPECT_EQ(passing(*table, "LEFT(NAME,1)=='" + in_page(*page, first_letter) + "'"), led);
      }
      const std::vector<uint32_t>& order = ignore_case ? c.folded_order : by_code_point;
      EXPECT_EQ(sorted_records(*table, kDefaultSortBudget), order);
      // A key or two a run: the runs merged from the temporary file agree.
      EXPECT_EQ(sorted_records(*table, 1), order);
    }

    // A replacement rewrites the matched characters and nothing around them.
    uint32_t first = c.folded_matches[0];
    EXPECT_EQ(replace_in_cell(*table, {first, 0}, TextMatcher(*table, needle), "<>"), ReplaceOutcome::kReplaced);
    ASSERT_EQ(read_record(*table, first), 1);
    std::string now = page->to_utf8(field_text(*table, RecordImage(table->record.data(), table->record_size), 0));
    now.erase(now.find_last_not_of(' ') + 1);
    EXPECT_EQ(now, "<>" + c.words[first].substr(std::min(c.words[first].size(), c.needle.size())));
  }
}

// A real Greek table (code page 1253, named by a .cpg beside a copy) sorts
// as Python orders its decoded values, and a condition typed in small
// letters with a final sigma finds the capitals when case is ignored.
TEST(UnicodeComparison, GreekFixtureSortsAsPythonAndFoldsSmallLetters) {
  TempDir dir;
  copy_file(fixture("mapshaper/dbf/periphereies.dbf"), dir.file("g.dbf"));
  write_bytes(dir.file("g.cpg"), {'1', '2', '5', '3'});
  auto table = open_table(dir.file("g.dbf"));
  ASSERT_TRUE(table);
  decide_code_page(*table, 0);
  ASSERT_TRUE(table->code_page);
  ASSERT_EQ(table->code_page->number(), 1253);
  std::string script =
      "import dbfread\n"
      "v = [r['PER'] for r in dbfread.DBF('" + dir.file("g.dbf") + "', encoding='cp1253')]\n"
      "print(' '.join(str(i) for i in sorted(range(len(v)), key=lambda i: v[i])))\n"
      "print(' '.join(str(i) for i in range(len(v)) if 'ΚΡΗΤΗΣ' in v[i].upper()))\n";
  write_bytes(dir.file("order.py"), std::vector<uint8_t>(script.begin(), script.end()));
  std::string printed;
  ASSERT_EQ(run_command("/usr/bin/python3 " + dir.file("order.py"), printed), 0) << printed;
  std::vector<std::string> lines = lines_of(printed);
  ASSERT_EQ(lines.size(), 2u);

  auto joined = [](const std::vector<uint32_t>& records) {
    std::string out;
    for (uint32_t r : records) {
      if (!out.empty()) out += ' ';
      out += std::to_string(r);
    }
    return out;
  };
  EXPECT_EQ(joined(sorted_records(*table, kDefaultSortBudget)), lines[0]);
  table->ignore_case = true;
  EXPECT_EQ(joined(passing(*table, "PER~'" + in_page(*table->code_page, "κρητης") + "'")), lines[1]);
  EXPECT_FALSE(lines[1].empty());
}

}  // namespace
}  // namespace kora
