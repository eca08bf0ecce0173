// Conditions and calculations over the fields of one record: field names
// replaced by the record's values, comparisons of two sides as numbers or as
// texts, comparisons joined by & (and) and | (or) with parentheses, and the
// values of computed columns.
//
// Every evaluation reads the record image the caller passes, never the
// table's current record. Two ways lead to the same results: the text path
// works on the expression's text for each record; a compiled condition
// splits the text and finds its field references and operators once per run,
// so that each record only formats its values and evaluates.
//
// Kept as users know them: & and | separate also inside quotes; a segment
// without a comparison operator is false; numbers compare by exact equality.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "table/value_codec.h"

namespace kora {

// What a run reads besides the table's own options.
struct ConditionFlags {
  bool literal_brackets = false;  // parentheses are data, never grouping
  bool hide_deleted = false;      // a record marked deleted never passes
};

// The comparison operators, from their one or two characters.
enum class Comparison {
  kNone,          // no operator, or a pair that never holds ("~=")
  kEqual,         // = (prefix equality of texts), ~ and = for numbers
  kContains,      // ~ for texts
  kExact,         // ==
  kLess,          // < <<
  kGreater,       // > >>
  kLessEqual,     // <= =<
  kGreaterEqual,  // >= =>
  kNotEqual,      // <> ><
  kNumberLessEqual,     // ~< (never holds for texts)
  kNumberGreaterEqual,  // ~>
};

// The text of a comparison with its field names replaced by the record's
// values and its quotes removed.
struct Substitution {
  std::string text;
  int operator_pos = -1;    // first comparison character of the expression's own, or -1
  int operator_length = 0;  // 1, or 2 when the next own character pairs with it
  bool numeric = false;     // a numeric field was substituted
  // Per character: written by the expression itself, not a value or a quoted
  // literal. Only these group, call string functions or separate arguments.
  std::vector<bool> own;
};

// What field i contributes to an expression: D and T as YYYYMMDD[HHMMSS],
// numbers as their display text (negative ones in parentheses, an empty one
// as 0), other fields as their display text in the screen's code page.
std::string expression_value(const Table& table, RecordImage record, int i);

Substitution substitute_fields(const Table& table, RecordImage record, std::string_view text);
bool evaluate_comparison(const Table& table, RecordImage record, std::string_view text, const ConditionFlags& flags);
// An empty expression passes every record the hide-deleted rule lets through.
bool evaluate_condition(const Table& table, RecordImage record, std::string_view expression,
                        const ConditionFlags& flags);

// A piece of an expression's template: text, or the value of a field.
struct TemplatePiece {
  std::string text;
  int field = -1;
  bool own = true;  // the text is the expression's own, not a quoted literal
};
using ExpressionTemplate = std::vector<TemplatePiece>;

// One side of a compiled comparison. A numeric side without fields is
// evaluated once, when the condition is compiled.
struct CompiledSide {
  ExpressionTemplate pieces;
  bool constant = false;
  std::optional<double> number;  // a constant numeric side's value
};

struct CompiledComparison {
  CompiledSide left, right;
  Comparison op = Comparison::kNone;
  bool has_operator = false;
  bool numeric = false;
};

// A condition split once for a run over one table.
struct CompiledCondition {
  enum class Kind { kAll, kNone, kSingle, kLogical } kind = Kind::kAll;
  ConditionFlags flags;
  std::vector<CompiledComparison> comparisons;
  // The logical form around the results: glue[k] comes before comparison
  // k's digit; the last entry follows the last digit.
  std::vector<std::string> glue;
};

// The text with every { turned into < and every } into >, except inside
// quoted text: the condition boxes accept braces for the comparisons.
std::string braces_to_comparisons(std::string_view text);

CompiledCondition compile_condition(const Table& table, std::string_view expression, const ConditionFlags& flags);
bool condition_passes(const CompiledCondition& condition, const Table& table, RecordImage record);

// Computed columns. A computed column is numeric when its expression, split
// at "+-*/() ", names a numeric field.
bool is_numeric_expression(const Table& table, std::string_view expression);
// The value of an expression as a column: in string mode the text, in
// numeric mode the number in "%20.6f"; nothing (and 0) on an error.
std::string computed_text(const Table& table, RecordImage record, std::string_view expression);
double computed_number(const Table& table, RecordImage record, std::string_view expression);
// The same read once for a run over many records (a sort by a computed
// column, an export); the values are those of the text forms above.
struct CompiledExpression {
  ExpressionTemplate pieces;
  bool numeric = false;
};
CompiledExpression compile_expression(const Table& table, std::string_view expression);
std::string computed_text(const CompiledExpression& expression, const Table& table, RecordImage record);
double computed_number(const CompiledExpression& expression, const Table& table, RecordImage record);
// Column i of the table's column model, and the same by the column's name
// (empty or 0 when there is no such column).
std::string computed_column_text(const Table& table, RecordImage record, int i);
long double computed_column_number(const Table& table, RecordImage record, int i);
std::string computed_column_text(const Table& table, RecordImage record, std::string_view name);
long double computed_column_number(const Table& table, RecordImage record, std::string_view name);
// Lets the value codec answer for computed columns through these functions.
void install_computed_column_hooks();

}  // namespace kora
