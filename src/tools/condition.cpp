// Field substitution, comparisons, conditions, both on the text and compiled.
#include "tools/condition.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "table/code_page.h"
#include "table/text_code_page.h"
#include "tools/expression.h"
#include "tools/string_functions.h"

namespace kora {
namespace {

constexpr size_t kIdentifierLength = 10;  // characters compared with field names

bool is_ident(char c) { return std::isalnum(uint8_t(c)) || c == '_'; }
bool is_operator(char c) { return c == '<' || c == '=' || c == '>' || c == '~'; }
bool is_second_operator(char c) { return c == '<' || c == '=' || c == '>'; }
bool is_quote(char c) { return c == '"' || c == '\''; }

// One side of a comparison, with the Substitution's own marks.
struct Side {
  std::string text;
  std::vector<bool> own;
};

Side side_of(const Substitution& s, size_t begin, size_t end) {
  return {s.text.substr(begin, end - begin), std::vector<bool>(s.own.begin() + long(begin), s.own.begin() + long(end))};
}

bool same_name_ignoring_case(std::string_view a, const char* name) {
  size_t n = std::strlen(name);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::toupper(uint8_t(a[i])) != std::toupper(uint8_t(name[i]))) return false;
  }
  return true;
}

// The first field, in field order, named by the identifier.
int field_named(const Table& table, std::string_view identifier) {
  for (int i = 0; i < table.field_count(); ++i) {
    if (same_name_ignoring_case(identifier, table.fields[size_t(i)].name)) return i;
  }
  return -1;
}

// The identifier starting at source[i] when one starts there: up to ten of
// its characters, the part that is compared with the field names.
std::string_view identifier_at(std::string_view source, size_t i) {
  if (!is_ident(source[i]) || (i > 0 && is_ident(source[i - 1]))) return {};
  size_t n = 0;
  while (i + n < source.size() && n < kIdentifierLength && is_ident(source[i + n])) ++n;
  return source.substr(i, n);
}

std::string trimmed(std::string text, int trim_mode) {
  if (trim_mode == 1 || trim_mode == 3) text.erase(text.find_last_not_of(' ') + 1);
  if (trim_mode == 2 || trim_mode == 3) text.erase(0, std::min(text.size(), text.find_first_not_of(' ')));
  return text;
}

// A binary date-time as a text one stores it, YYYYMMDDHHMMSS.
std::string binary_date_time(const Table& table, RecordImage record, int i) {
  if (is_date_blank(table, record, i)) return trimmed(std::string(14, ' '), table.trim_mode);
  DateParts d = field_date(table, record, i);
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", d.year, d.month + 1, d.day, d.hour, d.minute, d.second);
  return text;
}

std::string number_value(std::string text) {
  if (text.find_first_of("0123456789") == std::string::npos) text += "0";
  // A minus sign after another operator would be a syntax error (5--3).
  size_t first = text.find_first_not_of(' ');
  if (first != std::string::npos && text[first] == '-') text = "(" + text + ")";
  return text;
}

// Text functions work in the screen's code page; case folding follows the
// table's, so an ANSI table's text is folded in its own code page.
void fold_display_text(const Table& table, Side& side) {
  if (!table.ignore_case) return;
  if (!table.ansi_text) {
    fold_case(table, side.text);
  } else {
    std::string stored = table_from_display(table, side.text);
    fold_case(table, stored);
    side.text = display_from_table(table, stored);
  }
  side.own.resize(side.text.size(), false);
}

Comparison comparison_of(char first, char second) {
  if (second == 0) {
    switch (first) {
      case '=': return Comparison::kEqual;
      case '~': return Comparison::kContains;
      case '<': return Comparison::kLess;
      case '>': return Comparison::kGreater;
      default: return Comparison::kNone;
    }
  }
  if (first == '=' && second == '=') return Comparison::kExact;
  switch (first + second) {
    case '<' + '=': return Comparison::kLessEqual;
    case '>' + '=': return Comparison::kGreaterEqual;
    case '<' + '>': return Comparison::kNotEqual;
    case '<' + '<': return Comparison::kLess;
    case '>' + '>': return Comparison::kGreater;
    case '~' + '<': return Comparison::kNumberLessEqual;
    case '~' + '>': return Comparison::kNumberGreaterEqual;
    default: return Comparison::kNone;
  }
}

