// Column statistics and value counts over a generated table, each compared
// with what Python's collections.Counter, decimal and statistics find in the
// same file read by a script of its own: every record, hidden deleted
// records, a filter, a selection, a combination of columns, and a limit of
// distinct values that cuts the list.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "tools/column_stats.h"
#include "tools/filter.h"

namespace kora {
namespace {

using namespace kora::test;

// NAME C8, CITY C10, AMOUNT N10.2, BORN D8, ACTIVE L1, with blanks in each,
// impossible dates, a value with quotes and about one record in eight deleted.
DbfLayout generated_table(int records) {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 8}, {"CITY", 'C', 10}, {"AMOUNT", 'N', 10, 2}, {"BORN", 'D', 8}, {"ACTIVE", 'L', 1}};
  const char* cities[] = {"Rome", "Oslo", "Paris", "", "Lyon", "O'Hare", "Riga"};
  const char* born[] = {"19991231", "20000229", "20010229", "        ", "18500101", "20231301"};
  std::mt19937 random(7);
  auto pick = [&](int n) { return int(random() % unsigned(n)); };
  for (int k = 0; k < records; ++k) {
    char line[64];
    char name[9];
    std::snprintf(name, sizeof name, "%c%c%d", 'A' + pick(26), 'a' + pick(26), pick(40));
    char amount[16];
    if (pick(20) == 0) {
      std::snprintf(amount, sizeof amount, "%10s", "");
    } else {
      std::snprintf(amount, sizeof amount, "%10.2f", (pick(2000000) - 400000) / 100.0);
    }
    std::snprintf(line, sizeof line, "%-8s%-10s%s%s%c", pick(15) == 0 ? "" : name, cities[pick(7)], amount,
                  born[pick(6)], "TFtf? "[pick(6)]);
    layout.records.push_back(line);
    layout.deleted.push_back(pick(8) == 0);
  }
  return layout;
}

// Python's answers for the records one restriction leaves: "all", "live",
// "city=NAME", or "positions=FIRST-LAST" (0-based view positions), and the
// columns to count together given as "A+B". Lines "name value".
const char* kScript = R"(
import sys, struct, datetime, statistics
from collections import Counter
from decimal import Decimal
path, restriction, combo, limit = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
data = open(path, 'rb').read()
count, header, size = struct.unpack('<IHH', data[4:12])
fields, at, offset = [], 32, 1
while data[at] != 0x0D:
    name = data[at:at + 11].split(b'\0')[0].decode()
    fields.append((name, chr(data[at + 11]), offset, data[at + 16]))
    offset += data[at + 16]
    at += 32
rows = [data[header + k * size: header + (k + 1) * size] for k in range(count)]
if restriction == 'live':
    rows = [r for r in rows if r[0:1] != b'*']
elif restriction.startswith('city='):
    rows = [r for r in rows if r[9:19].rstrip(b' ') == restriction[5:].encode()]
elif restriction.startswith('positions='):
    a, b = map(int, restriction[10:].split('-'))
    rows = rows[a:b + 1]
value = {f[0]: (lambda r, f=f: r[f[2]:f[2] + f[3]]) for f in fields}
out = ['records %d' % len(rows)]
for name, kind, _, _ in fields:
    vals = [value[name](r) for r in rows]
    counter = Counter(vals)
    out.append('%s distinct %d' % (name, len(counter)))
    if kind == 'C':
        texts = [v.rstrip(b' ').decode('latin1') for v in vals]
        full = [t for t in texts if t]
        out += ['%s blanks %d' % (name, len(texts) - len(full)),
                '%s shortest %d' % (name, min(map(len, full))), '%s longest %d' % (name, max(map(len, full))),
                '%s first %s' % (name, min(full)), '%s last %s' % (name, max(full))]
    elif kind == 'N':
        nums = [Decimal(v.decode().strip()) for v in vals if v.strip()]
        floats = [float(n) for n in nums]
        out += ['%s blanks %d' % (name, len(vals) - len(nums)), '%s sum %s' % (name, sum(nums, Decimal(0))),
                '%s minimum %s' % (name, min(nums)), '%s maximum %s' % (name, max(nums)),
                '%s mean %.6f' % (name, statistics.mean(floats)), '%s deviation %.6f' % (name, statistics.stdev(floats))]
    elif kind == 'D':
        good, bad = [], 0
        for v in vals:
            if not v.strip():
                continue
            try:
                good.append(datetime.date(int(v[:4]), int(v[4:6]), int(v[6:])))
            except ValueError:
                bad += 1
        out += ['%s blanks %d' % (name, sum(1 for v in vals if not v.strip())), '%s impossible %d' % (name, bad),
                '%s earliest %s' % (name, min(good).strftime('%Y.%m.%d')),
                '%s latest %s' % (name, max(good).strftime('%Y.%m.%d'))]
    elif kind == 'L':
        out += ['%s trues %d' % (name, sum(1 for v in vals if v in (b'T', b't', b'Y', b'y'))),
                '%s falses %d' % (name, sum(1 for v in vals if v in (b'F', b'f', b'N', b'n'))),
                '%s blanks %d' % (name, sum(1 for v in vals if v not in (b'T', b't', b'Y', b'y', b'F', b'f', b'N', b'n')))]
