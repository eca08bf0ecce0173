// The columns the views show and how: the table's stored fields (column
// indices 0 .. field count - 1) and the computed columns the expression and
// SQL tools add (indices from the field count up), their order, which are
// visible or read-only, and how many leading columns stay fixed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kora {

constexpr int kMaxColumns = 2048;  // stored fields and computed columns together

// A column that is not stored in the file. Its caption is its name, never
// the expression it is computed from.
struct ComputedColumn {
  std::string name;
  std::string expression;
  char type = 'C';  // type letter of its values: 'C' text, 'N' or 'F' numbers
  int width = 20;
  int decimals = 0;
};

struct ColumnFlags {
  bool visible = true;
  bool read_only = false;
};

struct ColumnModel {
  int field_count = 0;
  // Display position -> column index: the visible columns first, then the
  // hidden ones. Every column index appears once.
  std::vector<int> order;
  int shown = 0;  // visible columns: the views show order[0 .. shown-1]
  int fixed = 0;  // FixedColumns: leading display positions that never scroll
  std::vector<ColumnFlags> flags;                       // by column index
  std::vector<std::optional<ComputedColumn>> computed;  // by column index - field_count
};

// Every stored field visible and writable, in file order; no computed columns.
void reset_column_model(ColumnModel& model, int field_count);
// Column indices in use: the fields and the computed slots (free ones included).
int column_index_count(const ColumnModel& model);
const ComputedColumn* computed_column(const ColumnModel& model, int column);
// Takes the first free computed slot, shown after the visible columns;
// the column index, or -1 when every slot is taken or the name is empty.
int add_computed_column(ColumnModel& model, ComputedColumn column);
// The computed column of that name, ignoring case; -1 if none.
int find_computed_column(const ColumnModel& model, std::string_view name);
bool remove_computed_column(ColumnModel& model, std::string_view name);

const ColumnFlags* column_flags(const ColumnModel& model, int column);
// Display position -> column index, or -1 outside the order.
int column_at(const ColumnModel& model, int position);
// Rebuilds the order from `list` (column indices in the wanted order): the
// visible ones first, then the hidden ones, each in list order; columns the
// list leaves out follow as hidden. The fixed count is kept within the shown.
void arrange_columns(ColumnModel& model, const std::vector<int>& list);

}  // namespace kora
