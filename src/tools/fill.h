// Fill and sum: the walks that write one field of many records with the
// value of an expression or the terms of a progression, and that total a
// numeric field. Both walk a record list (or the whole view) through the
// record scanner, so a selection of millions of records is never turned
// into text and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "table/dbf_file.h"
#include "table/field_write.h"
#include "table/status.h"
#include "tools/condition.h"
#include "tools/record_list.h"

namespace kora {

// What a fill writes and how.
struct FillRequest {
  std::string expression;
  int field = -1;            // the target; a field holding a reference is never filled
  bool progression = false;  // the advanced options: the expression gives the first term only
  bool geometric = false;    // terms multiplied by step, else step added
  double step = 0;
  double max = 0;  // 0: no maximum; else the run ends after the first term above it
};

// What became of one record. Every outcome but kStored keeps the old value.
enum class FillOutcome {
  kStored,
  kDidNotFit,     // the field refused the value (too wide, no such date, ...)
  kNotEvaluated,  // the arithmetic gave no finite number (a syntax error, a zero divisor)
  kGivesText,     // the expression joins texts; the field takes numbers
  kGivesNumber,   // the expression calculates a number; the field is a date or logical
  kSkipped,       // the progression passed its maximum: nothing done
};

// One fill over many records: the working expression (the next term of a
// progression) carried from record to record.
class FillRun {
 public:
  explicit FillRun(FillRequest request);

  // Fills the target field of the record held in table.record (which must
  // be that record's image as read). The record is not written.
  //
  // An expression is a calculation when a numeric field takes part and no
  // text does (a quoted literal, a field of another type, a string
  // function); a numeric field always takes a calculation. Otherwise it is
  // a text: its values (numbers and texts without their padding blanks)
  // and literals joined by +, its string functions applied.
  FillOutcome fill_record(Table& table);
  bool max_passed() const { return max_passed_; }
  // The value the last record was given or refused, as text, and what the
  // field said to it.
  const std::string& last_value() const { return value_; }
  FieldWrite last_write() const { return write_; }

 private:
  FillOutcome fill_number(Table& table, const std::string& text);
  FillOutcome fill_text(Table& table);
  FillOutcome store(Table& table, const std::string& text);
  bool has_text_part(const Table& table);
  const CompiledExpression& compiled(const Table& table);

  FillRequest spec_;
  std::string working_;  // "%f" of a term: hundreds of characters for 1E300
  std::string value_;
  FieldWrite write_ = FieldWrite::kStored;
  bool max_passed_ = false;
  bool progression_broken_ = false;  // a term was not finite
  int text_part_ = -1;               // -1 not yet known, else 0 or 1
  std::optional<CompiledExpression> compiled_;  // of the expression, read at the first record
};

struct FillCounts {
  uint64_t stored = 0;
  uint64_t did_not_fit = 0;
  uint64_t not_evaluated = 0;
  uint64_t gives_text = 0;
  uint64_t gives_number = 0;
  std::string first_refused;  // the first value the field did not take
  FieldWrite first_write = FieldWrite::kStored;  // why the field refused the first value it did
  uint64_t refused() const { return did_not_fit + not_evaluated + gives_text + gives_number; }
};

// Fills the listed view positions (every visible one when list is null), in
// view order, writing each record that changed. A failed write ends the run
// kWriteError, a stop kAborted, a failed read kReadError; the records filled
// until then stay written and are counted. A read-only table gives
// kReadOnly; a target that holds a reference fills nothing.
Status fill_records(Table& table, const FillRequest& request, const RecordList* list, const ProgressCallback& progress,
                    FillCounts& counts);

// The totals of a numeric column, kept apart for records marked deleted.
// Accumulated in long double with the lost low-order parts carried along,
// so millions of values add up to what exact arithmetic would round to.
struct SumTotals {
  long double not_deleted = 0;
  long double deleted = 0;
  long double all() const { return not_deleted + deleted; }
};

// Adds column i of the listed view positions (every visible one when list
// is null). A stop ends kAborted, a failed read kReadError; `totals` is set
// only on kOk.
Status sum_column(const Table& table, int i, const RecordList* list, const ProgressCallback& progress,
                  SumTotals& totals);

}  // namespace kora
