// The statistics box and the frequency list driven by keys on the headless
// screen: the counts shown, the order toggle, Enter filtering to the count
// Python's Counter finds, marked values, hidden deleted records, a block of
// two columns and the list written as CSV.
#include "app/column_stats_view.h"

#include <fstream>
#include <map>
#include <sstream>

#include "app/filter_commands.h"
#include "tool_harness.h"
#include "tools/filter.h"

namespace kora {
namespace {

constexpr int kCtrlS = 0x1F13, kIns = 0x5200, kDown = 0x5000, kCtrlEnter = 0x1C0A, kCtrlF9 = 0x6600,
              kEsc = 0x011B, kCtrlY = 0x1519, kEnter = 0x1C0D;

// CITY C10, KIND C1: Rome 7, Oslo 5, O'Hare 4, blank 3, Lyon 2, Riga 1;
// every third record deleted.
test::DbfLayout cities() {
  test::DbfLayout layout;
  layout.fields = {{"CITY", 'C', 10}, {"KIND", 'C', 1}};
  const std::pair<const char*, int> counts[] = {{"Rome", 7}, {"Oslo", 5}, {"O'Hare", 4}, {"", 3}, {"Lyon", 2}, {"Riga", 1}};
  for (auto [city, n] : counts) {
    for (int k = 0; k < n; ++k) {
      char line[16];
      std::snprintf(line, sizeof line, "%-10s%c", city, "AB"[k % 2]);
      layout.records.push_back(line);
      layout.deleted.push_back(layout.records.size() % 3 == 0);
    }
  }
  return layout;
}

// Python's count of records per CITY (all, or the live ones only).
std::map<std::string, uint32_t> python_counts(const std::string& path, bool live) {
  std::string script =
      "import sys, struct\nfrom collections import Counter\n"
      "d = open(sys.argv[1], 'rb').read()\n"
      "n, h, s = struct.unpack('<IHH', d[4:12])\n"
      "rows = [d[h + k * s: h + (k + 1) * s] for k in range(n)]\n"
      "c = Counter(r[1:11].decode().rstrip() for r in rows if not (sys.argv[2] == 'live' and r[0:1] == b'*'))\n"
      "for k, v in c.items(): print('%s=%d' % (k, v))\n";
  test::TempDir dir;
  { std::ofstream(dir.file("count.py")) << script; }
  std::string out;
  EXPECT_EQ(test::run_command("/usr/bin/python3 " + dir.file("count.py") + " " + path + (live ? " live" : " all"), out), 0);
  std::map<std::string, uint32_t> counts;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    counts[line.substr(0, line.rfind('='))] = uint32_t(std::stoul(line.substr(line.rfind('=') + 1)));
  }
  return counts;
}

// Every picture with its runs of blanks made one.
bool shown_squeezed(const std::string& text) {
  for (const std::string& picture : test::g_pictures) {
    std::string squeezed;
    for (char c : picture) {
      if (c != ' ' || squeezed.empty() || squeezed.back() != ' ') squeezed += c;
    }
    if (squeezed.find(text) != std::string::npos) return true;
  }
  return false;
}

class ColumnStatsViewTest : public test::ToolHarness {};

TEST_F(ColumnStatsViewTest, TheListCountsOrdersAndFiltersAsPythonCounts) {
  Table& t = open(cities());
  std::map<std::string, uint32_t> all = python_counts(path, false);
  spaced = true;

  // The box, then the list: by count, by value, by count again; Down and
  // Enter filter to the second most frequent value.
  run(Cmd::ColumnStats, {kEnter, kCtrlS, kCtrlS, kDown, kEnter});
  EXPECT_TRUE(shown("Statistics of CITY"));
  EXPECT_TRUE(shown_squeezed("Records 22"));
  EXPECT_TRUE(shown_squeezed("Distinct values 6"));
  EXPECT_TRUE(shown_squeezed("Blank 3"));
  EXPECT_TRUE(shown_squeezed("First Lyon"));
  EXPECT_TRUE(shown("Frequencies of CITY: 6 values, by count"));
  EXPECT_TRUE(shown("Frequencies of CITY: 6 values, by value"));
  EXPECT_TRUE(shown_squeezed("Rome " + std::to_string(all["Rome"]) + " 31.82 \xDB\xDB\xDB\xDB\xDB\xDB"));
  EXPECT_TRUE(shown_squeezed("(blank) 3 13.64 \xDB\xDB"));
  EXPECT_EQ(visible_count(t), all["Oslo"]);
  EXPECT_EQ(t.view.filter_expr.substr(0, 12), "CITY==\"Oslo ");

  // Ins marks a value with a quote and the blank one; Enter filters to both.
  clear_filter(t);
  run(Cmd::ValueFrequencies, {kDown, kDown, kIns, kIns, kEnter});
  EXPECT_EQ(visible_count(t), all["O'Hare"] + all[""]);

  // With deleted records hidden, the list counts the live ones; Ctrl+Enter
  // adds the first value to the filter standing.
  clear_filter(t);
  std::map<std::string, uint32_t> live = python_counts(path, true);
  run(Cmd::HideDeleted);
  test::g_pictures.clear();
  run(Cmd::ValueFrequencies, {kCtrlEnter});
  EXPECT_EQ(visible_count(t), live["Rome"]);
  EXPECT_TRUE(shown_squeezed("Rome " + std::to_string(live["Rome"]) + " "));
}

TEST_F(ColumnStatsViewTest, ABlockCountsCombinationsAndTheListIsWrittenAsCsv) {
  open(cities());
  spaced = true;
  g_screen.unicode = false;  // bars of '#'
  std::string csv = dir.file("out.csv");
  run(Cmd::BlockMark);
  run(Cmd::Right);
  // Ctrl+F9, Ctrl+Y empties the name box, the name, then Esc leaves the list.
  std::vector<int> keys = {kCtrlF9, kCtrlY};
  for (int key : text(csv, {kEnter, kEsc})) keys.push_back(key);
  run(Cmd::ValueFrequencies, keys);
  EXPECT_TRUE(shown("Frequencies of CITY+KIND: 11 values, by count"));
  EXPECT_TRUE(shown_squeezed("Rome | A 4 18.18 ##################"));
  EXPECT_TRUE(shown_squeezed("Riga | A 1 4.55 ##### "));
  std::vector<uint8_t> bytes = test::read_bytes(csv);
  std::string written(bytes.begin(), bytes.end());
  EXPECT_EQ(written.substr(0, 41), "CITY,KIND,COUNT,PERCENT\r\nRome,A,4,18.18\r\n");
  EXPECT_NE(written.find("\r\n,A,2,9.09\r\n"), std::string::npos) << written;
  EXPECT_NE(written.find("\r\nRiga,A,1,4.55\r\n"), std::string::npos) << written;
}

}  // namespace
}  // namespace kora