keys = Counter(b''.join(value[n](r) for n in combo.split('+')) for r in rows)
for key, n in keys.items():
    out.append('count %s %d' % (key.hex(), n))
out.append('frequent %d' % sum(1 for n in keys.values() if n > len(rows) // limit))
print('\n'.join(out))
)";

struct PythonAnswer {
  std::map<std::string, std::string> facts;
  std::map<std::string, uint64_t> counts;  // by the key's bytes
};

std::string hex_of(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    out += two;
  }
  return out;
}

PythonAnswer python_answer(const TempDir& dir, const std::string& path, const std::string& restriction,
                           const std::string& combo, size_t limit) {
  { std::ofstream(dir.file("stats.py")) << kScript; }
  std::string quoted;
  for (char c : restriction) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  std::string out;
  EXPECT_EQ(run_command("/usr/bin/python3 '" + dir.file("stats.py") + "' '" + path + "' '" + quoted + "' " +
                            combo + " " + std::to_string(limit) + " 2>&1",
                        out),
            0)
      << out;
  PythonAnswer answer;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("count ", 0) == 0) {
      size_t space = line.rfind(' ');
      answer.counts[line.substr(6, space - 6)] = std::stoull(line.substr(space + 1));
      continue;
    }
    size_t space = line.find(' ', line.find(' ') + 1);
    if (line.rfind("records ", 0) == 0 || line.rfind("frequent ", 0) == 0) space = line.find(' ');
    answer.facts[line.substr(0, space)] = line.substr(space + 1);
  }
  return answer;
}

std::string trimmed(const std::string& text) {
  size_t last = text.find_last_not_of(' ');
  return last == std::string::npos ? "" : text.substr(text.find_first_not_of(' '), last + 1 - text.find_first_not_of(' '));
}

std::string fixed6(double x) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", x);
  return text;
}

// What kora says of a column, in the words the script uses.
std::map<std::string, std::string> kora_facts(const std::string& name, const ColumnStats& s) {
  auto n = [](uint64_t v) { return std::to_string(v); };
  std::map<std::string, std::string> f{{name + " distinct", n(s.distinct)}, {name + " blanks", n(s.blanks)}};
  switch (s.kind) {
    case ValueKind::kText:
      f.insert({{name + " shortest", n(s.shortest)}, {name + " longest", n(s.longest)},
                {name + " first", trimmed(s.first)}, {name + " last", trimmed(s.last)}});
      break;
    case ValueKind::kNumber:
      f.insert({{name + " sum", s.sum}, {name + " minimum", s.minimum}, {name + " maximum", s.maximum},
                {name + " mean", fixed6(s.mean)}, {name + " deviation", fixed6(s.deviation)}});
      break;
    case ValueKind::kDate:
      f.insert({{name + " impossible", n(s.impossible)}, {name + " earliest", s.earliest}, {name + " latest", s.latest}});
      break;
    case ValueKind::kLogical: f.insert({{name + " trues", n(s.trues)}, {name + " falses", n(s.falses)}}); break;
    case ValueKind::kMemo: break;
  }
  return f;
}

struct StatsCase {
  const char* restriction;
  const char* combo;  // the columns counted together
  size_t limit = kDefaultDistinctLimit;
};

