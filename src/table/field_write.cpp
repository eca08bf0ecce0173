#include "table/field_write.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "table/byte_order.h"
#include "table/dbase7_values.h"
#include "table/vfp_fields.h"

namespace kora {

namespace {

// An exponent beyond this moves the point past any field's width.
constexpr int kLargestExponent = 400;

bool is_blank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }
bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && (is_blank(text.back()) || text.back() == 0)) text.remove_suffix(1);
  return text;
}

// The bytes of field i in the table's current record; empty when the
// descriptor points outside it.
std::span<uint8_t> field_bytes(Table& table, int i) {
  if (i < 0 || i >= table.field_count()) return {};
  long offset = table.fields[size_t(i)].offset;
  long end = offset + field_length(table, i);
  if (offset < 1 || end > long(table.record_size) || end > long(table.record.size())) return {};
  return {table.record.data() + offset, size_t(end - offset)};
}

std::span<const uint8_t> field_bytes(const Table& table, RecordImage record, int i) {
  if (i < 0 || i >= table.field_count()) return {};
  long offset = table.fields[size_t(i)].offset;
  long end = offset + field_length(table, i);
  if (offset < 1 || end > long(table.record_size) || end > long(record.size())) return {};
  return record.subspan(size_t(offset), size_t(end - offset));
}

void shift_point(DecimalText& n, long exponent) {
  for (; exponent > 0; --exponent) {
    n.whole += n.fraction.empty() ? '0' : n.fraction.front();
    if (!n.fraction.empty()) n.fraction.erase(0, 1);
  }
  for (; exponent < 0; ++exponent) {
    n.fraction.insert(0, 1, n.whole.empty() ? '0' : n.whole.back());
    if (!n.whole.empty()) n.whole.pop_back();
  }
}

// ---- numbers ----------------------------------------------------------------------

}  // namespace

bool format_number_field(DecimalText number, int length, int decimals, std::string& out) {
  round_decimal(number, decimals);
  out = decimal_string(number);
  // A field one wider than its decimals has no room for the leading zero.
  if (decimals > 0 && length == decimals + 1 && number.whole.empty()) out.erase(out.find('0'), 1);
  if (out.size() > size_t(length)) return false;
  out.insert(0, size_t(length) - out.size(), ' ');
  return true;
}

namespace {

// The integer part of the number, truncated toward zero, when it lies
// within [low, high].
bool whole_in_range(const DecimalText& number, long long low, long long high, long long& value) {
  if (number.whole.size() > 18) return false;
  long long magnitude = 0;
  for (char ch : number.whole) magnitude = magnitude * 10 + (ch - '0');
  value = number.negative ? -magnitude : magnitude;
  return value >= low && value <= high;
}

FieldWrite store_number_text(std::span<uint8_t> bytes, const DecimalText& number, int decimals) {
  std::string text;
  if (!format_number_field(number, int(bytes.size()), decimals, text)) return FieldWrite::kDoesNotFit;
  std::memcpy(bytes.data(), text.data(), bytes.size());
  return FieldWrite::kStored;
}

FieldWrite store_currency(std::span<uint8_t> bytes, DecimalText number) {
  if (bytes.size() < 8) return FieldWrite::kNotWritable;
  // Amounts keep four decimals; more are cut off toward zero.
  number.fraction.resize(4, '0');
  std::string digits = number.whole + number.fraction;
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  if (digits.size() > 19) return FieldWrite::kOutOfRange;
  unsigned long long magnitude = 0;
  for (char ch : digits) magnitude = magnitude * 10 + unsigned(ch - '0');
  if (magnitude > (number.negative ? 9223372036854775808ULL : 9223372036854775807ULL)) return FieldWrite::kOutOfRange;
  put_le64(bytes.data(), number.negative ? 0 - magnitude : magnitude);
  return FieldWrite::kStored;
}

bool to_double(const DecimalText& number, double& value) {
  std::string text = decimal_string(number);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

FieldWrite store_numeric(Table& table, int i, std::span<uint8_t> bytes, std::string_view text) {
  DecimalText number;
  if (!parse_decimal(text, number)) return FieldWrite::kNotANumber;
  char type = field_type(table, i);
  bool dbase7 = table.layout == DescriptorLayout::kDBase7;
  long long whole = 0;
  double value = 0;
  switch (type) {
    case 'N':
    case 'F': return store_number_text(bytes, number, field_decimals(table, i));
    case 'Y': return store_currency(bytes, number);
    case 'I':
    case '+':
      if (bytes.size() < 4) return FieldWrite::kNotWritable;
      // The smallest long is the blank value in dBase 7's form.
      if (!whole_in_range(number, dbase7 || type == '+' ? -2147483647LL : -2147483648LL, 2147483647LL, whole))
        return FieldWrite::kOutOfRange;
      if (dbase7 || type == '+') {
        put_dbase7_long(bytes.data(), int32_t(whole));
      } else {
        put_le32(bytes.data(), uint32_t(int32_t(whole)));
      }
      return FieldWrite::kStored;
    case 'B':
    case 'O':
      if (bytes.size() < 8) return FieldWrite::kNotWritable;
      if (!to_double(number, value)) return FieldWrite::kOutOfRange;
      if (type == 'O') {
        put_dbase7_double(bytes.data(), value);
      } else {
        put_le64(bytes.data(), std::bit_cast<uint64_t>(value));
      }
      return FieldWrite::kStored;
    default: return FieldWrite::kNotWritable;
  }
}

// ---- dates ------------------------------------------------------------------------

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool date_exists(int year, int month, int day) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  return day <= kDays[month - 1] + (month == 2 && is_leap(year) ? 1 : 0);
}

// Reads up to `most` digits; false when there is none.
bool read_group(std::string_view& text, size_t most, int& value, size_t& count) {
  value = 0;
  count = 0;
  while (count < text.size() && count < most && is_digit(text[count])) value = value * 10 + (text[count++] - '0');
  text.remove_prefix(count);
  return count > 0;
}

bool all_digits(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), is_digit); }

