// String functions: the names, their arguments and results, and the one-pass
// expansion.
#include "tools/string_functions.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <string_view>
#include <vector>

#include "table/text_code_page.h"

namespace kora {
namespace {

enum StringFunction { kTrim, kLtrim, kRtrim, kSubstr, kLeft, kRight, kDtos, kSpace, kReplicate, kStr };

// Tried in this order at each position, without regard to case.
// SUBSTR( comes before the STR( it ends with.
constexpr std::array<std::string_view, 10> kStringFunctionNames = {
    "TRIM(", "LTRIM(", "RTRIM(", "SUBSTR(", "LEFT(", "RIGHT(", "DTOS(", "SPACE(", "REPLICATE(", "STR("};

// The function whose name starts at text[at], written by the expression itself.
int function_at(std::string_view text, const std::vector<bool>& own, size_t at) {
  for (size_t f = 0; f < kStringFunctionNames.size(); ++f) {
    std::string_view name = kStringFunctionNames[f];
    if (text.size() - at < name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) same = own[at + i] && std::toupper(uint8_t(text[at + i])) == name[i];
    if (same) return int(f);
  }
  return -1;
}

// A decimal count: leading blanks, a sign, digits; saturates instead of
// overflowing, so a huge count is simply larger than any text.
long long parse_count(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  long long n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    n = n > 1'000'000'000'000LL ? n : n * 10 + (text[i] - '0');
  }
  return negative ? -n : n;
}

// The first argument and the counts after it.
struct Arguments {
  std::string_view text;
  std::vector<long long> counts;
};

// Split at the commas the expression wrote; a comma of a value is text.
Arguments split_arguments(std::string_view argument, const std::vector<bool>& own, size_t offset) {
  Arguments args;
  std::vector<size_t> commas;
  for (size_t i = 0; i < argument.size(); ++i) {
    if (own[offset + i] && argument[i] == ',') commas.push_back(i);
  }
  commas.push_back(argument.size());
  args.text = argument.substr(0, commas[0]);
  for (size_t k = 0; k + 1 < commas.size(); ++k) {
    args.counts.push_back(parse_count(argument.substr(commas[k] + 1, commas[k + 1] - commas[k] - 1)));
  }
  return args;
}

size_t clamp_count(long long n, size_t size) { return n <= 0 ? 0 : size_t(n) < size ? size_t(n) : size; }

std::string_view trim_left(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}
std::string_view trim_right(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Date positions per format: year, month, day, then hour, minute, second.
struct DateLayout {
  std::array<int, 6> at;
  size_t date_end;  // characters the date needs
  size_t time_end;  // characters date and time need
};

const DateLayout& date_layout(int date_format) {
  static const DateLayout kRaw = {{0, 4, 6, 8, 10, 12}, 8, 14};
  static const DateLayout kLayouts[3] = {
      {{6, 3, 0, 11, 14, 17}, 10, 19},  // DD.MM.YYYY
      {{6, 0, 3, 11, 14, 17}, 10, 19},  // MM.DD.YYYY
      {{0, 5, 8, 11, 14, 17}, 10, 19},  // YYYY.MM.DD
  };
  return date_format >= 1 && date_format <= 3 ? kLayouts[date_format - 1] : kRaw;
}

// The date in the table's format as YYYYMMDD, and HHMMSS when the text is
// longer than 10 characters; a text too short for its pieces stays as it is.
std::string dtos(std::string_view s, int date_format) {
  const DateLayout& layout = date_layout(date_format);
  bool with_time = s.size() > 10;
  if (s.size() < (with_time ? layout.time_end : layout.date_end)) return std::string(s);
  static const int kWidths[6] = {4, 2, 2, 2, 2, 2};
  std::string out;
  for (int piece = 0; piece < (with_time ? 6 : 3); ++piece) out += s.substr(size_t(layout.at[size_t(piece)]), size_t(kWidths[piece]));
  return out;
}

// The first `count` characters of the text, in bytes.
size_t prefix_bytes(std::string_view s, size_t count, const CodePage* page) {
  return page ? page->character_offset(s, count) : std::min(count, s.size());
}

// The call's result; the argument starts at `offset` of the text `own` follows.
std::string apply(int function, std::string_view argument, const std::vector<bool>& own, size_t offset,
                  int date_format, const CodePage* page) {
  Arguments args = split_arguments(argument, own, offset);
  std::string_view s = args.text;
  size_t characters = page ? page->character_count(s) : s.size();
  switch (StringFunction(function)) {
    case kTrim: return std::string(trim_right(trim_left(s)));
    case kLtrim: return std::string(trim_left(s));
    case kRtrim: return std::string(trim_right(s));
    case kSubstr: {
      if (args.counts.empty()) return std::string(s);
      std::string_view rest = s.substr(prefix_bytes(s, clamp_count(args.counts[0], characters), page));
      size_t length = args.counts.size() > 1 ? clamp_count(args.counts[1], characters) : characters;
      return std::string(rest.substr(0, prefix_bytes(rest, length, page)));
    }
    case kLeft:
      if (args.counts.empty()) return std::string(s);
      return std::string(s.substr(0, prefix_bytes(s, clamp_count(args.counts[0], characters), page)));
    case kRight:
      if (args.counts.empty()) return std::string(s);
      return std::string(s.substr(prefix_bytes(s, characters - clamp_count(args.counts[0], characters), page)));
    case kDtos: return dtos(s, date_format);
    case kStr: return std::string(trim_right(trim_left(s)));  // a number's text without its padding
    case kSpace:
    case kReplicate: return std::string(s);
  }
  return std::string(s);
}

struct PendingCall {
  int function;
  size_t start;     // where the call's name begins in the output
  size_t argument;  // where its argument begins
  int depth;        // parentheses opened inside the argument
};

}  // namespace

void expand_string_functions(std::string& text, std::vector<bool>& own, int date_format, const CodePage* page) {
  // Single-byte pages count bytes as they always have.
  if (page && !page->multibyte()) page = nullptr;
  own.resize(text.size(), false);
  if (text.find('(') == std::string::npos) return;  // every call has one
  std::string out;
  std::vector<bool> out_own;
  std::vector<PendingCall> calls;
  for (size_t i = 0; i < text.size();) {
    int function = function_at(text, own, i);
    if (function >= 0) {
      size_t length = kStringFunctionNames[size_t(function)].size();
      calls.push_back({function, out.size(), out.size() + length, 0});
      out.append(text, i, length), out_own.resize(out.size(), true);
      i += length;
      continue;
    }
    char c = text[i];
    bool mine = own[i++];
    if (!calls.empty() && mine && c == '(') ++calls.back().depth;
    if (!calls.empty() && mine && c == ')' && calls.back().depth-- == 0) {
      PendingCall call = calls.back();
      calls.pop_back();
      std::string result =
          apply(call.function, std::string_view(out).substr(call.argument), out_own, call.argument, date_format, page);
      out.resize(call.start), out_own.resize(call.start);
      out += result, out_own.resize(out.size(), false);
      continue;
    }
    out += c, out_own.push_back(mine);
  }
  text = std::move(out);
  own = std::move(out_own);
}

bool calls_string_function(std::string_view text) {
  std::vector<bool> own(text.size(), true);
  for (size_t i = 0; i < text.size(); ++i) {
    if (function_at(text, own, i) >= 0) return true;
  }
  return false;
}

void expand_string_functions(std::string& text, int date_format) {
  std::vector<bool> own(text.size(), true);
  expand_string_functions(text, own, date_format);
}

}  // namespace kora
