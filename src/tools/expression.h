// The arithmetic evaluator: a number from a text of numbers, the operators
// + - * / ^, parentheses and the mathematical functions (ABS, SQRT, ROUND,
// ...). It is a shift-reduce parser over a fixed table of states whose stack
// holds at most kEvaluatorStackSize entries, which is what bounds nesting;
// the text itself may be of any length.
//
// Precedence: + and - (left), * and / (left), ^ (right: 2^3^2 is 512); a
// unary minus binds tighter than ^ (-2^2 is 4) and stands only before a
// number, a function or a parenthesis.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kora {

constexpr int kEvaluatorStackSize = 30;

// The value of an arithmetic text, or nothing on a syntax error, an unknown
// name, a zero divisor, a stack overflow or a ROUND/TRUNC argument outside
// the 32-bit integer range. Domain errors of the math functions are not
// errors: their NaN or infinity is passed on (comparisons see it).
std::optional<double> arithmetic_value(std::string_view text);

// The same, refusing a result that is not finite: for values that are kept
// or stored (a field, a computed column, the calculator's memory).
std::optional<double> storable_value(std::string_view text);

// The calculator's form: on success the value, and the text upper-cased in
// place; on failure 0 with ok set to false (ok is left alone on success).
double evaluate_arithmetic(std::string& text, bool& ok);

}  // namespace kora
