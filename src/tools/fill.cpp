#include "tools/fill.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "table/code_page.h"
#include "table/field_write.h"
#include "table/record_ops.h"
#include "table/record_scanner.h"
#include "table/text_code_page.h"
#include "table/value_codec.h"
#include "tools/condition.h"
#include "tools/expression.h"
#include "tools/string_functions.h"

namespace kora {

namespace {

// "%f" of any finite double, however long.
std::string format_fixed(double value) {
  int length = std::snprintf(nullptr, 0, "%f", value);
  std::string text(size_t(length > 0 ? length : 0), '\0');
  std::snprintf(text.data(), text.size() + 1, "%f", value);
  return text;
}

// Calls visit for each listed view position in view order through the
// record scanner, one scan per range; visit returns false to end the walk
// early. Progress counts the listed positions still in view.
template <typename Visit>
Status walk_positions(const Table& table, const RecordList* list, const ProgressCallback& progress, Visit visit) {
  const uint32_t count = visible_count(table);
  std::vector<PositionRange> ranges;
  if (list) {
    for (PositionRange r : list->ranges) {
      if (r.first >= count) break;
      ranges.push_back({r.first, std::min(r.last, count - 1)});
    }
  } else if (count > 0) {
    ranges.push_back({0, count - 1});
  }
  uint64_t total = 0;
  for (const PositionRange& r : ranges) total += uint64_t(r.last - r.first) + 1;
  uint64_t base = 0;
  for (const PositionRange& r : ranges) {
    ProgressCallback step;
    if (progress) step = [&](uint64_t done, uint64_t) { return progress(base + done, total); };
    RecordScanner scan(table, ScanOrder::kView, step);
    scan.set_range(r.first, r.last + 1);
    ScannedRecord record;
    while (scan.next(record)) {
      if (!visit(record)) return Status::kOk;
    }
    if (scan.status() != Status::kOk) return scan.status();
    base += scan.count();
  }
  if (progress) progress(total, total);
  return Status::kOk;
}

// A sum that carries the low-order parts each addition rounds away.
class CarriedSum {
 public:
  void add(long double x) {
    long double t = sum_ + x;
    carry_ += std::fabs(sum_) >= std::fabs(x) ? (sum_ - t) + x : (x - t) + sum_;
    sum_ = t;
  }
  long double value() const { return sum_ + carry_; }

