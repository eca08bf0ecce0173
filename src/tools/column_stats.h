// What a column holds over the records in view: how often each distinct value
// occurs (or each combination of values of several columns), and statistics
// by the column's type. One walk through the record scanner counts the stored
// bytes of the column; everything else is worked out from the distinct
// values and their counts, so the walk runs close to the speed of reading.
//
// The counting is bounded: past `limit` distinct values the walk goes on with
// a frequent-items counter of that size, then a second walk counts exactly
// the values it kept. The table then holds the most frequent values (every
// value more frequent than records / limit among them) and says it is cut.
//
//   ValueCounts counts;
//   Status s = count_values(table, {column}, selection_or_null, progress, counts);
//   ColumnStats stats = column_stats(table, column, counts);
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_file.h"
#include "table/status.h"
#include "table/value_codec.h"
#include "tools/record_list.h"

namespace kora {

constexpr size_t kDefaultDistinctLimit = 1'000'000;

// One distinct value: the stored bytes of the counted columns one after the
// other (and, in a table with null flags, two bytes more per column: 1 when
// the value is null, and a varchar's length).
struct ValueCount {
  std::string key;
  uint64_t count = 0;
  uint32_t seen = 0;  // the order in which the walk met the values
};

enum class ValueKind { kText, kNumber, kDate, kLogical, kMemo };
ValueKind value_kind(const Table& table, int column);

// Statistics of one column; the texts are as the browse shows them, the
// sum, minimum and maximum of numbers as exact decimals of the stored digits.
struct ColumnStats {
  ValueKind kind = ValueKind::kText;
  uint64_t records = 0;
  uint64_t blanks = 0;
  uint64_t distinct = 0;   // with distinct_cut: at least this many
  bool distinct_cut = false;
  // Texts: lengths in characters without trailing blanks, and the first and
  // last value in the order of the code page's characters (blanks left out).
  size_t shortest = 0, longest = 0;
  std::string first, last;
  // Numbers: values that are no number are counted apart.
  uint64_t numbers = 0, not_numbers = 0;
  std::string minimum, maximum, sum;
  double mean = 0, deviation = 0;  // the sample standard deviation
  // Dates and timestamps.
  std::string earliest, latest;
  uint64_t impossible = 0;
  // Logicals.
  uint64_t trues = 0, falses = 0;
  // Memos: a block with text, none (blank), one that cannot be read.
  uint64_t with_text = 0, empty = 0, missing = 0;
};

struct ValueCounts {
  std::vector<int> columns;  // field indices, in key order
  std::vector<ValueCount> values;
  uint64_t records = 0;  // records walked
  // More distinct values than the limit: `values` holds the most frequent,
  // each counted exactly.
  bool cut = false;
  ColumnStats stats;  // of the first column
};

// The columns the values are counted of must be fields of the table (not
// computed columns). The records are those in view (filter and hidden
// deleted records as the view has them) or, with a list, the listed view
// positions. A stop ends kAborted, a failed read kReadError; memos are
// read (for the memo statistics) only for a single memo column.
Status count_values(Table& table, const std::vector<int>& columns, const RecordList* list,
                    const ProgressCallback& progress, ValueCounts& counts, size_t limit = kDefaultDistinctLimit);

// The display text of a value of one counted column (k its place among
// counts.columns), as the browse shows the field.
std::string value_text(const Table& table, const ValueCounts& counts, const std::string& key, size_t k);
// The whole record image a value stands in: the key's bytes placed in a
// blank record (the condition of a filter is made from it).
std::vector<uint8_t> value_record(const Table& table, const ValueCounts& counts, const std::string& key);

// The two orders of the frequency list: the most frequent first (equal
// counts in the order the walk met them), or by value as the columns' types
// order them (blanks first).
enum class FrequencyOrder { kByCount, kByValue };
void sort_values(const Table& table, ValueCounts& counts, FrequencyOrder order);

// Exact decimal arithmetic on stored digits: "-12.50" + "3" = "-9.50".
// Texts that are no decimal number are ignored; false then.
class DecimalSum {
 public:
  // With `value`, the number is also given there (rounded to long double).
  bool add(std::string_view text, uint64_t times = 1, long double* value = nullptr);
  std::string text() const;

 private:
  void rescale(int scale);
  void flush();
  std::vector<uint32_t> positive_, negative_;  // base 10^9, least significant first
  // Values of up to 18 digits are added here first, at the same scale, and
  // carried over into the limbs when the next one would overflow.
  int64_t small_ = 0;
  int scale_ = 0;  // digits after the point
};
// -1, 0, 1 as the decimal texts compare by value; both must be numbers.
int compare_decimals(std::string_view a, std::string_view b);

}  // namespace kora