TEST(ColumnStatsTest, StatisticsAndCountsAgreeWithPython) {
  TempDir dir;
  std::string path = dir.file("t.dbf");
  write_bytes(path, build_dbf(generated_table(3000)));
  const StatsCase cases[] = {
      {"all", "CITY"},
      {"live", "NAME"},
      {"city=Rome", "AMOUNT"},
      {"city=O'Hare", "BORN+ACTIVE"},
      {"positions=100-899", "CITY+ACTIVE"},
      {"all", "NAME", 50},
  };
  for (const StatsCase& c : cases) {
    SCOPED_TRACE(std::string(c.restriction) + " " + c.combo);
    std::unique_ptr<Table> table = open_table(path);
    ASSERT_TRUE(table);
    table->date_format = 3;
    std::string restriction = c.restriction;
    RecordList list;
    const RecordList* selection = nullptr;
    if (restriction == "live") {
      table->view.hide_deleted = true;
      ASSERT_EQ(apply_filter(*table, {FilterSource::kAllRecords, {}, false}), Status::kOk);
    } else if (restriction.rfind("city=", 0) == 0) {
      std::vector<uint8_t> record(table->record_size, ' ');
      std::string city = restriction.substr(5);
      std::copy(city.begin(), city.end(), record.begin() + 9);
      EqualityCondition equal = equality_condition(*table, RecordImage(record.data(), record.size()), 1, false);
      ASSERT_EQ(apply_filter(*table, {FilterSource::kExpression, equal.condition, false}), Status::kOk);
    } else if (restriction.rfind("positions=", 0) == 0) {
      list = parse_record_list("101-900", 3000);
      selection = &list;
    }
    PythonAnswer python = python_answer(dir, path, restriction, c.combo, c.limit);

    // Each column's statistics, with the limit out of the way.
    uint64_t records = std::stoull(python.facts["records"]);
    for (int column = 0; column < table->field_count(); ++column) {
      ValueCounts counts;
      ASSERT_EQ(count_values(*table, {column}, selection, {}, counts), Status::kOk);
      EXPECT_EQ(counts.records, records);
      for (const auto& [fact, value] : kora_facts(field_name(*table, column), counts.stats)) {
        EXPECT_EQ(value, python.facts[fact]) << fact;
      }
    }

    // The counts of the combination, the list cut at the limit.
    std::vector<int> columns;
    std::stringstream names(c.combo);
    for (std::string name; std::getline(names, name, '+');) columns.push_back(find_field(*table, name));
    ValueCounts counts;
    ASSERT_EQ(count_values(*table, columns, selection, {}, counts, c.limit), Status::kOk);
    EXPECT_EQ(counts.cut, python.counts.size() > c.limit);
    std::map<std::string, uint64_t> mine;
    for (const ValueCount& v : counts.values) mine[hex_of(v.key)] = v.count;
    if (!counts.cut) {
      EXPECT_EQ(mine, python.counts);
      continue;
    }
    // Every value found is counted exactly; every value more frequent than
    // records / limit is found, and no more values than the limit are kept.
    EXPECT_LE(mine.size(), c.limit);
    uint64_t frequent = 0;
    for (const auto& [key, n] : mine) {
      EXPECT_EQ(n, python.counts[key]) << key;
      frequent += n > records / c.limit;
    }
    EXPECT_EQ(std::to_string(frequent), python.facts["frequent"]);
    EXPECT_TRUE(counts.stats.distinct_cut);
  }
}

// The two orders of the list, and the exact decimals they rest on.
TEST(ColumnStatsTest, OrdersAndDecimals) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"A", 'N', 6, 1}, {"C", 'C', 3}};
  layout.records = {"  -1.5b", "   2.0a", "   2.0a", "      c", "  10.0b", "  -1.5a", "   2.0b"};
  std::string path = dir.file("o.dbf");
  write_bytes(path, build_dbf(layout));
  std::unique_ptr<Table> table = open_table(path);
  ASSERT_TRUE(table);
  ValueCounts counts;
  ASSERT_EQ(count_values(*table, {0}, nullptr, {}, counts), Status::kOk);
  auto shown = [&] {
    std::string out;
    for (const ValueCount& v : counts.values) out += trimmed(value_text(*table, counts, v.key, 0)) + "x" + std::to_string(v.count) + " ";
    return out;
  };
  sort_values(*table, counts, FrequencyOrder::kByCount);
  EXPECT_EQ(shown(), "2.0x3 -1.5x2 x1 10.0x1 ");
  sort_values(*table, counts, FrequencyOrder::kByValue);
  EXPECT_EQ(shown(), "x1 -1.5x2 2.0x3 10.0x1 ");
  EXPECT_EQ(counts.stats.sum, "13.0");

  DecimalSum sum;
  EXPECT_TRUE(sum.add("0.10", 3));
  EXPECT_TRUE(sum.add("-1234567890123456789.5"));
  EXPECT_FALSE(sum.add("1e5"));
  EXPECT_EQ(sum.text(), "-1234567890123456789.20");
  EXPECT_LT(compare_decimals("-2", "-1.99"), 0);
  EXPECT_EQ(compare_decimals("-0.0", "0"), 0);
  EXPECT_GT(compare_decimals("10", "9.999"), 0);
}

}  // namespace
}  // namespace kora
