// The arithmetic evaluator: a tokenizer, the parser's action and goto tables,
// and the reductions.
#include "tools/expression.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace kora {
namespace {

enum TokenKind : uint8_t {
  kPlus = 0,
  kMinus = 1,
  kTimes = 2,
  kDivide = 3,
  kPower = 4,
  kColon = 5,
  kOpen = 6,
  kClose = 7,
  kNumber = 8,
  kFunction = 10,
  kEnd = 11,
  kBad = 12,
};

enum Function : uint8_t {
  kAbs, kAcos, kAsin, kAtan, kCosh, kCos, kExp, kLog10, kLog, kPow10,
  kRound, kSinh, kSin, kSqrt, kSqr, kTanh, kTan, kTrunc,
};

// Tried in this order as prefixes: a longer name comes before its prefix.
constexpr std::array<std::string_view, 18> kFunctionNames = {
    "ABS", "ACOS", "ASIN", "ATAN", "COSH", "COS", "EXP", "LOG10", "LOG",
    "POW10", "ROUND", "SINH", "SIN", "SQRT", "SQR", "TANH", "TAN", "TRUNC"};

struct Token {
  TokenKind kind = kEnd;
  double value = 0;
  int function = 0;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
char upper(char c) { return char(std::toupper(uint8_t(c))); }

bool starts_with_name(std::string_view text, std::string_view name) {
  if (text.size() < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (upper(text[i]) != name[i]) return false;
  }
  return true;
}

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  Token next() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
    if (pos_ >= text_.size()) return {kEnd};
    char c = text_[pos_];
    if (is_digit(c) || c == '.') return number();
    if (std::isalpha(uint8_t(c))) return function();
    ++pos_;
    switch (c) {
      case '+': return {kPlus};
      case '-': return {kMinus};
      case '*': return {kTimes};
      case '/': return {kDivide};
      case '^': return {kPower};
      case ':': return {kColon};
      case '(': return {kOpen};
      case ')': return {kClose};
      default: return {kBad};
    }
  }

 private:
  Token number() {
    size_t start = pos_;
    bool point = false;
    for (; pos_ < text_.size(); ++pos_) {
      char c = text_[pos_];
      if (c == '.' && !point) {
        point = true;
      } else if (!is_digit(c)) {
        break;
      }
    }
    if (pos_ - start == 1 && point) return {kBad};
    if (pos_ < text_.size() && upper(text_[pos_]) == 'E') {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      for (int n = 0; n < 3 && pos_ < text_.size() && is_digit(text_[pos_]); ++n) ++pos_;
    }
    return {kNumber, decimal_value(text_.substr(start, pos_ - start))};
  }

  // The number's characters read as strtod reads them; from_chars is the
  // same conversion without the copy, strtod still gives over- and underflow.
  static double decimal_value(std::string_view digits) {
    double value = 0;
    if (std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc()) return value;
    return std::strtod(std::string(digits).c_str(), nullptr);
  }

  Token function() {
    std::string_view rest = text_.substr(pos_);
    for (size_t f = 0; f < kFunctionNames.size(); ++f) {
      if (starts_with_name(rest, kFunctionNames[f])) {
        pos_ += kFunctionNames[f].size();
        return {kFunction, 0, int(f)};
      }
    }
    ++pos_;
    return {kBad};
  }

  std::string_view text_;
  size_t pos_ = 0;
};

// x truncated toward zero to a 32-bit integer; nothing when it does not fit.
std::optional<double> to_int32(double x) {
  double t = std::trunc(x);
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) return std::nullopt;
  return t;
}

std::optional<double> apply_function(int function, double x) {
  switch (Function(function)) {
    case kAbs: return std::fabs(x);
    case kAcos: return std::acos(x);
    case kAsin: return std::asin(x);
    case kAtan: return std::atan(x);
    case kCosh: return std::cosh(x);
    case kCos: return std::cos(x);
    case kExp: return std::exp(x);
    case kLog10: return std::log10(x);
    case kLog: return std::log(x);
    case kPow10: return std::pow(x, 10.0);
    case kRound: return to_int32(x + 0.5);
    case kSinh: return std::sinh(x);
    case kSin: return std::sin(x);
    case kSqrt: return std::sqrt(x);
    case kSqr: return x * x;
    case kTanh: return std::tanh(x);
    case kTan: return std::tan(x);
    case kTrunc: return to_int32(x);
  }
  return std::nullopt;
}

// Parser actions: shift to a state, reduce by a rule, accept, or error.
enum ActionKind : uint8_t { kError, kShift, kReduce, kAccept };
struct Action {
  ActionKind kind = kError;
  uint8_t target = 0;  // state to shift to, or rule to reduce by
};

// The states that begin an operand: number 10, function 11, unary - 5, ( 9.
Action start_action(TokenKind token) {
  switch (token) {
    case kNumber: return {kShift, 10};
    case kFunction: return {kShift, 11};
    case kMinus: return {kShift, 5};
    case kOpen: return {kShift, 9};
    default: return {};
  }
}