// Parentheses that a side does not close (or open) are the grouping of the
// condition around it, not part of the side. Those of values do not count.
void strip_unbalanced(Side& side) {
  const std::string& t = side.text;
  if (std::none_of(t.begin(), t.end(), [](char c) { return c == '(' || c == ')'; })) return;
  long open = 0, close = 0;
  for (size_t k = 0; k < t.size(); ++k) open += side.own[k] && t[k] == '(', close += side.own[k] && t[k] == ')';
  size_t begin = 0, end = t.size();
  while (open > close && begin < end && side.own[begin] && t[begin] == '(') ++begin, --open;
  while (close > open && end > begin && side.own[end - 1] && t[end - 1] == ')') --end, --close;
  side.text.erase(end).erase(0, begin);
  side.own.erase(side.own.begin() + long(end), side.own.end());
  side.own.erase(side.own.begin(), side.own.begin() + long(begin));
}

bool compare_numbers(Comparison op, double a, double b) {
  switch (op) {
    case Comparison::kEqual:
    case Comparison::kContains:
    case Comparison::kExact: return a == b;
    case Comparison::kLess: return a < b;
    case Comparison::kGreater: return a > b;
    case Comparison::kLessEqual:
    case Comparison::kNumberLessEqual: return a <= b;
    case Comparison::kGreaterEqual:
    case Comparison::kNumberGreaterEqual: return a >= b;
    case Comparison::kNotEqual: return a != b;
    case Comparison::kNone: return false;
  }
  return false;
}

bool compare_texts(Comparison op, const std::string& a, const std::string& b) {
  if (op == Comparison::kContains) return a.find(b) != std::string::npos;
  if (op == Comparison::kExact) return a == b;
  int order = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  switch (op) {
    case Comparison::kEqual: return order == 0;
    case Comparison::kLess: return order < 0;
    case Comparison::kGreater: return order > 0;
    case Comparison::kLessEqual: return order <= 0;
    case Comparison::kGreaterEqual: return order >= 0;
    case Comparison::kNotEqual: return order != 0;
    default: return false;
  }
}

bool compare_sides(const Table& table, Comparison op, bool numeric, Side left, Side right,
                   const ConditionFlags& flags) {
  if (!flags.literal_brackets) {
    strip_unbalanced(left);
    strip_unbalanced(right);
  }
  if (numeric) {
    std::optional<double> a = arithmetic_value(left.text), b = arithmetic_value(right.text);
    return a && b && compare_numbers(op, *a, *b);
  }
  // A table in a page of its own folds by Unicode's rules (fold_case) and
  // orders by code point: both sides become keys of that order.
  const CodePage* page = in_other_code_page(table) ? table.code_page.get() : nullptr;
  for (Side* side : {&left, &right}) {
    fold_display_text(table, *side);
    expand_string_functions(side->text, side->own, table.date_format, page);
    if (page) page->order_key(side->text);
  }
  return compare_texts(op, left.text, right.text);
}

bool is_deleted(RecordImage record) { return !record.empty() && record[0] == '*'; }

// One segment of a condition cut at & and |: the comparison in its middle,
// the grouping parentheses before and after it, and the separator after it
// (none after the last).
struct Segment {
  std::string_view before, comparison, after;
  char separator = 0;
};

Segment group_segment(std::string_view text, bool literal_brackets) {
  Segment s{{}, text, {}};
  if (literal_brackets) return s;
  std::vector<size_t> open;
  size_t first_unmatched_close = std::string_view::npos;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '(') open.push_back(i);
    if (text[i] != ')') continue;
    if (!open.empty()) {
      open.pop_back();
    } else if (first_unmatched_close == std::string_view::npos) {
      first_unmatched_close = i;
    }
  }
  long opens = 0, closes = 0;
  for (char c : text) opens += c == '(', closes += c == ')';
  if (opens > closes && !open.empty()) {
    s.before = text.substr(0, open.back() + 1);
    s.comparison = text.substr(open.back() + 1);
  } else if (closes > opens && first_unmatched_close != std::string_view::npos) {
    s.comparison = text.substr(0, first_unmatched_close);
    s.after = text.substr(first_unmatched_close);
  }
  return s;
}