int number_at(std::string_view text, size_t at, size_t n) {
  int value = 0;
  for (size_t k = at; k < at + n; ++k) value = value * 10 + (text[k] - '0');
  return value;
}

// The date written in the table's order (day, month, year for format 1;
// month, day, year for 2; year, month, day otherwise) with one separator
// between the parts, or as the eight stored digits. The year has four digits.
bool read_date_part(std::string_view& text, int date_format, int& year, int& month, int& day) {
  if (text.size() >= 8 && all_digits(text.substr(0, 8)) && (text.size() == 8 || !is_digit(text[8]))) {
    year = number_at(text, 0, 4), month = number_at(text, 4, 2), day = number_at(text, 6, 2);
    text.remove_prefix(8);
    return true;
  }
  int parts[3] = {0, 0, 0};
  size_t digits[3] = {0, 0, 0};
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      if (text.empty() || !std::strchr("./-,", text.front())) return false;
      text.remove_prefix(1);
    }
    if (!read_group(text, 4, parts[k], digits[k])) return false;
  }
  int y = date_format == 1 || date_format == 2 ? 2 : 0;
  int m = date_format == 2 ? 0 : 1;
  int d = date_format == 1 ? 0 : date_format == 2 ? 1 : 2;
  if (digits[y] != 4 || digits[m] > 2 || digits[d] > 2) return false;
  year = parts[y], month = parts[m], day = parts[d];
  return true;
}

// hh[:mm[:ss]] or hhmmss after the date.
bool read_time_part(std::string_view text, int& hour, int& minute, int& second) {
  hour = minute = second = 0;
  text = trimmed(text);
  if (!text.empty() && (text.front() == 'T' || text.front() == 't')) text = trimmed(text.substr(1));
  if (text.empty()) return true;
  if (text.size() == 6 && all_digits(text)) {
    hour = number_at(text, 0, 2), minute = number_at(text, 2, 2), second = number_at(text, 4, 2);
  } else {
    int* parts[3] = {&hour, &minute, &second};
    size_t count = 0;
    for (int k = 0; k < 3 && !text.empty(); ++k) {
      if (k > 0) {
        if (text.front() != ':') return false;
        text.remove_prefix(1);
      }
      if (!read_group(text, 2, *parts[k], count)) return false;
    }
    if (!text.empty()) return false;
  }
  return hour < 24 && minute < 60 && second < 60;
}

