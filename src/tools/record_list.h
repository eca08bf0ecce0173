// Record lists: sets of view positions that the group operations, fill, sum
// and export act on, and their text form, 1-based numbers and ranges joined
// by commas ("1-3,6").
//
// A list is held as ranges, so a range over millions of records costs one
// entry and is never walked element by element to be read or written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_file.h"
#include "table/status.h"

namespace kora {

// View positions first..last, 0-based, both included.
struct PositionRange {
  uint32_t first = 0;
  uint32_t last = 0;
  bool operator==(const PositionRange&) const = default;
};

// Ranges in ascending order, neither overlapping nor touching: each position
// is listed once, whatever the text or selection repeated.
struct RecordList {
  std::vector<PositionRange> ranges;

  uint64_t count() const;
  bool empty() const { return ranges.empty(); }
};

// Items separated by ',' or ';', each a number n or a range a-b (blanks
// around the numbers allowed). Ranges are cut to 1..visible_count; a single
// number outside it, a range with a > b and an item that is not one of
// these forms are skipped.
RecordList parse_record_list(std::string_view text, uint32_t visible_count);
// "1-3,6": a run of two or more positions as first-last, one alone as itself.
std::string format_record_list(const RecordList& list);

// The list of view positions given in any order, repeats allowed.
RecordList record_list_from_positions(std::vector<uint32_t> positions);
// The view positions showing the selected physical records now; selected
// records out of view are left out.
RecordList record_list_from_selection(const Table& table, std::vector<uint32_t> selection);

// The group operations on the deletion mark.
enum class RecordAction { kDelete, kRecall, kInvert };

// Marks, recalls or inverts the mark of every listed record, in view order;
// positions beyond the view are left out. Progress counts records; a stop
// request ends the run with the records done so far changed.
Status apply_record_list(Table& table, RecordAction action, const RecordList& list,
                         const ProgressCallback& progress = {});

}  // namespace kora