std::vector<Segment> split_condition(std::string_view text, bool literal_brackets) {
  std::vector<Segment> segments;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '&' && text[i] != '|') continue;
    Segment s = group_segment(text.substr(start, i - start), literal_brackets);
    s.separator = i < text.size() ? text[i] : 0;
    segments.push_back(s);
    start = i + 1;
  }
  return segments;
}

bool parentheses_balance(std::string_view text) {
  long depth = 0;
  for (char c : text) depth += (c == '(') - (c == ')');
  return depth == 0;
}

// The results of the comparisons joined by * (and) and + (or) in the
// condition's parentheses, which every merge of filters nests one level
// deeper: read with a stack that grows, where the arithmetic evaluator's
// fixed one would overflow. Nothing when the form holds anything else.
std::optional<bool> truth_value(std::string_view form) {
  struct Group {
    bool any = false;   // an earlier term of the + chain held
    bool term = true;   // the * chain of the current term
  };
  std::vector<Group> groups(1);
  bool want_operand = true;
  for (char c : form) {
    if (c == ' ') continue;
    if (want_operand && (c == '0' || c == '1')) {
      groups.back().term = groups.back().term && c == '1';
      want_operand = false;
    } else if (want_operand && c == '(') {
      groups.emplace_back();
    } else if (!want_operand && (c == '*' || c == '+')) {
      if (c == '+') groups.back() = {groups.back().any || groups.back().term, true};
      want_operand = true;
    } else if (!want_operand && c == ')' && groups.size() > 1) {
      bool value = groups.back().any || groups.back().term;
      groups.pop_back();
      groups.back().term = groups.back().term && value;
    } else {
      return std::nullopt;
    }
  }
  if (want_operand || groups.size() != 1) return std::nullopt;
  return groups.back().any || groups.back().term;
}

bool logical_value(const std::string& form) {
  if (std::optional<bool> truth = truth_value(form)) return *truth;
  std::optional<double> value = arithmetic_value(form);
  return value && std::trunc(*value) != 0;
}

}  // namespace

std::string expression_value(const Table& table, RecordImage record, int i) {
  char type = field_type(table, i);
  if (type == 'T' && field_length(table, i) == 8) return binary_date_time(table, record, i);
  if (type == 'D' || type == 'T') return field_raw_text(table, record, i);
  if (is_numeric_field(table, i)) return number_value(field_text(table, record, i));
  return display_from_table(table, field_text(table, record, i));
}

// The text path: one walk over the source, the output built as it goes.
Substitution substitute_fields(const Table& table, RecordImage record, std::string_view text) {
  Substitution out;
  std::vector<bool>& own = out.own;
  bool substituted = false;
  size_t operator_source = std::string_view::npos, operator_output = 0;
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote != 0 || is_quote(c)) {
      if (quote == 0 || c == quote) {
        quote = quote == 0 ? c : 0;
      } else {
        out.text += c, own.push_back(false);
      }
      continue;
    }
    std::string_view identifier = identifier_at(text, i);
    int field = identifier.empty() ? -1 : field_named(table, identifier);
    if (field >= 0) {
      std::string value = expression_value(table, record, field);
      out.text += value, own.resize(own.size() + value.size(), false);
      substituted = true;
      out.numeric = out.numeric || is_numeric_field(table, field);
      i += identifier.size() - 1;
      continue;
    }
    if (operator_source == std::string_view::npos && is_operator(c)) {
      operator_source = i;
      operator_output = out.text.size();
    }
    out.text += c, own.push_back(true);
  }
  // Texts are joined: the expression's own + signs go, those of data stay.
  bool joining = substituted && !out.numeric;
  if (operator_source != std::string_view::npos) {
    size_t pos = operator_output;
    for (size_t k = 0; k < operator_output; ++k) pos -= joining && own[k] && out.text[k] == '+';
    out.operator_pos = int(pos);
    bool pair = operator_source + 1 < text.size() && is_second_operator(text[operator_source + 1]);
    out.operator_length = pair ? 2 : 1;
  }
  if (joining) {
    size_t kept = 0;
    for (size_t k = 0; k < out.text.size(); ++k) {
      if (own[k] && out.text[k] == '+') continue;
      out.text[kept] = out.text[k], own[kept] = own[k], ++kept;
    }
    out.text.resize(kept), own.resize(kept);
  }
  return out;
}