struct TypedDate {
  bool blank = false;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

bool parse_date_text(std::string_view text, int date_format, bool with_time, TypedDate& out) {
  text = trimmed(text);
  if (text.empty() || text.find_first_not_of("0./-,: ") == std::string_view::npos) {
    out.blank = true;  // no date, or the zeros of an empty date's template
    return true;
  }
  if (with_time && text.size() == 14 && all_digits(text)) {
    out.year = number_at(text, 0, 4), out.month = number_at(text, 4, 2), out.day = number_at(text, 6, 2);
    out.hour = number_at(text, 8, 2), out.minute = number_at(text, 10, 2), out.second = number_at(text, 12, 2);
    return date_exists(out.year, out.month, out.day) && out.hour < 24 && out.minute < 60 && out.second < 60;
  }
  if (!read_date_part(text, date_format, out.year, out.month, out.day)) return false;
  if (!date_exists(out.year, out.month, out.day)) return false;
  if (!with_time) return trimmed(text).empty();
  return read_time_part(text, out.hour, out.minute, out.second);
}

FieldWrite store_date(Table& table, int i, std::span<uint8_t> bytes, std::string_view text) {
  char type = field_type(table, i);
  bool with_time = type != 'D';
  TypedDate date;
  if (!parse_date_text(text, table.date_format, with_time, date)) return FieldWrite::kImpossibleDate;
  if (date.blank) {
    blank_field(table, i);
    return FieldWrite::kStored;
  }
  long day_number = julian_day_number(date.year, date.month, date.day);
  long ms = (long(date.hour) * 3600 + long(date.minute) * 60 + long(date.second)) * 1000;
  if (type == '@') {
    if (bytes.size() < 8) return FieldWrite::kNotWritable;
    put_dbase7_timestamp(bytes.data(), {day_number, ms});
    return FieldWrite::kStored;
  }
  if (type == 'T' && field_length_byte(table, i) == 8) {
    put_le32(bytes.data(), uint32_t(day_number));
    put_le32(bytes.data() + 4, uint32_t(ms));
    return FieldWrite::kStored;
  }
  char digits[32];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d", date.year, date.month, date.day, date.hour,
                date.minute, date.second);
  std::memcpy(bytes.data(), digits, std::min(bytes.size(), size_t(14)));
  return FieldWrite::kStored;
}

// ---- the rest ---------------------------------------------------------------------

FieldWrite store_logical(std::span<uint8_t> bytes, std::string_view text) {
  text = trimmed(text);
  if (text.size() >= 3 && text.front() == '.' && text.back() == '.') text = text.substr(1, text.size() - 2);
  char ch = text.empty() ? ' ' : char(std::toupper(uint8_t(text.front())));
  if (ch == '?') ch = ' ';
  if (!std::strchr("TFYN ", ch) || bytes.empty()) return FieldWrite::kNotALogical;
  bytes[0] = uint8_t(ch);
  return FieldWrite::kStored;
}

// Trailing blanks are padding: a text fits when what is left of it does.
size_t text_length(std::string_view text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? 0 : end + 1;
}

FieldWrite store_text(Table& table, int i, std::span<uint8_t> bytes, std::string_view text) {
  size_t n = text_length(text);
  if (n > bytes.size()) return FieldWrite::kDoesNotFit;
  if (!is_variable_field(table, i)) {
    std::memcpy(bytes.data(), text.data(), n);
    std::memset(bytes.data() + n, ' ', bytes.size() - n);
    return FieldWrite::kStored;
  }
  std::memcpy(bytes.data(), text.data(), n);
  if (set_value_length(table, table.record.data(), table.record.size(), i, int(n))) {
    if (n + 1 < bytes.size()) std::memset(bytes.data() + n, 0, bytes.size() - n - 1);
  } else {
    std::memset(bytes.data() + n, field_type(table, i) == 'V' ? ' ' : 0, bytes.size() - n);
  }
  return FieldWrite::kStored;
}

FieldWrite store_value(Table& table, int i, std::span<uint8_t> bytes, std::string_view text) {
  char type = field_type(table, i);
  // Memo texts go through the memo file's own writers, never as a value.
  if (holds_reference(table, i) || !is_known_type_letter(type)) return FieldWrite::kNotWritable;
  if (type == 'C' || is_variable_field(table, i)) return store_text(table, i, bytes, text);
  if (trimmed(text).empty()) {
    blank_field(table, i);
    return FieldWrite::kStored;
  }
  switch (type) {
    case 'L': return store_logical(bytes, text);
    case 'D':
    case 'T':
    case '@': return store_date(table, i, bytes, text);
    case 'N':
    case 'F':
    case 'Y':
    case 'I':
    case '+':
    case 'B':
    case 'O': return store_numeric(table, i, bytes, text);
    default: return FieldWrite::kNotWritable;
  }
}

