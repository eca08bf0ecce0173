#include "tools/typed_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <strings.h>

#include "table/field_write.h"
#include "table/memo_file.h"
#include "table/text_code_page.h"
#include "table/vfp_fields.h"

namespace kora {

namespace {

TypedSource source_of(const Table& table, int i, char type) {
  if (i >= table.field_count()) return TypedSource::kComputed;
  if (is_memo_field(table, i)) return TypedSource::kMemo;
  switch (type) {
    case 'C': return TypedSource::kText;
    case 'N':
    case 'F': return TypedSource::kNumber;
    case 'I':
    case '+': return TypedSource::kInteger;
    case 'Y': return TypedSource::kCurrency;
    case 'B':
    case 'O': return TypedSource::kReal;
    case 'L': return TypedSource::kLogical;
    case 'D': return TypedSource::kDate;
    case 'T':
    case '@': return TypedSource::kTimestamp;
    case 'V': return TypedSource::kVarText;
    case 'Q': return TypedSource::kVarBinary;
    default: return TypedSource::kOther;
  }
}

bool all_ascii(std::string_view bytes) {
  for (char ch : bytes)
    if (uint8_t(ch) >= 0x80) return false;
  return true;
}

// Text in the column's code page as UTF-8; ASCII, the usual case, as it is.
void to_utf8(const TypedColumn& c, std::string_view bytes, std::string& out) {
  if (all_ascii(bytes) || !c.page) {
    out.assign(bytes);
    return;
  }
  out = c.page->to_utf8(bytes);
}

std::string_view stored(RecordImage image, size_t offset, size_t length) {
  if (offset + length > image.size()) return {};
  return std::string_view(reinterpret_cast<const char*>(image.data()) + offset, length);
}

// A Character field's bytes without the blanks and NULs that pad it (a NUL
// inside it stays); whether all are ASCII. The blanks are dropped from the
// end first, then the rest is read eight bytes at a time: most fields are
// half blanks.
std::string_view text_bytes(std::string_view raw, bool* ascii = nullptr) {
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  size_t end = raw.size();
  for (uint64_t word; end >= 8; end -= 8) {
    std::memcpy(&word, raw.data() + end - 8, 8);
    if (word != 0x2020202020202020ull) break;
  }
  end = text_value_end(raw.substr(0, end));
  uint64_t high = 0;
  size_t k = 0;
  for (; k + 8 <= end; k += 8) {
    uint64_t word;
    std::memcpy(&word, raw.data() + k, 8);
    high |= word;
  }
  for (; k < end; ++k) high |= uint8_t(raw[k]);
  if (ascii) *ascii = (high & kHighs) == 0;
  return raw.substr(0, end);
}

// A Character field: ASCII, the usual case, read where it is stored.
void text_value(const TypedColumn& c, std::string_view raw, TypedValue& out) {
  bool ascii = false;
  std::string_view text = text_bytes(raw, &ascii);
  out.kind = TypedKind::kText;
  if (ascii) {
    out.view = text;
    return;
  }
  to_utf8(c, text, out.text);
}

void two_digits(std::string& out, char separator, int value) {
  out += separator;
  out += char('0' + value / 10 % 10);
  out += char('0' + value % 10);
}

std::string iso_timestamp(const DateParts& d) {
  std::string out = std::to_string(d.year);
  if (out.size() < 4) out.insert(0, 4 - out.size(), '0');
  two_digits(out, '-', d.month + 1);
  two_digits(out, '-', d.day);
  two_digits(out, 'T', d.hour);
  two_digits(out, ':', d.minute);
  two_digits(out, ':', d.second);
  return out;
}

// Currency is a whole number of ten-thousandths: shown with its four places.
void currency_text(std::string_view raw, std::string& out) {
  uint64_t bits = 0;
  for (size_t k = 0; k < 8 && k < raw.size(); ++k) bits |= uint64_t(uint8_t(raw[k])) << (8 * k);
  bool negative = int64_t(bits) < 0;
  uint64_t magnitude = negative ? ~bits + 1 : bits;
  std::string digits = std::to_string(magnitude);
  if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
  out.clear();
  if (negative) out += '-';
  out.append(digits, 0, digits.size() - 4).append(1, '.').append(digits, digits.size() - 4, 4);
}

void memo_value(Table& table, const TypedColumn& c, TypedValue& out) {
  uint32_t block_type = 1;
  std::string bytes;
  if (memo_block_number(table, c.index) == 0) return;
  if (!read_memo(table, c.index, bytes, true, &block_type)) {
    // A missing memo file is told once, not per record.
    out.unreadable = !memo_file_missing(table);
    return;
  }
  if (c.binary_memo || memo_holds_bytes(bytes, block_type)) {
    out.kind = TypedKind::kBinary;
    out.text = std::move(bytes);
    return;
  }
  out.kind = TypedKind::kText;
  to_utf8(c, bytes, out.text);
}

void number_value(std::string_view raw, TypedValue& out) {
  out.kind = json_number(raw, out.text) ? TypedKind::kNumber : TypedKind::kNull;
}

void integer_value(const Table& table, const TypedColumn& c, RecordImage image, TypedValue& out) {
  out.text = field_value_text(table, image, c.index);
  auto [end, ec] = std::from_chars(out.text.data(), out.text.data() + out.text.size(), out.integer);
  out.kind = ec == std::errc() && end == out.text.data() + out.text.size() ? TypedKind::kInteger : TypedKind::kNull;
}

void real_value(const Table& table, const TypedColumn& c, RecordImage image, TypedValue& out) {
  out.real = double(field_number(table, image, c.index));
  out.text = field_value_text(table, image, c.index);
  // JSON and SQL have no infinities or NaN.
  out.kind = std::isfinite(out.real) && !out.text.empty() ? TypedKind::kReal : TypedKind::kNull;
}

void logical_value(std::string_view raw, TypedValue& out) {
  char ch = raw.empty() ? ' ' : raw[0];
  out.kind = TypedKind::kBool;
  if (ch == 'T' || ch == 't' || ch == 'Y' || ch == 'y') out.flag = true;
  else if (ch == 'F' || ch == 'f' || ch == 'N' || ch == 'n') out.flag = false;
  else out.kind = TypedKind::kNull;
}

void date_value(const Table& table, const TypedColumn& c, RecordImage image, std::string_view raw, TypedValue& out) {
  if (raw.size() == 8 && std::all_of(raw.begin(), raw.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
    out.kind = TypedKind::kDate;
    out.text.assign(raw.substr(0, 4)).append(1, '-').append(raw.substr(4, 2)).append(1, '-').append(raw.substr(6, 2));
    return;
  }
  if (is_date_blank(table, image, c.index)) {
    out.kind = TypedKind::kNull;
    return;
  }
  out.kind = TypedKind::kDate;
  out.text = iso_timestamp(field_date(table, image, c.index)).substr(0, 10);
}

void computed_value(const Table& table, const TypedColumn& c, RecordImage image, TypedValue& out) {
  std::string text = field_text(table, image, c.index);
  if (c.type == 'N' || c.type == 'F') return number_value(text, out);
  out.kind = TypedKind::kText;
  to_utf8(c, text_bytes(text), out.text);
}

// Keys and column names must differ, also in letter case: a name taken
// before gets _2, _3, ... (some writers give two fields one name).
std::string unique_name(const std::vector<TypedColumn>& columns, const std::string& name) {
  auto taken = [&](const std::string& n) {
    return std::any_of(columns.begin(), columns.end(),
                       [&](const TypedColumn& c) { return strcasecmp(c.name.c_str(), n.c_str()) == 0; });
  };
  std::string out = name;
  for (int n = 2; taken(out); ++n) {
    out = name;
    out += '_';
    out += std::to_string(n);
  }
  return out;
}

}  // namespace

std::vector<TypedColumn> typed_columns(const Table& table) {
  std::vector<TypedColumn> columns;
  // Opening decides the page; a table made otherwise reads as the screen would.
  std::shared_ptr<const CodePage> page = table.code_page;
  if (!page) page = CodePage::of_number(table.ansi_text ? 1251 : 866);
  for (int k = 0; k < column_count(table); ++k) {
    int i = column_field(table, k);
    if (i < 0) continue;
    TypedColumn c{i, field_type(table, i), TypedSource::kOther, false, 0, 0, 0, {}, {}};
    if (i >= table.field_count()) {
      const ComputedColumn* computed = computed_column(table.columns, i);
      c.type = computed ? computed->type : 'C';
      c.name = page ? page->to_utf8(column_name(table, i)) : column_name(table, i);
    } else {
      c.length = field_length(table, i);
      c.decimals = field_decimals(table, i);
      c.offset = field_desc(table, i)->offset;
      c.name = field_name_utf8(table, i);
    }
    c.page = page;
    c.name = unique_name(columns, c.name);
    c.source = source_of(table, i, c.type);
    c.binary_memo = c.source == TypedSource::kMemo && c.type != 'M';
    columns.push_back(std::move(c));
  }
  return columns;
}

namespace {

void value_into(Table& table, const TypedColumn& c, RecordImage image, TypedValue& out) {
  out.kind = TypedKind::kNull;
  if (c.source == TypedSource::kComputed) return computed_value(table, c, image, out);
  if (is_null_field(table, image, c.index)) return;
  std::string_view raw = stored(image, c.offset, size_t(c.length));
  if (raw.empty()) return;
  switch (c.source) {
    case TypedSource::kText: return text_value(c, raw, out);
    case TypedSource::kNumber: return number_value(raw, out);
    case TypedSource::kInteger: return integer_value(table, c, image, out);
    case TypedSource::kCurrency:
      out.kind = TypedKind::kNumber;
      return currency_text(raw, out.text);
    case TypedSource::kReal: return real_value(table, c, image, out);
    case TypedSource::kLogical: return logical_value(raw, out);
    case TypedSource::kDate: return date_value(table, c, image, raw, out);
    case TypedSource::kTimestamp:
      if (is_date_blank(table, image, c.index)) return;
      out.kind = TypedKind::kTimestamp;
      out.text = iso_timestamp(field_date(table, image, c.index));
      return;
    case TypedSource::kMemo: return memo_value(table, c, out);
    case TypedSource::kVarText:
      out.kind = TypedKind::kText;
      return to_utf8(c, raw.substr(0, size_t(value_length(table, image, c.index))), out.text);
    case TypedSource::kVarBinary:
      out.kind = TypedKind::kBinary;
      out.text.assign(raw.substr(0, size_t(value_length(table, image, c.index))));
      return;
    default:
      out.kind = TypedKind::kText;
      return to_utf8(c, field_value_text(table, image, c.index), out.text);
  }
}

}  // namespace

void typed_value(Table& table, const TypedColumn& c, RecordImage image, TypedValue& out) {
  out.view = {};
  out.unreadable = false;
  value_into(table, c, image, out);
  if (out.view.data() == nullptr) out.view = out.text;
}

bool json_number(std::string_view s, std::string& out) {
  out.clear();
  size_t at = s.find_first_not_of(' ');
  size_t end = s.find_last_not_of(' ');
  if (at == std::string_view::npos) return false;
  s = s.substr(at, end - at + 1);
  size_t k = 0;
  bool negative = false;
  if (k < s.size() && (s[k] == '-' || s[k] == '+')) negative = s[k++] == '-';
  auto digit = [&](size_t n) { return n < s.size() && s[n] >= '0' && s[n] <= '9'; };
  size_t whole = k;
  while (digit(k)) ++k;
  std::string_view whole_digits = s.substr(whole, k - whole);
  std::string_view fraction;
  if (k < s.size() && (s[k] == '.' || s[k] == ',')) {
    size_t first = ++k;
    while (digit(k)) ++k;
    fraction = s.substr(first, k - first);
  }
  if (whole_digits.empty() && fraction.empty()) return false;
  std::string_view exponent;
  if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
    size_t first = k++;
    if (k < s.size() && (s[k] == '-' || s[k] == '+')) ++k;
    if (!digit(k)) return false;
    while (digit(k)) ++k;
    exponent = s.substr(first, k - first);
  }
  if (k != s.size()) return false;
  whole_digits.remove_prefix(std::min(whole_digits.find_first_not_of('0'), whole_digits.size()));
  bool zero = whole_digits.empty() && fraction.find_first_not_of('0') == std::string_view::npos;
  if (negative && !zero) out += '-';
  if (whole_digits.empty()) out += '0';
  else out += whole_digits;
  if (!fraction.empty()) out.append(1, '.').append(fraction);
  out += exponent;
  return true;
}

bool memo_holds_bytes(std::string_view bytes, uint32_t block_type) {
  size_t last = bytes.find_last_not_of('\0');
  return block_type != 1 || (last != std::string_view::npos && bytes.find('\0') < last);
}

std::string unreadable_memo_warning(uint32_t record, std::string_view field) {
  std::string warning = "record ";
  warning += std::to_string(uint64_t(record) + 1);
  warning += ", field ";
  warning += field;
  warning += ": its memo cannot be read";
  return warning;
}

void note_unreadable(const TypedValue& value, const TypedColumn& column, uint32_t position,
                     std::vector<std::string>& warnings) {
  if (!value.unreadable || warnings.size() >= 1000) return;
  warnings.push_back(unreadable_memo_warning(position, column.name));
}

void append_base64(std::string& out, std::string_view bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t k = 0;
  for (; k + 3 <= bytes.size(); k += 3) {
    uint32_t n = uint32_t(uint8_t(bytes[k])) << 16 | uint32_t(uint8_t(bytes[k + 1])) << 8 | uint8_t(bytes[k + 2]);
    for (int shift : {18, 12, 6, 0}) out += kAlphabet[(n >> shift) & 63];
  }
  if (k == bytes.size()) return;
  uint32_t n = uint32_t(uint8_t(bytes[k])) << 16;
  if (k + 1 < bytes.size()) n |= uint32_t(uint8_t(bytes[k + 1])) << 8;
  out += kAlphabet[(n >> 18) & 63];
  out += kAlphabet[(n >> 12) & 63];
  out += k + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
  out += '=';
}

}  // namespace kora