bool evaluate_comparison(const Table& table, RecordImage record, std::string_view text, const ConditionFlags& flags) {
  Substitution s = substitute_fields(table, record, text);
  if (s.operator_pos < 0) return false;
  size_t pos = size_t(s.operator_pos), length = size_t(s.operator_length);
  Comparison op = comparison_of(s.text[pos], length == 2 ? s.text[pos + 1] : 0);
  return compare_sides(table, op, s.numeric, side_of(s, 0, pos), side_of(s, pos + length, s.text.size()), flags);
}

bool evaluate_condition(const Table& table, RecordImage record, std::string_view expression,
                        const ConditionFlags& flags) {
  if (flags.hide_deleted && is_deleted(record)) return false;
  if (expression.empty()) return true;
  if (!flags.literal_brackets && !parentheses_balance(expression)) return false;
  if (expression.find_first_of("&|") == std::string_view::npos) {
    return evaluate_comparison(table, record, expression, flags);
  }
  std::string form;
  for (const Segment& s : split_condition(expression, flags.literal_brackets)) {
    form += s.before;
    form += evaluate_comparison(table, record, s.comparison, flags) ? '1' : '0';
    form += s.after;
    if (s.separator != 0) form += s.separator == '&' ? '*' : '+';
  }
  return logical_value(form);
}

std::string braces_to_comparisons(std::string_view text) {
  std::string out(text);
  char quote = 0;
  for (char& c : out) {
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (is_quote(c)) {
      quote = c;
    } else if (c == '{') {
      c = '<';
    } else if (c == '}') {
      c = '>';
    }
  }
  return out;
}

// The compiled path. A comparison is first read into units, each a character
// of the expression's own, a character of a quoted literal, or a field.
namespace {

struct Unit {
  char c = 0;
  bool own = false;
  int field = -1;
};

// Units begin..end as a template; joining drops the expression's own + signs.
ExpressionTemplate template_of(const std::vector<Unit>& units, size_t begin, size_t end, bool joining) {
  ExpressionTemplate pieces;
  for (size_t k = begin; k < end; ++k) {
    if (joining && units[k].own && units[k].c == '+') continue;
    if (units[k].field >= 0) {
      pieces.push_back({{}, units[k].field, false});
    } else {
      if (pieces.empty() || pieces.back().field >= 0 || pieces.back().own != units[k].own) {
        pieces.push_back({{}, -1, units[k].own});
      }
      pieces.back().text += units[k].c;
    }
  }
  return pieces;
}

Side render(const ExpressionTemplate& pieces, const Table& table, RecordImage record) {
  Side side;
  for (const TemplatePiece& piece : pieces) {
    side.text += piece.field >= 0 ? expression_value(table, record, piece.field) : piece.text;
    side.own.resize(side.text.size(), piece.own);
  }
  return side;
}

// A numeric side that names no field has the same value for every record.
void fold_constant(CompiledSide& side, const Table& table, bool numeric, const ConditionFlags& flags) {
  if (!numeric) return;
  for (const TemplatePiece& piece : side.pieces) {
    if (piece.field >= 0) return;
  }
  Side text = render(side.pieces, table, {});
  if (!flags.literal_brackets) strip_unbalanced(text);
  side.constant = true;
  side.number = arithmetic_value(text.text);
}

// The value of a number's display text ("  -12.50") as the evaluator reads
// it, without the evaluator; nothing when the text is of another form.
std::optional<double> plain_number(std::string_view text) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string_view::npos) return std::nullopt;
  bool negative = text[i] == '-';
  i += negative;
  size_t end = text.find_last_not_of(' ') + 1, points = 0, digits = 0;
  for (size_t k = i; k < end; ++k) {
    if (text[k] == '.') ++points;
    else if (text[k] >= '0' && text[k] <= '9') ++digits;
    else return std::nullopt;
  }
  if (points > 1 || digits == 0) return std::nullopt;
  double value = 0;
  if (std::from_chars(text.data() + i, text.data() + end, value).ec != std::errc()) return std::nullopt;
  return negative ? -value : value;
}