std::string type_and_width(const Table& table, int i) {
  char type = field_type(table, i);
  char text[32];
  if ((type == 'N' || type == 'F') && field_decimals(table, i) > 0) {
    std::snprintf(text, sizeof text, "%c %d.%d", type, field_length(table, i), field_decimals(table, i));
  } else {
    std::snprintf(text, sizeof text, "%c %d", type, field_length(table, i));
  }
  return text;
}

}  // namespace

// ---- decimal numbers --------------------------------------------------------------

bool parse_decimal(std::string_view text, DecimalText& out) {
  out = {};
  text = trimmed(text);
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    out.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  size_t k = 0;
  bool digits = false;
  for (; k < text.size() && is_digit(text[k]); ++k) out.whole += text[k], digits = true;
  if (k < text.size() && (text[k] == '.' || text[k] == ',')) {
    for (++k; k < text.size() && is_digit(text[k]); ++k) out.fraction += text[k], digits = true;
  }
  if (!digits) return false;
  if (k < text.size() && (text[k] == 'e' || text[k] == 'E')) {
    std::string_view rest = text.substr(k + 1);
    long exponent = 0;
    auto [end, ec] = std::from_chars(rest.data() + (!rest.empty() && rest.front() == '+'), rest.data() + rest.size(),
                                     exponent);
    if (ec != std::errc() || end != rest.data() + rest.size() || std::labs(exponent) > kLargestExponent) return false;
    shift_point(out, exponent);
    k = text.size();
  }
  if (k != text.size()) return false;
  out.whole.erase(0, std::min(out.whole.find_first_not_of('0'), out.whole.size()));
  return true;
}

void round_decimal(DecimalText& number, int decimals) {
  size_t keep = size_t(std::max(decimals, 0));
  if (number.fraction.size() <= keep) {
    number.fraction.resize(keep, '0');
    return;
  }
  bool up = number.fraction[keep] >= '5';
  number.fraction.resize(keep);
  if (!up) return;
  std::string digits = number.whole + number.fraction;
  size_t at = digits.size();
  while (at > 0 && digits[at - 1] == '9') digits[--at] = '0';
  if (at == 0) {
    digits.insert(0, 1, '1');
  } else {
    ++digits[at - 1];
  }
  number.whole = digits.substr(0, digits.size() - keep);
  number.fraction = digits.substr(digits.size() - keep);
}

std::string decimal_string(const DecimalText& number) {
  bool zero = number.whole.find_first_not_of('0') == std::string::npos &&
              number.fraction.find_first_not_of('0') == std::string::npos;
  std::string out = number.negative && !zero ? "-" : "";
  out += number.whole.empty() ? "0" : number.whole;
  if (!number.fraction.empty()) out += '.' + number.fraction;
  return out;
}

std::string number_text(double value) {
  char digits[400];  // the largest double has 309 digits
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
  return ec == std::errc() ? std::string(digits, end) : std::string();
}

// ---- stored values ----------------------------------------------------------------

namespace {

bool all_bytes(std::span<const uint8_t> bytes, uint8_t a, uint8_t b) {
  return std::all_of(bytes.begin(), bytes.end(), [&](uint8_t ch) { return ch == a || ch == b; });
}

// A number as the field stores it; a NUL stands for a blank, as when shown.
FieldWrite check_stored_number(std::string_view raw) {
  if (raw.find('\0') == std::string_view::npos) {
    // dBase II leaves the point of an empty field's picture: no digit, no number.
    std::string_view text = trimmed(raw);
    if (text.empty() || text == ".") return FieldWrite::kStored;
    DecimalText number;
    return parse_decimal(raw, number) ? FieldWrite::kStored : FieldWrite::kNotANumber;
  }
  std::string text(raw);
  std::replace(text.begin(), text.end(), '\0', ' ');
  return check_stored_number(text);
}

}  // namespace

