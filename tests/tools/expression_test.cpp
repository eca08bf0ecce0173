// The arithmetic evaluator over one table of texts: precedence and
// associativity, the unary minus, numbers, functions, and every way a text
// fails (syntax, zero divisor, stack overflow, ROUND/TRUNC out of range).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tools/expression.h"

namespace kora {
namespace {

struct ArithmeticCase {
  std::string text;
  bool ok;
  double value;  // expected when ok; NAN for a NaN result
};

// n opening parentheses around 1 and n closing ones.
std::string nested(int n) { return std::string(size_t(n), '(') + "1" + std::string(size_t(n), ')'); }

TEST(ArithmeticEvaluator, TableOfTexts) {
  const ArithmeticCase cases[] = {
      {"2^3^2", true, 512},
      {"-2^2", true, 4},
      {"2*-3", true, -6},
      {"1+2*3-4/2", true, 5},
      {"10-4-3", true, 3},
      {"(1+2)*3", true, 9},
      {"--2", false, 0},
      {"3*--2", false, 0},
      {"+2", false, 0},
      {"1/0", false, 0},
      {"1/(2-2)", false, 0},
      {"ROUND(2.5)", true, 3},
      {"ROUND(-2.5)", true, -2},
      {"TRUNC(-2.7)", true, -2},
      {"POW10(2)", true, 1024},
      {"sqrt(16)", true, 4},
      {"sqr(3)+abs(-2)", true, 11},
      {"log10(1000)", true, 3},
      {"-cos(0)", true, -1},
      {"1.5E+2", true, 150},
      {"1.5e2", true, 150},
      {"2E", true, 2},
      {".5*4", true, 2},
      {" 1 +  2 ", true, 3},
      {".", false, 0},
      {"1.2.3", false, 0},
      {"2:3", false, 0},
      {"", false, 0},
      {"(1+2", false, 0},
      {"1+2)", false, 0},
      {"FOO(1)", false, 0},
      {"SQRT 4", false, 0},
      {"1 2", false, 0},
      {"(-3.00)-(-3)", true, 0},
      // Domain errors pass their NaN on; ROUND and TRUNC cannot take it.
      {"SQRT(-1)", true, NAN},
      {"ROUND(SQRT(-1))", false, 0},
      {"TRUNC(2147483647.9)", true, 2147483647},
      {"TRUNC(-2147483648.5)", true, -2147483648.0},
      {"TRUNC(2147483648)", false, 0},
      {"ROUND(2147483646.9)", true, 2147483647},
      {"ROUND(2147483647.5)", false, 0},
      {"ROUND(-1E30)", false, 0},
      // The stack holds 30 entries: 27 nested parentheses fit, 28 need a 31st.
      {nested(27), true, 1},
      {nested(28), false, 0},
      {"-" + nested(26), true, -1},
      // Length alone is no limit: a long flat sum uses a few entries.
      {"1" + std::string(2000, ' ') + "+1", true, 2},
  };
  for (const ArithmeticCase& c : cases) {
    std::optional<double> value = arithmetic_value(c.text);
    ASSERT_EQ(value.has_value(), c.ok) << c.text;
    if (!c.ok) continue;
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(*value)) << c.text;
    } else {
      EXPECT_DOUBLE_EQ(*value, c.value) << c.text;
    }
  }
}

TEST(ArithmeticEvaluator, LongSumsAndStorableValues) {
  std::string sum = "0";
  for (int i = 1; i <= 400; ++i) sum.append("+").append(std::to_string(i));
  EXPECT_EQ(arithmetic_value(sum), 80200.0);

  EXPECT_EQ(storable_value("2*3"), 6.0);
  EXPECT_FALSE(storable_value("SQRT(-1)"));
  EXPECT_FALSE(storable_value("EXP(1000)"));
  EXPECT_FALSE(storable_value("-EXP(1000)"));

  std::string text = "sqrt(16)+round(0.4)";
  bool ok = true;
  EXPECT_EQ(evaluate_arithmetic(text, ok), 4.0);
  EXPECT_TRUE(ok);
  EXPECT_EQ(text, "SQRT(16)+ROUND(0.4)");
  text = "sqrt(";
  EXPECT_EQ(evaluate_arithmetic(text, ok), 0.0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(text, "sqrt(");
}

}  // namespace
}  // namespace kora