std::optional<double> side_number(const CompiledSide& side, const Table& table, RecordImage record,
                                  const ConditionFlags& flags) {
  if (side.constant) return side.number;
  if (side.pieces.size() == 1 && side.pieces[0].field >= 0 && is_numeric_field(table, side.pieces[0].field)) {
    if (std::optional<double> value = plain_number(field_text(table, record, side.pieces[0].field))) return value;
  }
  Side text = render(side.pieces, table, record);
  if (!flags.literal_brackets) strip_unbalanced(text);
  return arithmetic_value(text.text);
}

// An expression read into units, with its first operator.
struct ReadExpression {
  std::vector<Unit> units;
  bool substituted = false, numeric = false, has_operator = false, pair = false;
  size_t operator_unit = 0;
  Comparison op = Comparison::kNone;
};

ReadExpression read_units(const Table& table, std::string_view text) {
  ReadExpression out;
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote != 0 || is_quote(c)) {
      if (quote == 0 || c == quote) {
        quote = quote == 0 ? c : 0;
      } else {
        out.units.push_back({c, false});
      }
      continue;
    }
    std::string_view identifier = identifier_at(text, i);
    int field = identifier.empty() ? -1 : field_named(table, identifier);
    if (field >= 0) {
      out.units.push_back({0, false, field});
      out.substituted = true;
      out.numeric = out.numeric || is_numeric_field(table, field);
      i += identifier.size() - 1;
      continue;
    }
    if (!out.has_operator && is_operator(c)) {
      out.has_operator = true;
      // Only the character right after it in the expression pairs with it.
      out.pair = i + 1 < text.size() && is_second_operator(text[i + 1]);
      out.op = comparison_of(c, out.pair ? text[i + 1] : 0);
      out.operator_unit = out.units.size();
    }
    out.units.push_back({c, true});
  }
  return out;
}

CompiledComparison compile_comparison(const Table& table, std::string_view text, const ConditionFlags& flags) {
  ReadExpression read = read_units(table, text);
  CompiledComparison out;
  out.numeric = read.numeric;
  if (!read.has_operator) return out;
  out.has_operator = true;
  out.op = read.op;
  bool joining = read.substituted && !read.numeric;
  out.left.pieces = template_of(read.units, 0, read.operator_unit, joining);
  out.right.pieces = template_of(read.units, read.operator_unit + (read.pair ? 2 : 1), read.units.size(), joining);
  fold_constant(out.left, table, out.numeric, flags);
  fold_constant(out.right, table, out.numeric, flags);
  return out;
}

bool comparison_holds(const CompiledComparison& c, const Table& table, RecordImage record,
                      const ConditionFlags& flags) {
  if (!c.has_operator) return false;
  if (c.numeric) {
    std::optional<double> a = side_number(c.left, table, record, flags);
    std::optional<double> b = a ? side_number(c.right, table, record, flags) : std::nullopt;
    return a && b && compare_numbers(c.op, *a, *b);
  }
  return compare_sides(table, c.op, false, render(c.left.pieces, table, record), render(c.right.pieces, table, record),
                       flags);
}

}  // namespace

CompiledCondition compile_condition(const Table& table, std::string_view expression, const ConditionFlags& flags) {
  CompiledCondition out;
  out.flags = flags;
  if (expression.empty()) return out;
  if (!flags.literal_brackets && !parentheses_balance(expression)) {
    out.kind = CompiledCondition::Kind::kNone;
    return out;
  }
  if (expression.find_first_of("&|") == std::string_view::npos) {
    out.kind = CompiledCondition::Kind::kSingle;
    out.comparisons.push_back(compile_comparison(table, expression, flags));
    return out;
  }
  out.kind = CompiledCondition::Kind::kLogical;
  std::string pending;
  for (const Segment& s : split_condition(expression, flags.literal_brackets)) {
    out.glue.push_back(pending + std::string(s.before));
    out.comparisons.push_back(compile_comparison(table, s.comparison, flags));
    pending = std::string(s.after);
    if (s.separator != 0) pending += s.separator == '&' ? '*' : '+';
  }
  out.glue.push_back(pending);
  return out;
}