Action action(uint8_t state, TokenKind token) {
  switch (state) {
    case 0: case 9: case 12: case 13: case 14: case 15: case 16: case 20:
      return start_action(token);
    case 1:
      if (token == kEnd) return {kAccept};
      if (token == kPlus) return {kShift, 12};
      if (token == kMinus) return {kShift, 13};
      return {};
    case 2: case 21: case 22:
      if (token == kTimes) return {kShift, 14};
      if (token == kDivide) return {kShift, 15};
      return {kReduce, uint8_t(state == 2 ? 3 : state == 21 ? 1 : 2)};
    case 3: return {kReduce, 6};
    case 4: return token == kPower ? Action{kShift, 16} : Action{kReduce, 8};
    case 5: return token == kMinus ? Action{} : start_action(token);
    case 6: return {kReduce, 10};
    case 8: return {kReduce, 12};
    case 10: return {kReduce, 15};
    case 11: return token == kOpen ? Action{kShift, 20} : Action{};
    case 17: return {kReduce, 9};
    case 19: case 28:
      if (token == kPlus) return {kShift, 12};
      if (token == kMinus) return {kShift, 13};
      if (token == kClose) return {kShift, uint8_t(state == 19 ? 27 : 29)};
      return {};
    case 23: return {kReduce, 4};
    case 24: return {kReduce, 5};
    case 25: return {kReduce, 7};
    case 27: return {kReduce, 14};
    case 29: return {kReduce, 16};
    default: return {};
  }
}

enum Symbol : uint8_t { kSum, kTerm, kPowerSym, kSigned, kPrimary, kAtom };

struct Rule {
  Symbol left;
  uint8_t length;  // symbols on the right-hand side
};

// Indexed by rule number; 0, 11 and 13 are not rules.
constexpr std::array<Rule, 17> kRules = {{
    {kSum, 0},      {kSum, 3},     {kSum, 3},      {kSum, 1},      {kTerm, 3},     {kTerm, 3},
    {kTerm, 1},     {kPowerSym, 3}, {kPowerSym, 1}, {kSigned, 2},  {kSigned, 1},   {kSum, 0},
    {kPrimary, 1},  {kSum, 0},      {kAtom, 3},     {kAtom, 1},    {kAtom, 4},
}};

uint8_t goto_state(uint8_t uncovered, Symbol symbol) {
  switch (symbol) {
    case kSum: return uncovered == 0 ? 1 : uncovered == 9 ? 19 : 28;
    case kTerm: return uncovered == 12 ? 21 : uncovered == 13 ? 22 : 2;
    case kPowerSym: return uncovered == 14 ? 23 : uncovered == 15 ? 24 : uncovered == 16 ? 25 : 3;
    case kSigned: return 4;
    case kPrimary: return uncovered == 5 ? 17 : 6;
    case kAtom: return 8;
  }
  return 0;
}

// Entries are written by push before they are read, so the stack is left
// uninitialised: an evaluation per record should not clear 30 entries.
struct Entry {
  uint8_t state;
  double value;
  int function;
};

class Parser {
 public:
  std::optional<double> run(std::string_view text) {
    Tokenizer tokens(text);
    Token token = tokens.next();
    if (!push({0, 0, 0})) return std::nullopt;
    for (;;) {
      Action next = action(stack_[size_ - 1].state, token.kind);
      switch (next.kind) {
        case kError: return std::nullopt;
        case kAccept: return stack_[size_ - 1].value;
        case kShift:
          if (!push({next.target, token.value, token.function})) return std::nullopt;
          token = tokens.next();
          break;
        case kReduce:
          if (!reduce(next.target)) return std::nullopt;
          break;
      }
    }
  }

 private:
  // A push onto the full stack is an error, found before anything is written.
  bool push(const Entry& entry) {
    if (size_ >= kEvaluatorStackSize) return false;
    stack_[size_++] = entry;
    return true;
  }

  std::optional<double> rule_value(int rule) const {
    const Entry* top = &stack_[size_ - 1];
    switch (rule) {
      case 1: return top[-2].value + top[0].value;
      case 2: return top[-2].value - top[0].value;
      case 4: return top[-2].value * top[0].value;
      case 5: {
        double quotient = top[0].value == 0 ? HUGE_VAL : top[-2].value / top[0].value;
        if (quotient == HUGE_VAL) return std::nullopt;
        return quotient;
      }
      case 7: return std::pow(top[-2].value, top[0].value);
      case 9: return -top[0].value;
      case 14: return top[-1].value;
      case 16: return apply_function(top[-3].function, top[-1].value);
      default: return top[0].value;
    }
  }

  bool reduce(int rule) {
    std::optional<double> value = rule_value(rule);
    if (!value) return false;
    size_ -= kRules[size_t(rule)].length;
    uint8_t state = goto_state(stack_[size_ - 1].state, kRules[size_t(rule)].left);
    return push({state, *value, 0});
  }

  std::array<Entry, kEvaluatorStackSize> stack_;
  int size_ = 0;
};

}  // namespace

std::optional<double> arithmetic_value(std::string_view text) { return Parser().run(text); }

std::optional<double> storable_value(std::string_view text) {
  std::optional<double> value = arithmetic_value(text);
  if (value && !std::isfinite(*value)) return std::nullopt;
  return value;
}

double evaluate_arithmetic(std::string& text, bool& ok) {
  std::optional<double> value = arithmetic_value(text);
  if (!value) {
    ok = false;
    return 0;
  }
  for (char& c : text) c = upper(c);
  return *value;
}

}  // namespace kora
