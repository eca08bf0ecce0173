// Filter runs over the view, and the mappings between view positions and
// physical records that the program keeps its cursor with.
#include "tools/filter.h"

#include <algorithm>
#include <string>
#include <vector>

#include "table/record_ops.h"
#include "table/record_scanner.h"
#include "tools/condition.h"

namespace kora {
namespace {

// The text a run evaluates and stores, or nothing when the run has nothing to do.
bool filter_text(const Table& table, const FilterRequest& request, std::string& text) {
  const std::string& stored = table.view.filter_expr;
  switch (request.source) {
    case FilterSource::kExpression:
      if (request.expression.empty()) {
        text = stored;
      } else if (stored.empty()) {
        text = request.expression;
      } else {
        text = "(" + stored + ")&(" + std::string(request.expression) + ")";
      }
      return true;
    case FilterSource::kStored:
      text = stored;
      return !stored.empty();
    case FilterSource::kAllRecords:
      text = stored;
      return true;
  }
  return false;
}

void drop_sort_order(RecordView& view) {
  view.sort_order.reset();
  view.sort_fields.clear();
}

}  // namespace

Status apply_filter(Table& table, const FilterRequest& request, const ProgressCallback& progress) {
  std::string text;
  if (!filter_text(table, request, text)) return Status::kOk;
  ConditionFlags flags{request.literal_brackets, table.view.hide_deleted};
  bool every_record = request.source == FilterSource::kAllRecords;
  CompiledCondition condition = compile_condition(table, every_record ? std::string_view() : text, flags);

  // The records visible now in the order the list holds them: ascending,
  // unless the list was set from a selection in another order.
  RecordScanner scan(table, ScanOrder::kVisibleList, progress);
  std::vector<uint32_t> passed;
  ScannedRecord r;
  while (scan.next(r)) {
    if (condition_passes(condition, table, RecordImage(r.image, table.record_size))) passed.push_back(r.record);
  }
  if (scan.status() != Status::kOk) return scan.status();

  drop_sort_order(table.view);
  table.view.visible_list = std::move(passed);
  table.view.filter_expr = std::move(text);
  return Status::kOk;
}

void clear_filter(Table& table) {
  clear_visible_list(table);
  table.view.filter_expr.clear();
}

void clear_visible_list(Table& table) {
  drop_sort_order(table.view);
  table.view.visible_list.reset();
}

uint32_t visible_to_physical(const Table& table, uint32_t k) {
  if (k >= visible_count(table)) return kNoRecord;
  uint32_t q = table.view.visible_list ? (*table.view.visible_list)[k] : k;
  return q < table.record_count ? q : kNoRecord;
}

uint32_t view_position_of(const Table& table, uint32_t q) {
  const RecordView& view = table.view;
  uint32_t count = visible_count(table);
  if (q >= table.record_count) return kNoRecord;
  uint32_t k = q;
  if (view.visible_list) {
    // A list set from a selection need not be ascending: look at every entry.
    auto at = std::find(view.visible_list->begin(), view.visible_list->end(), q);
    if (at == view.visible_list->end()) return kNoRecord;
    k = uint32_t(at - view.visible_list->begin());
  }
  uint32_t p = k;
  if (view.sort_order) {
    auto at = std::find(view.sort_order->begin(), view.sort_order->end(), k);
    if (at == view.sort_order->end()) return kNoRecord;
    p = uint32_t(at - view.sort_order->begin());
  }
  if (p >= count) return kNoRecord;
  return view.reverse ? count - 1 - p : p;
}

}  // namespace kora