bool condition_passes(const CompiledCondition& condition, const Table& table, RecordImage record) {
  if (condition.flags.hide_deleted && is_deleted(record)) return false;
  switch (condition.kind) {
    case CompiledCondition::Kind::kAll: return true;
    case CompiledCondition::Kind::kNone: return false;
    case CompiledCondition::Kind::kSingle:
      return comparison_holds(condition.comparisons[0], table, record, condition.flags);
    case CompiledCondition::Kind::kLogical: break;
  }
  std::string form;
  for (size_t k = 0; k < condition.comparisons.size(); ++k) {
    form += condition.glue[k];
    form += comparison_holds(condition.comparisons[k], table, record, condition.flags) ? '1' : '0';
  }
  form += condition.glue.back();
  return logical_value(form);
}

// Computed columns.

bool is_numeric_expression(const Table& table, std::string_view expression) {
  size_t start = 0;
  for (size_t i = 0; i <= expression.size(); ++i) {
    if (i < expression.size() && std::string_view("+-*/() ").find(expression[i]) == std::string_view::npos) continue;
    int field = field_named(table, expression.substr(start, i - start));
    if (field >= 0 && is_numeric_field(table, field)) return true;
    start = i + 1;
  }
  return false;
}

namespace {

struct ComputedValue {
  std::string text;
  double number = 0;
};

// A column's value from its substituted text: in string mode the text with
// its grouping stripped and its string functions applied, in numeric mode
// the number, which must be finite.
ComputedValue computed_value(const Table& table, Side side, bool numeric) {
  ComputedValue out;
  if (!numeric) {
    strip_unbalanced(side);
    expand_string_functions(side.text, side.own, table.date_format,
                            in_other_code_page(table) ? table.code_page.get() : nullptr);
    out.text = std::move(side.text);
    return out;
  }
  std::optional<double> value = storable_value(side.text);
  if (!value) return out;
  char text[400];  // "%20.6f" of the largest finite double is 316 characters
  std::snprintf(text, sizeof text, "%20.6f", *value);
  out.text = text;
  out.number = *value;
  return out;
}

ComputedValue computed_value(const Table& table, RecordImage record, std::string_view expression) {
  Substitution s = substitute_fields(table, record, expression);
  return computed_value(table, Side{std::move(s.text), std::move(s.own)}, s.numeric);
}

}  // namespace

std::string computed_text(const Table& table, RecordImage record, std::string_view expression) {
  return computed_value(table, record, expression).text;
}

double computed_number(const Table& table, RecordImage record, std::string_view expression) {
  return computed_value(table, record, expression).number;
}

CompiledExpression compile_expression(const Table& table, std::string_view expression) {
  ReadExpression read = read_units(table, expression);
  bool joining = read.substituted && !read.numeric;
  return {template_of(read.units, 0, read.units.size(), joining), read.numeric};
}

std::string computed_text(const CompiledExpression& expression, const Table& table, RecordImage record) {
  return computed_value(table, render(expression.pieces, table, record), expression.numeric).text;
}

double computed_number(const CompiledExpression& expression, const Table& table, RecordImage record) {
  return computed_value(table, render(expression.pieces, table, record), expression.numeric).number;
}

std::string computed_column_text(const Table& table, RecordImage record, int i) {
  const ComputedColumn* column = computed_column(table.columns, i);
  return column ? computed_text(table, record, column->expression) : std::string();
}

long double computed_column_number(const Table& table, RecordImage record, int i) {
  const ComputedColumn* column = computed_column(table.columns, i);
  return column ? computed_number(table, record, column->expression) : 0;
}

std::string computed_column_text(const Table& table, RecordImage record, std::string_view name) {
  return computed_column_text(table, record, find_computed_column(table.columns, name));
}

long double computed_column_number(const Table& table, RecordImage record, std::string_view name) {
  return computed_column_number(table, record, find_computed_column(table.columns, name));
}

void install_computed_column_hooks() {
  computed_column_hooks.text = [](const Table& table, RecordImage record, int i) {
    return computed_column_text(table, record, i);
  };
  computed_column_hooks.number = [](const Table& table, RecordImage record, int i) {
    return computed_column_number(table, record, i);
  };
}

}  // namespace kora
