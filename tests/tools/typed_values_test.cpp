// JSON numbers from stored digits, JSON strings and base64: the forms the
// JSON Lines and SQLite outputs are made of.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/jsonl_export.h"
#include "tools/typed_values.h"

namespace kora {
namespace {

TEST(TypedValues, StoredDigitsBecomeExactJsonNumbers) {
  const struct {
    const char* stored;
    const char* json;  // nullptr: no number
  } kCases[] = {
      {"   12.50", "12.50"}, {"-.5", "-0.5"},          {"5.", "5"},      {"  007", "7"},
      {"-0.00", "0.00"},    {"+3", "3"},               {"1,25", "1.25"}, {"0", "0"},
      {"1.5E+10", "1.5E+10"}, {"123456789012345678.12", "123456789012345678.12"},
      {"*****", nullptr},   {"      ", nullptr},       {".", nullptr},   {"1.2.3", nullptr},
      {"12 3", nullptr},    {"1e", nullptr},           {"abc", nullptr}, {"-", nullptr},
  };
  for (const auto& c : kCases) {
    std::string out;
    EXPECT_EQ(json_number(c.stored, out), c.json != nullptr) << c.stored;
    if (c.json) {
      EXPECT_EQ(out, c.json) << c.stored;
    }
  }
}

TEST(TypedValues, TextsAndBytesAreEscapedForJson) {
  std::string out;
  append_json_string(out, std::string("a\"b\\c\n\t\x01\x1f \xd0\x96", 13));
  EXPECT_EQ(out, "\"a\\\"b\\\\c\\n\\t\\u0001\\u001f \xd0\x96\\u0000\"");
  const char* const kBase64[][2] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xff\x00\x10", "/wAQ"}};
  for (const auto& [bytes, text] : kBase64) {
    out.clear();
    append_base64(out, std::string_view(bytes, bytes[0] == '\xff' ? 3 : std::strlen(bytes)));
    EXPECT_EQ(out, text);
  }
}

}  // namespace
}  // namespace kora
