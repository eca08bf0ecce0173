// The filter: which records the view shows. A run evaluates a condition over
// the records visible now and installs the physical numbers of those that
// pass as the table's visible list, in ascending file order whatever the
// view's direction (the Reverse flag alone turns the view around).
//
// A run either completes or leaves the table's view and filter text exactly
// as they were: a stopped or failed walk drops the new list and its text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "table/dbf_file.h"
#include "table/status.h"
#include "table/value_codec.h"

namespace kora {

// What apply_filter evaluates.
enum class FilterSource {
  kExpression,  // the given text, joined to a stored one as "(old)&(new)";
                // an empty text runs the stored one
  kStored,      // the stored text again; nothing happens when there is none
  kAllRecords,  // the stored text left alone; only hidden deleted records drop
};

struct FilterRequest {
  FilterSource source = FilterSource::kExpression;
  std::string_view expression;
  bool literal_brackets = false;  // parentheses in the text are data
};

// Builds the visible list from the records visible now and drops the sort
// order. A condition that cannot hold (unbalanced parentheses) gives an
// empty list. Progress counts records; a stop request aborts the run.
Status apply_filter(Table& table, const FilterRequest& request, const ProgressCallback& progress = {});

// The condition that passes the records whose column shows the same value
// as `record`: the field's name (never its alias) and its value as
// conditions compare it (dates as YYYYMMDD), quoted so that nothing in it is
// read as a name or an operator; a computed column through its expression.
// A value the condition language cannot hold (& or |, both quote marks,
// parentheses that do not pair) leaves `condition` empty and says why.
struct EqualityCondition {
  std::string condition;
  const char* refusal = nullptr;
};
EqualityCondition equality_condition(const Table& table, RecordImage record, int column, bool literal_brackets);

// No filter: the sort order, the visible list and the filter text go.
void clear_filter(Table& table);
// The sort order and the visible list go; the filter text stays.
void clear_visible_list(Table& table);

// Physical record at position k of the filtered view, before the sort order
// and the direction: the visible list's entry, or k itself without a list;
// kNoRecord beyond the view.
uint32_t visible_to_physical(const Table& table, uint32_t k);

// The view position that shows physical record q now (through the visible
// list, the sort order and the direction), or kNoRecord when q is not in
// view: where the cursor goes after the view was rebuilt.
uint32_t view_position_of(const Table& table, uint32_t q);

}  // namespace kora