 private:
  long double sum_ = 0;
  long double carry_ = 0;
};

}  // namespace

FillRun::FillRun(FillRequest request) : spec_(std::move(request)), working_(spec_.expression) {}

const CompiledExpression& FillRun::compiled(const Table& table) {
  if (!compiled_) compiled_ = compile_expression(table, spec_.expression);
  return *compiled_;
}

bool FillRun::has_text_part(const Table& table) {
  if (text_part_ < 0) {
    bool text = calls_string_function(spec_.expression);
    for (const TemplatePiece& piece : compiled(table).pieces) {
      bool literal = piece.field < 0 && !piece.own;
      text = text || literal || (piece.field >= 0 && !is_numeric_field(table, piece.field));
    }
    text_part_ = text ? 1 : 0;
  }
  return text_part_ == 1;
}

FillOutcome FillRun::store(Table& table, const std::string& text) {
  write_ = set_field_text(table, spec_.field, text);
  return write_ == FieldWrite::kStored ? FillOutcome::kStored : FillOutcome::kDidNotFit;
}

FillOutcome FillRun::fill_record(Table& table) {
  if (spec_.progression && max_passed_) return FillOutcome::kSkipped;
  if (spec_.progression && progression_broken_) return FillOutcome::kNotEvaluated;
  value_.clear();
  write_ = FieldWrite::kStored;
  if (is_numeric_field(table, spec_.field)) {
    Substitution sub = substitute_fields(table, RecordImage(table.record.data(), table.record_size), working_);
    return fill_number(table, sub.text);
  }
  return fill_text(table);
}

FillOutcome FillRun::fill_number(Table& table, const std::string& text) {
  std::optional<double> value = storable_value(text);
  if (!value) {
    value_ = text;
    return has_text_part(table) ? FillOutcome::kGivesText : FillOutcome::kNotEvaluated;
  }
  value_ = number_text(*value);
  FillOutcome outcome = store(table, value_);
  if (spec_.progression) {
    double next = spec_.geometric ? *value * spec_.step : *value + spec_.step;
    if (!std::isfinite(next)) {
      progression_broken_ = true;
    } else {
      if (spec_.max != 0 && next > spec_.max) max_passed_ = true;
      working_ = format_fixed(next);
    }
  }
  return outcome;
}

namespace {

// A number written into a text: a number the expression gives as it
// stands (a field's "12.50") as it is written, a calculated one as 2.5
// rather than 2.500000.
std::string text_of_number(std::string_view given, double value) {
  size_t first = given.find_first_not_of(' ');
  std::string_view plain = first == std::string_view::npos ? given : given.substr(first);
  plain = plain.substr(0, plain.find_last_not_of(' ') + 1);
  std::string_view digits = !plain.empty() && plain[0] == '-' ? plain.substr(1) : plain;
  bool as_written = !digits.empty() && digits.find_first_not_of("0123456789.") == std::string_view::npos &&
                    std::count(digits.begin(), digits.end(), '.') <= 1 && digits != ".";
  if (as_written) return std::string(plain);
  std::string text = format_fixed(value);
  if (text.find('.') == std::string::npos) return text;
  text.erase(text.find_last_not_of('0') + 1);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

bool takes_no_number(char type) { return type == 'D' || type == 'T' || type == '@' || type == 'L'; }

// The expression as a text for one record: values without their padding,
// the expression's own + signs and blanks gone when they join values or
// literals (a text of nothing else is kept as typed), string functions
// applied.
std::string text_value(const Table& table, RecordImage record, const ExpressionTemplate& pieces) {
  std::string text;
  std::vector<bool> own;
  const bool joins = std::any_of(pieces.begin(), pieces.end(), [](const TemplatePiece& p) { return !p.own; });
  for (const TemplatePiece& piece : pieces) {
    std::string part;
    if (piece.field >= 0) {
      part = is_numeric_field(table, piece.field) ? field_text(table, record, piece.field)
                                                  : expression_value(table, record, piece.field);
      part.erase(part.find_last_not_of(' ') + 1);
      if (is_numeric_field(table, piece.field)) part.erase(0, std::min(part.size(), part.find_first_not_of(' ')));
    } else if (piece.own && joins) {
      for (char c : piece.text)
        if (c != '+' && c != ' ') part += c;
    } else {
      part = piece.text;
    }
    text += part;
    own.resize(text.size(), piece.own && piece.field < 0);
  }
  const CodePage* page = in_other_code_page(table) ? table.code_page.get() : nullptr;
  expand_string_functions(text, own, table.date_format, page);
  return text;
}

}  // namespace

FillOutcome FillRun::fill_text(Table& table) {
  RecordImage record(table.record.data(), table.record_size);
  Substitution sub = substitute_fields(table, record, working_);
  if (sub.numeric && !has_text_part(table)) {
    std::optional<double> value = storable_value(sub.text);
    value_ = value ? text_of_number(sub.text, *value) : sub.text;
    if (!value) return FillOutcome::kNotEvaluated;
    if (takes_no_number(field_type(table, spec_.field))) return FillOutcome::kGivesNumber;
    return store(table, value_);
  }
  value_ = text_value(table, record, compiled(table).pieces);
  std::string text = table_from_display(table, value_);
  return store(table, text);
}

Status fill_records(Table& table, const FillRequest& request, const RecordList* list, const ProgressCallback& progress,
                    FillCounts& counts) {
  if (table.read_only) return Status::kReadOnly;
  if (holds_reference(table, request.field)) return Status::kOk;
  FillRun run(request);
  Status failure = Status::kOk;
  Status walk = walk_positions(table, list, progress, [&](const ScannedRecord& r) {
    std::memcpy(table.record.data(), r.image, table.record_size);
    switch (run.fill_record(table)) {
      case FillOutcome::kStored:
        if (!write_record_at(table, r.record)) {
          failure = Status::kWriteError;
          return false;
        }
        ++counts.stored;
        return true;
      case FillOutcome::kDidNotFit:
        if (counts.did_not_fit++ == 0) counts.first_write = run.last_write();
        break;
      case FillOutcome::kNotEvaluated: ++counts.not_evaluated; break;
      case FillOutcome::kGivesText: ++counts.gives_text; break;
      case FillOutcome::kGivesNumber: ++counts.gives_number; break;
      case FillOutcome::kSkipped: return false;
    }
    if (counts.refused() == 1) counts.first_refused = run.last_value();
    return true;
  });
  return failure != Status::kOk ? failure : walk;
}

Status sum_column(const Table& table, int i, const RecordList* list, const ProgressCallback& progress,
                  SumTotals& totals) {
  CarriedSum kept, deleted;
  Status status = walk_positions(table, list, progress, [&](const ScannedRecord& r) {
    long double value = field_number(table, RecordImage(r.image, table.record_size), i);
    (r.image[0] == '*' ? deleted : kept).add(value);
    return true;
  });
  if (status == Status::kOk) totals = {kept.value(), deleted.value()};
  return status;
}

}  // namespace kora
