// Filter runs over the view, and the mappings between view positions and
// physical records that the program keeps its cursor with.
#include "tools/filter.h"

#include <algorithm>
#include <cstdio>
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

constexpr const char* kHoldsSeparators = "The value holds & or |, which always\nseparate the parts of a filter condition.";
constexpr const char* kHoldsQuotes = "The value holds both kinds of quotes:\na filter condition cannot compare it.";
constexpr const char* kHoldsParentheses = "The value holds parentheses that do not pair:\na filter condition cannot compare it.";
constexpr const char* kNoCondition = "A filter condition cannot compare\nthe values of this column.";

// Parentheses group wherever they stand, quoted or not, so only those of a
// value that close in order leave the grouping around it intact.
bool parentheses_pair(std::string_view text) {
  long depth = 0;
  for (char c : text) {
    depth += (c == '(') - (c == ')');
    if (depth < 0) return false;
  }
  return depth == 0;
}

// The left side of the condition and the value it must equal; false when
// the column's values cannot be named in a condition.
bool column_and_value(const Table& table, RecordImage record, int column, std::string& left, std::string& value) {
  if (column >= 0 && column < table.field_count()) {
    left = field_name(table, column);
    value = expression_value(table, record, column);
    return true;
  }
  const ComputedColumn* computed = computed_column(table.columns, column);
  // An expression with operators or quotes of its own would change the condition.
  if (!computed || computed->expression.find_first_of("<>=~{}&|\"'") != std::string::npos) return false;
  left = computed->expression;
  CompiledExpression expression = compile_expression(table, left);
  if (!expression.numeric) {
    value = computed_text(expression, table, record);
    return true;
  }
  char number[64];
  std::snprintf(number, sizeof number, "%.17g", computed_number(expression, table, record));
  value = number;
  return true;
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

EqualityCondition equality_condition(const Table& table, RecordImage record, int column, bool literal_brackets) {
  EqualityCondition out;
  std::string left, value;
  if (!column_and_value(table, record, column, left, value)) {
    out.refusal = kNoCondition;
    return out;
  }
  if (value.find_first_of("&|") != std::string::npos) {
    out.refusal = kHoldsSeparators;
    return out;
  }
  if (!literal_brackets && !parentheses_pair(value)) {
    out.refusal = kHoldsParentheses;
    return out;
  }
  char quote = value.find('"') == std::string::npos ? '"' : value.find('\'') == std::string::npos ? '\'' : 0;
  if (quote == 0) {
    out.refusal = kHoldsQuotes;
    return out;
  }
  // == compares whole texts: = would let SMITH pass SMITHSON.
  std::string condition = left + "==";
  condition += quote;
  condition += value;
  condition += quote;
  // The record the value came from must pass, or the language read the
  // condition otherwise than meant (a name it does not know, say).
  if (!condition_passes(compile_condition(table, condition, {literal_brackets, false}), table, record)) {
    out.refusal = kNoCondition;
    return out;
  }
  out.condition = std::move(condition);
  return out;
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