FieldWrite stored_value_check(const Table& table, RecordImage record, int i) {
  std::span<const uint8_t> bytes = field_bytes(table, record, i);
  if (bytes.empty() || is_null_field(table, record, i)) return FieldWrite::kStored;
  std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  TypedDate date;
  switch (field_type(table, i)) {
    case 'N':
    case 'F': return check_stored_number(raw);
    case 'L': return raw[0] != 0 && std::strchr("TtYyFfNn? ", raw[0]) ? FieldWrite::kStored : FieldWrite::kNotALogical;
    case 'D':
      // The stored form is YYYYMMDD, whatever order the table shows dates in.
      return parse_date_text(raw, 3, false, date) ? FieldWrite::kStored : FieldWrite::kImpossibleDate;
    case 'T':
      if (field_length_byte(table, i) != 8)
        return parse_date_text(raw, 3, true, date) ? FieldWrite::kStored : FieldWrite::kImpossibleDate;
      [[fallthrough]];
    case '@':
      // Binary day numbers: all zero bytes (or blanks) hold no date.
      if (all_bytes(bytes, 0, ' ')) return FieldWrite::kStored;
      return is_valid_date(field_date(table, record, i)) ? FieldWrite::kStored : FieldWrite::kImpossibleDate;
    default: return FieldWrite::kStored;
  }
}

// ---- the door ---------------------------------------------------------------------

FieldWrite set_field_text(Table& table, int i, std::string_view text) {
  std::span<uint8_t> bytes = field_bytes(table, i);
  if (bytes.empty()) return FieldWrite::kNotWritable;
  std::vector<uint8_t> old(bytes.begin(), bytes.end());
  // Varchar lengths and null bits live in another field, kept with the rest.
  std::vector<uint8_t> old_record;
  bool flags = table.null_flags_field >= 0;
  size_t record_bytes = std::min(table.record.size(), size_t(table.record_size));
  if (flags) old_record.assign(table.record.begin(), table.record.begin() + long(record_bytes));
  FieldWrite result = store_value(table, i, bytes, text);
  if (result == FieldWrite::kStored) {
    // A value written into a nullable field is no longer null.
    set_field_null(table, table.record.data(), table.record.size(), i, false);
  } else if (flags) {
    std::copy(old_record.begin(), old_record.end(), table.record.begin());
  } else {
    std::copy(old.begin(), old.end(), bytes.begin());
  }
  return result;
}

std::string field_label(const Table& table, int i) {
  if (i < 0 || i >= table.field_count()) return "?";
  std::string label = field_name(table, i);
  label += " (";
  label += type_and_width(table, i);
  label += ')';
  return label;
}

std::string field_write_message(const Table& table, int i, FieldWrite result) {
  std::string field_with_type = field_label(table, i);
  switch (result) {
    case FieldWrite::kStored: return "";
    case FieldWrite::kNotANumber: return "The value is not a number: field " + field_with_type;
    case FieldWrite::kDoesNotFit: return "The value does not fit the field " + field_with_type;
    case FieldWrite::kOutOfRange: return "The value is out of range for the field " + field_with_type;
    case FieldWrite::kImpossibleDate: return "No such date or time: field " + field_with_type;
    case FieldWrite::kNotALogical: return "A logical value is T, F, Y, N or blank: field " + field_with_type;
    case FieldWrite::kNotWritable: return "The field " + field_with_type + " takes no values";
  }
  return "";
}

std::string field_value_text(const Table& table, RecordImage record, int i) {
  std::span<const uint8_t> bytes = field_bytes(table, record, i);
  if (bytes.empty() || is_null_field(table, record, i)) return "";
  std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  char type = field_type(table, i);
  DecimalText number;
  switch (type) {
    case 'C': {
      std::string_view text = raw.substr(0, std::min(raw.find('\0'), raw.size()));
      return std::string(text.substr(0, text_length(text)));
    }
    case 'N':
    case 'F': return parse_decimal(raw, number) ? decimal_string(number) : "";
    case 'L': return raw.empty() || raw[0] == ' ' ? "" : std::string(1, raw[0]);
    case 'D':
    case 'T':
    case '@': {
      if (is_date_blank(table, record, i)) return "";
      DateParts d = field_date(table, record, i);
      char digits[32];
      std::snprintf(digits, sizeof digits, type == 'D' ? "%04d%02d%02d" : "%04d%02d%02d%02d%02d%02d", d.year,
                    d.month + 1, d.day, d.hour, d.minute, d.second);
      return digits;
    }
    default: break;
  }
  if (holds_reference(table, i) || !is_numeric_field(table, i)) return std::string(raw);
  if (type == 'B' || type == 'O') {
    char digits[64];
    double value = double(field_number(table, record, i));
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    return ec == std::errc() ? std::string(digits, end) : "";
  }
  std::string text = field_text(table, record, i);
  return std::string(trimmed(text));
}

}  // namespace kora
