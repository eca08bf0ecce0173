// The sort of a view: a key for every record in view, built from the display
// texts of the sort columns, and the order of the view's positions by those
// keys. The file is never rewritten; the result is the view's sort order.
//
// Keys are built in one pass over the records and sorted as (key, position)
// pairs, so equal keys keep their positions ascending (and come reversed when
// descending). Keys that do not fit the memory budget are sorted in runs
// written to a temporary file and merged from there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_file.h"
#include "table/status.h"
#include "table/value_codec.h"
#include "tools/condition.h"

namespace kora {

constexpr size_t kDefaultSortBudget = size_t(256) << 20;

struct SortOptions {
  bool descending = false;
  // Columns (by their place in the list) sorted from the highest value down;
  // equal keys still keep their positions ascending.
  std::vector<bool> part_descending;
  size_t memory_budget = kDefaultSortBudget;  // bytes of keys held at once
  std::string temp_dir;                       // empty: $TMPDIR, else /tmp
};

// How one column contributes to a key.
struct KeyPart {
  int column = 0;
  char kind = 'C';       // 'C' stored text, 'D' date, 'T' date-time, 'X' display text, 'E' computed
  int expression = -1;   // of a computed column, in KeyLayout::expressions
  bool numeric = false;  // negative numbers are rewritten to sort first
  int offset = 0;        // where the part starts in the key
  int width = 0;
  bool descending = false;  // the part's bytes are complemented
  // A text of a table in a page of its own: ordered by code point, its
  // `text_width` bytes make `width` bytes of key.
  bool unicode = false;
  int text_width = 0;
};

struct KeyLayout {
  std::vector<KeyPart> parts;
  std::vector<CompiledExpression> expressions;  // of the computed columns, read once
  int width = 0;  // bytes of a whole key
  bool fold = false;  // the table ignores case: keys are upper-cased through `upper`
  std::array<uint8_t, 256> upper{};
  // The table's page when it is neither 866 nor 1251: its texts fold and
  // order by Unicode's rules (`upper` then folds only ASCII).
  std::shared_ptr<const CodePage> page;
};

KeyLayout key_layout(const Table& table, const std::vector<int>& columns);
// The key of one record image: layout.width bytes written to `out`, upper-cased
// when the table ignores case.
void build_sort_key(const Table& table, const KeyLayout& layout, RecordImage record, uint8_t* out);

// The positions 0 .. n-1 of the table's view (before Reverse and any sort
// order) in the order of their keys. `order` is left alone unless kOk.
// Progress counts the records read and then the entries merged; a stop
// ends kAborted, a failed read kReadError, a failed temporary file
// kWriteError.
Status sort_view_positions(const Table& table, const std::vector<int>& columns, const SortOptions& options,
                           const ProgressCallback& progress, std::vector<uint32_t>& order);

// Parses the field list (names separated by ; , blanks or line ends), sorts
// the view and installs the order with its fields and direction. A list
// whose first name is unknown does nothing. On any status but kOk the
// table's view is unchanged.
Status sort_by_field_list(Table& table, std::string_view field_list, const SortOptions& options,
                          const ProgressCallback& progress);

}  // namespace kora
