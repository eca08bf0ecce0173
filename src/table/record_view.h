// Which records a table shows, and in what order: the filter's visible list,
// a sort order over it and the direction. It is a value: the filter and sort
// tools build one and install it on a table (install_record_view), and every
// view position the engine is given is mapped through the table's view.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kora {

// What a view answers for a position that names no record.
constexpr uint32_t kNoRecord = 0xFFFFFFFF;

struct RecordView {
  // Physical record numbers that pass the filter, ascending; absent: all.
  std::optional<std::vector<uint32_t>> visible_list;
  std::string filter_expr;
  bool hide_deleted = false;  // applied through the visible list
  // A permutation of the positions in the filtered view; absent: unsorted.
  std::optional<std::vector<uint32_t>> sort_order;
  std::vector<int> sort_fields;  // column indices, at most 20
  bool sort_descending = false;
  bool reverse = false;

  // The view is narrowed or reordered by a list (the counter shows the record number).
  bool has_list() const { return visible_list.has_value() || sort_order.has_value(); }
  // Positions are not physical record numbers.
  bool is_arranged() const { return has_list() || reverse; }
};

// Records in view: the visible list's length, or every record.
uint32_t view_record_count(const RecordView& view, uint32_t record_count);
// Physical record number of view position p: reverse, then the sort order,
// then (with use_list) the visible list; kNoRecord when p is outside the view
// or a list names no existing record.
uint32_t view_record(const RecordView& view, uint32_t record_count, uint32_t p, bool use_list = true);
// Makes the record just appended (physical number record_count, the old
// count) the last one in view, filtered or sorted as the view may be.
void extend_view_for_append(RecordView& view, uint32_t record_count);
// The same for the records first..end-1 appended in one run, the lists
// extended in place.
void extend_view_for_appends(RecordView& view, uint32_t first, uint32_t end);
// Whether the lists fit a table of record_count records: the visible list
// ascending and within the file, the sort order a permutation of the view.
bool view_fits(const RecordView& view, uint32_t record_count);

}  // namespace kora
