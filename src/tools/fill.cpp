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
#include "table/value_codec.h"
#include "tools/condition.h"
#include "tools/expression.h"

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

FillOutcome FillRun::fill_record(Table& table) {
  if (spec_.progression && max_passed_) return FillOutcome::kSkipped;
  if (spec_.progression && progression_broken_) return FillOutcome::kNotEvaluated;
  Substitution sub = substitute_fields(table, RecordImage(table.record.data(), table.record_size), working_);
  if (is_numeric_field(table, spec_.field)) return fill_number(table, sub.text);
  // Without a number taking part, + joins texts and is not part of the value.
  std::string text;
  for (size_t k = 0; k < sub.text.size(); ++k) {
    bool own = k < sub.own.size() && sub.own[k];
    if (sub.numeric || !own || sub.text[k] != '+') text += sub.text[k];
  }
  return fill_text(table, text);
}

FillOutcome FillRun::fill_number(Table& table, const std::string& text) {
  std::optional<double> value = storable_value(text);
  if (!value) return FillOutcome::kNotEvaluated;
  FillOutcome outcome =
      set_field_text(table, spec_.field, number_text(*value)) == FieldWrite::kStored ? FillOutcome::kStored
                                                                                     : FillOutcome::kDidNotFit;
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

FillOutcome FillRun::fill_text(Table& table, const std::string& shown) {
  std::string text = table_from_display(table, shown);
  return set_field_text(table, spec_.field, text) == FieldWrite::kStored ? FillOutcome::kStored : FillOutcome::kDidNotFit;
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
      case FillOutcome::kDidNotFit: ++counts.did_not_fit; return true;
      case FillOutcome::kNotEvaluated: ++counts.not_evaluated; return true;
      case FillOutcome::kSkipped: return false;
    }
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
