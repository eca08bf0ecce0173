#include "table/value_codec.h"

#include <locale.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "table/byte_order.h"
#include "table/dbase7_values.h"
#include "table/field_write.h"
#include "table/memo_file.h"
#include "table/vfp_fields.h"

namespace kora {

const char* const kDefaultDateFormats[4] = {"%10s", "%02d.%02d.%04d", "%02d.%02d.%04d", "%04d.%02d.%02d"};
const char* const kDefaultDateTimeFormats[4] = {"%14s", "%02d.%02d.%04d %02d:%02d:%02d",
                                                "%02d.%02d.%04d %02d:%02d:%02d",
                                                "%04d.%02d.%02d %02d:%02d:%02d"};

ComputedColumnHooks computed_column_hooks;

namespace {

constexpr long kLastDayNumber = 5373484;  // 9999-12-31
constexpr long kDayNumberOfYearZero = 1721059;
constexpr long kDaysPer400Years = 146097;
constexpr int kMaxNumberChars = 31;

// The bytes of one field inside the record buffer; null when the descriptor
// points outside the record (a damaged header can say anything).
struct FieldSpan {
  uint8_t* data = nullptr;
  int length = 0;
};

// The same within a record image the caller holds.
struct ConstSpan {
  const uint8_t* data = nullptr;
  int length = 0;
};

// Where field i lies in a record of `available` bytes; false when outside.
bool field_place(const Table& table, int i, size_t available, long& offset, long& length) {
  if (i < 0 || i >= table.field_count()) return false;
  offset = table.fields[size_t(i)].offset;
  length = field_length(table, i);
  long end = offset + length;
  return offset >= 1 && end <= table.record_size && end <= long(available);
}

FieldSpan field_span(Table& table, int i) {
  long offset = 0, length = 0;
  if (!field_place(table, i, table.record.size(), offset, length)) return {};
  return {table.record.data() + offset, int(length)};
}

ConstSpan field_span(const Table& table, RecordImage record, int i) {
  long offset = 0, length = 0;
  if (!field_place(table, i, record.size(), offset, length)) return {};
  return {record.data() + offset, int(length)};
}

RecordImage current_record(const Table& table) { return RecordImage(table.record.data(), table.record.size()); }


// Bytes 16 and 17 of the descriptor read as one 16-bit number.
int length16(const Table& table, int i) { return field_length_byte(table, i) | (field_decimals(table, i) << 8); }

bool is_binary_datetime(const Table& table, int i) { return field_length_byte(table, i) == 8; }

// Longs in dBase 7's sorting form: the autoincrement type, and I in a
// dBase 7 table (Visual FoxPro's I is a plain little-endian integer).
bool is_dbase7_long(const Table& table, int i) {
  char type = field_type(table, i);
  return type == '+' || (type == 'I' && table.layout == DescriptorLayout::kDBase7);
}

char* text_buffer(Table& table) {
  if (table.text.size() < size_t(kRecordBufferSize) + 1) table.text.assign(size_t(kRecordBufferSize) + 1, 0);
  return table.text.data();
}

// Hands a decoded value out the old way, in the table's text buffer.
const char* set_text(Table& table, const std::string& text) {
  char* out = text_buffer(table);
  size_t n = std::min(text.size(), table.text.size() - 1);
  std::memcpy(out, text.data(), n);
  out[n] = 0;
  return out;
}

// Formats into a small buffer first: display texts are short, and a bulk
// walk formats several per record.
__attribute__((format(printf, 1, 2))) std::string print_string(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  char small[128];
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string out;
  if (n > 0 && size_t(n) < sizeof small) {
    out.assign(small, size_t(n));
  } else if (n > 0) {
    out.resize(size_t(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(size_t(n));
  }
  va_end(again);
  return out;
}


// A value read from the first `width` bytes of the field; 0 when the field
// is shorter than its binary form.
uint64_t read_le(const ConstSpan& span, int width) {
  if (!span.data || span.length < width) return 0;
  return width == 4 ? get_le32(span.data) : get_le64(span.data);
}

long long truncate_to_long_long(long double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0L) return INT64_MAX;
  if (value <= -9223372036854775808.0L) return INT64_MIN;
  return static_cast<long long>(value);
}

// The memo block number of an M, G or B field.
long long block_number(const Table& table, int i, const ConstSpan& span) {
  if (length16(table, i) == 4) return int32_t(uint32_t(read_le(span, 4)));
  return truncate_to_long_long(parse_number(std::string_view(reinterpret_cast<const char*>(span.data), size_t(span.length))));
}

bool is_blank_char(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// -------------------------------------------------------------- dates

long floor_div(long a, long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool is_leap_year(long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int month_length(long year, int month0) {
  static constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month0 == 1 && is_leap_year(year) ? 29 : kLengths[month0];
}

int year_length(long year) { return is_leap_year(year) ? 366 : 365; }

// Days of the years 0 .. year-1 (year 0 is a leap year).
long days_before_year(long year) {
  return 365 * year + floor_div(year + 3, 4) - floor_div(year + 99, 100) + floor_div(year + 399, 400);
}

// A decimal number of at most n characters at `pos`: leading spaces skipped,
// stops at the first non-digit; nothing there gives 0.
int read_digits(const char* text, size_t size, size_t pos, size_t n) {
  size_t end = std::min(size, pos + n);
  size_t k = pos;
  while (k < end && text[k] == ' ') ++k;
  int value = 0;
  for (; k < end && text[k] >= '0' && text[k] <= '9'; ++k) value = value * 10 + (text[k] - '0');
  return value;
}

DateParts decode_text_date(const ConstSpan& span, bool with_time) {
  DateParts date;
  const char* text = reinterpret_cast<const char*>(span.data);
  size_t size = size_t(span.length);
  date.year = read_digits(text, size, 0, 4);
  date.month = read_digits(text, size, 4, 2) - 1;
  date.day = read_digits(text, size, 6, 2);
  if (with_time) {
    date.hour = read_digits(text, size, 8, 2);
    date.minute = read_digits(text, size, 10, 2);
    date.second = read_digits(text, size, 12, 2);
  }
  return date;
}

// -------------------------------------------------------------- display

// "%W.Df" of the value, digit for digit as printf writes it in the C locale,
// without parsing a format for every field of every record a tool walks.
std::string fixed_text(double value, int width, int decimals) {
  char small[64];
  std::string out;
  std::to_chars_result r = std::to_chars(small, small + sizeof small, value, std::chars_format::fixed, decimals);
  if (r.ec == std::errc()) {
    out.assign(small, r.ptr);
  } else {
    out.resize(size_t(decimals) + 400);  // the largest double has 309 digits
    r = std::to_chars(out.data(), out.data() + out.size(), value, std::chars_format::fixed, decimals);
    out.resize(size_t(r.ptr - out.data()));
  }
  if (out.size() < size_t(width)) out.insert(0, size_t(width) - out.size(), ' ');
  return out;
}

// Whether the field's bytes are already what "%W.Df" prints for their value:
// blanks, an optional minus, digits without a leading zero (a lone 0 before
// the point is one), exactly D decimals. Most stored numbers are; they are
// shown as they stand, without reading them for every record.
bool is_canonical_number(const ConstSpan& span, int decimals) {
  const uint8_t* p = span.data;
  const uint8_t* end = p + span.length;
  while (p < end && *p == ' ') ++p;
  if (p < end && *p == '-') ++p;
  const uint8_t* whole = p;
  while (p < end && *p >= '0' && *p <= '9') ++p;
  long whole_digits = p - whole;
  if (whole_digits == 0 || (whole_digits > 1 && *whole == '0')) return false;
  if (decimals > 0) {
    if (p == end || *p != '.') return false;
    const uint8_t* fraction = ++p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    if (p - fraction != decimals) return false;
  }
  return p == end;
}

// The stored digits with the field's decimals, never through a binary
// number: a blank field shows blank, and bytes that are no number show as
// they are.
std::string numeric_text(const Table& table, RecordImage record, int i) {
  int length = field_length(table, i);
  int decimals = field_decimals(table, i);
  ConstSpan span = field_span(table, record, i);
  if (!span.data) return std::string(size_t(std::max(length, 0)), ' ');
  std::string raw(reinterpret_cast<const char*>(span.data), size_t(span.length));
  if (is_canonical_number(span, decimals)) return raw;
  std::replace(raw.begin(), raw.end(), '\0', ' ');
  DecimalText number;
  std::string out;
  if (!parse_decimal(raw, number) || !format_number_field(number, length, decimals, out)) return raw;
  return out;
}

std::string memo_text(const Table& table, int i, const ConstSpan& span) {
  long long block = block_number(table, i, span);
  if (table.memo_display == 1) {
    if (block >= INT32_MIN && block <= INT32_MAX) return print_string("%10d", int(block));
    return print_string("%10lld", block);
  }
  if (block != 0 && table.memo_missing) return "No memo file";
  return print_string("%-10s", block != 0 ? "Full memo" : "Empty memo");
}

// The exact text "%24.4f" gives for the stored value; a double could not
// hold every 64-bit amount.
std::string currency_text(const ConstSpan& span) {
  int64_t value = int64_t(read_le(span, 8));
  uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
  char digits[40];
  std::snprintf(digits, sizeof digits, "%s%llu.%04llu", value < 0 ? "-" : "",
                static_cast<unsigned long long>(magnitude / 10000), static_cast<unsigned long long>(magnitude % 10000));
  return print_string("%24s", digits);
}

// A date format of %d conversions (with zero flag and width) over values
// that are not negative, written as printf writes it; false for any other
// format, which printf then writes. Dates are formatted for every record a
// bulk walk reads.
bool format_date_parts(const std::string& format, const int* values, int count, std::string& out) {
  out.clear();
  int next = 0;
  for (size_t k = 0; k < format.size(); ++k) {
    if (format[k] != '%') {
      out += format[k];
      continue;
    }
    bool zero = ++k < format.size() && format[k] == '0';
    if (zero) ++k;
    size_t width = 0;
    for (; k < format.size() && format[k] >= '0' && format[k] <= '9'; ++k) width = width * 10 + size_t(format[k] - '0');
    if (k >= format.size() || format[k] != 'd' || width > 32 || next >= count || values[next] < 0) return false;
    char digits[16];
    std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, values[next++]);
    size_t n = size_t(r.ptr - digits);
    if (n < width) out.append(width - n, zero ? '0' : ' ');
    out.append(digits, n);
  }
  return true;
}

std::string date_text(const Table& table, RecordImage record, int i, bool with_time) {
  DateParts d = field_date(table, record, i);
  int format = table.date_format;
  if (!is_valid_date(d)) return std::string(size_t(with_time ? (format == 0 ? 14 : 19) : (format == 0 ? 8 : 10)), ' ');
  if ((format < 1 || format > 3) && field_type(table, i) == '@') {
    return print_string("%04d%02d%02d%02d%02d%02d", d.year, d.month + 1, d.day, d.hour, d.minute, d.second);
  }
  if (format < 1 || format > 3) return field_raw_text(table, record, i);
  const std::string& f = with_time ? table.date_time_formats[size_t(format)] : table.date_formats[size_t(format)];
  int month = d.month + 1;
  int a = d.day, b = month, c = d.year;  // format 1
  if (format == 2) a = month, b = d.day;
  if (format == 3) a = d.year, c = d.day;
  const int values[6] = {a, b, c, d.hour, d.minute, d.second};
  std::string out;
  if (format_date_parts(f, values, with_time ? 6 : 3, out)) return out;
  if (with_time) return print_string(f.c_str(), a, b, c, d.hour, d.minute, d.second);
  return print_string(f.c_str(), a, b, c);
}

}  // namespace

// -------------------------------------------------------------- numbers and dates

namespace {

// Up to 19 digits make a 64-bit integer, and 10^19 is exact in a long double
// of 64 mantissa bits; their quotient is then rounded once, exactly as
// strtold rounds the decimal text, at a fraction of its cost.
constexpr int kExactDigits = std::numeric_limits<long double>::digits >= 64 ? 19 : 0;

long double exact_decimal(const char* p, const char* end) {
  bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  uint64_t mantissa = 0;
  int fraction = -1;
  for (; p < end; ++p) {
    if (*p == '.') {
      fraction = 0;
      continue;
    }
    mantissa = mantissa * 10 + uint64_t(*p - '0');
    if (fraction >= 0) ++fraction;
  }
  long double scale = 1;
  for (int k = 0; k < fraction; ++k) scale *= 10;
  long double value = static_cast<long double>(mantissa) / scale;
  return negative ? -value : value;
}

}  // namespace

long double parse_number(std::string_view text) {
  // The 31 characters count from the number itself, so a number right-aligned
  // in a wide field (N 50, say) is still read.
  size_t start = 0;
  while (start < text.size() && is_blank_char(text[start])) ++start;
  char buffer[kMaxNumberChars + 1];
  size_t n = std::min(text.size() - start, size_t(kMaxNumberChars));
  std::memcpy(buffer, text.data() + start, n);
  buffer[n] = 0;
  const char* p = buffer;
  // Only a plain decimal number is taken (no hexadecimal, inf or nan forms).
  const char* q = p;
  if (*q == '+' || *q == '-') ++q;
  int digits = 0;
  while (*q >= '0' && *q <= '9') ++q, ++digits;
  if (*q == '.') {
    ++q;
    while (*q >= '0' && *q <= '9') ++q, ++digits;
  }
  if (digits == 0) return 0;
  if (*q != 'e' && *q != 'E' && digits <= kExactDigits) return exact_decimal(p, q);
  if (*q == 'e' || *q == 'E') {
    const char* e = q + 1;
    if (*e == '+' || *e == '-') ++e;
    if (*e >= '0' && *e <= '9') {
      while (*e >= '0' && *e <= '9') ++e;
      q = e;
    }
  }
  std::string number(p, q);
  // The C locale's decimal point, whatever locale the program runs in.
  static locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
  if (!c_locale) return std::strtold(number.c_str(), nullptr);
  return strtold_l(number.c_str(), nullptr, c_locale);
}

long julian_day_number(int year, int month, int day) {
  long y = year + floor_div(long(month) - 1, 12);
  int month0 = int(long(month) - 1 - floor_div(long(month) - 1, 12) * 12);
  long days = day;
  for (int m = 0; m < month0; ++m) days += month_length(y, m);
  return days + days_before_year(y) + kDayNumberOfYearZero;
}

DateParts date_from_julian(long day_number, long milliseconds) {
  DateParts date;
  if (day_number > kLastDayNumber) {
    date.month = 0;
    return date;
  }
  long r = day_number - kDayNumberOfYearZero;
  long year = 0;
  if (r > kDaysPer400Years) {
    long cycles = (r - 1) / kDaysPer400Years;
    r -= cycles * kDaysPer400Years;
    year += 400 * cycles;
  }
  while (r > year_length(year)) r -= year_length(year++);
  int month = 0;
  while (month < 11 && r > month_length(year, month)) r -= month_length(year, month++);
  date.year = int(year);
  date.month = month;
  date.day = int(r);
  long s = milliseconds / 1000;
  date.hour = int(s / 3600);
  date.minute = int((s % 3600) / 60);
  date.second = int(s % 60);
  return date;
}

bool is_valid_date(const DateParts& d) {
  if (d.second < 0 || d.second >= 60 || d.minute < 0 || d.minute >= 60 || d.hour < 0 || d.hour > 23) return false;
  if (d.month < 0 || d.month > 11 || d.day < 1 || d.year < 0 || d.year > 9999) return false;
  return d.day <= month_length(d.year, d.month);
}

DateParts field_date(const Table& table, RecordImage record, int i) {
  ConstSpan span = field_span(table, record, i);
  if (!span.data || is_null_field(table, record, i)) return DateParts();
  char type = field_type(table, i);
  if (type == 'D') return decode_text_date(span, false);
  if (type == '@') {
    std::optional<Timestamp> stamp = span.length >= 8 ? get_dbase7_timestamp(span.data) : std::nullopt;
    return stamp ? date_from_julian(stamp->day_number, stamp->milliseconds) : DateParts();
  }
  if (type != 'T') return DateParts();
  if (!is_binary_datetime(table, i)) return decode_text_date(span, true);
  return date_from_julian(long(int32_t(get_le32(span.data))), long(int32_t(get_le32(span.data + 4))));
}

DateParts field_date(Table& table, int i) { return field_date(table, current_record(table), i); }

bool is_date_blank(const Table& table, RecordImage record, int i) {
  return !is_valid_date(field_date(table, record, i));
}

bool is_date_blank(Table& table, int i) { return is_date_blank(table, current_record(table), i); }

long double field_number(const Table& table, RecordImage record, int i) {
  if (i >= table.field_count()) {
    return computed_column_hooks.number ? computed_column_hooks.number(table, record, i) : 0;
  }
  ConstSpan span = field_span(table, record, i);
  if (!span.data || is_null_field(table, record, i)) return 0;
  if (is_dbase7_long(table, i)) return span.length >= 4 ? get_dbase7_long(span.data).value_or(0) : 0;
  switch (field_type(table, i)) {
    case 'O':
      return span.length >= 8 ? get_dbase7_double(span.data).value_or(0) : 0;
    case 'B':
      return std::bit_cast<double>(read_le(span, 8));
    case 'F':
    case 'N':
      return parse_number(std::string_view(reinterpret_cast<const char*>(span.data), size_t(span.length)));
    case 'I':
      return int32_t(uint32_t(read_le(span, 4)));
    case 'Y':
      return static_cast<long double>(int64_t(read_le(span, 8))) / 10000;
    default:
      return 0;
  }
}

long double field_number(Table& table, int i) { return field_number(table, current_record(table), i); }

// -------------------------------------------------------------- text

namespace {

void raw_text_into(const Table& table, RecordImage record, int i, std::string& out) {
  out.clear();
  ConstSpan span = field_span(table, record, i);
  if (!span.data || is_null_field(table, record, i)) return;
  // Only a table with null flags has varchar lengths to look up.
  if (table.null_flags_field >= 0 && is_variable_field(table, i)) span.length = value_length(table, record, i);
  std::string_view bytes(reinterpret_cast<const char*>(span.data), size_t(span.length));
  // The blanks after the value stay for the trim mode to judge, up to a NUL
  // among them: NULs pad, and are never shown.
  size_t end = text_value_end(bytes);
  while (end < bytes.size() && bytes[end] == ' ') ++end;
  out.assign(bytes.data(), end);
  if (table.trim_mode == 1 || table.trim_mode == 3) {
    size_t end = out.find_last_not_of(' ');
    out.erase(end == std::string::npos ? 0 : end + 1);
  }
  if (table.trim_mode == 2 || table.trim_mode == 3) out.erase(0, out.find_first_not_of(' '));
}

}  // namespace

size_t text_value_end(std::string_view bytes) {
  size_t end = bytes.size();
  while (end > 0 && (bytes[end - 1] == ' ' || bytes[end - 1] == 0)) --end;
  return end;
}

std::string field_raw_text(const Table& table, RecordImage record, int i) {
  if (i >= table.field_count()) {
    return computed_column_hooks.text ? computed_column_hooks.text(table, record, i) : std::string();
  }
  std::string out;
  raw_text_into(table, record, i, out);
  return out;
}

const char* field_raw_text(Table& table, int i) {
  return set_text(table, field_raw_text(table, current_record(table), i));
}

namespace {

// The dBase 7 binary types; a field holding no value shows blanks.
std::string dbase7_text(const Table& table, RecordImage record, int i, const ConstSpan& span) {
  if (field_type(table, i) == '@') return date_text(table, record, i, true);
  if (field_type(table, i) == 'O') {
    std::optional<double> value = span.length >= 8 ? get_dbase7_double(span.data) : std::nullopt;
    return value ? fixed_text(*value, 20, field_decimals(table, i)) : std::string(20, ' ');
  }
  std::optional<int32_t> value = span.length >= 4 ? get_dbase7_long(span.data) : std::nullopt;
  return value ? print_string("%10ld", long(*value)) : std::string(10, ' ');
}

}  // namespace

std::string field_text(const Table& table, RecordImage record, int i) {
  if (i >= table.field_count()) {
    return computed_column_hooks.text ? computed_column_hooks.text(table, record, i) : std::string();
  }
  ConstSpan span = field_span(table, record, i);
  if (!span.data || is_null_field(table, record, i)) return std::string();
  if (char type = field_type(table, i); is_dbase7_long(table, i) || type == 'O' || type == '@')
    return dbase7_text(table, record, i, span);
  switch (field_type(table, i)) {
    case 'C':
    case 'L':
    case '0':
    case 'V':
    case 'Q':
      return field_raw_text(table, record, i);
    case 'N':
    case 'F':
      return numeric_text(table, record, i);
    case 'B':
      if (field_length_byte(table, i) == 8) return fixed_text(double(field_number(table, record, i)), 20, field_decimals(table, i));
      return memo_text(table, i, span);
    case 'G':
    case 'M':
    case 'W':
      return memo_text(table, i, span);
    case 'I':
      return print_string("%10ld", long(int32_t(uint32_t(read_le(span, 4)))));
    case 'Y':
      return currency_text(span);
    case 'D':
      return date_text(table, record, i, false);
    case 'T':
      return date_text(table, record, i, true);
    default:
      // A type of a later program: its bytes as they stand.
      return is_known_type_letter(field_type(table, i)) || field_type(table, i) == 'P' ? std::string()
                                                                            : field_raw_text(table, record, i);
  }
}

void field_text(const Table& table, RecordImage record, int i, std::string& out) {
  char type = field_type(table, i);
  if (type == 'C' || type == 'L' || type == '0') {
    raw_text_into(table, record, i, out);
    return;
  }
  out = field_text(table, record, i);
}

const char* field_text(Table& table, int i) { return set_text(table, field_text(table, current_record(table), i)); }

const char* field_type_name(const Table& table, int i) {
  switch (field_type(table, i)) {
    case 'C': return "Character";
    case 'N': return "Numeric";
    case 'F': return "Float";
    case 'D': return "Date";
    case 'L': return "Logical";
    case 'M': return "Memo";
    case 'T': return "DateTime";
    case 'G': return "General";
    case 'B': return field_length_byte(table, i) == 8 ? "Double" : "Binary";
    case 'I': return "Integer";
    case 'Y': return "Currency";
    case '0': return "System";
    case 'P': return "Picture";
    case 'V': return "Varchar";
    case 'Q': return "Varbinary";
    case 'W': return "Blob";
    case '+': return "Autoincrement";
    case 'O': return "Double";
    case '@': return "Timestamp";
    default: return "Unknown";
  }
}

int display_width(const Table& table, int i) {
  if (i >= table.field_count()) {
    const ComputedColumn* column = computed_column(table.columns, i);
    return column ? column->width : 0;
  }
  constexpr int kNoMemoFileWidth = 12;  // "No memo file"
  if (table.memo_missing && table.memo_display == 0 && is_memo_field(table, i)) return kNoMemoFileWidth;
  switch (field_type(table, i)) {
    case 'Y': return 24;
    case 'B': return length16(table, i) == 10 ? 10 : 20;
    case 'G':
    case 'I':
    case 'M':
    case 'W':
    case '+': return 10;
    case 'O': return 20;
    case 'D': return table.date_format > 0 ? 10 : field_length(table, i);
    case 'T': return table.date_format > 0 ? 19 : field_length(table, i);
    case '@': return table.date_format > 0 ? 19 : 14;
    default: return field_length(table, i);
  }
}

int column_width(const Table& table, int i) {
  if (i >= table.field_count()) return display_width(table, i);
  int width = display_width(table, i);
  int name = int(field_name(table, i).size()) + 1;
  return width > name ? width : name;
}

void set_date_separator(Table& table, char ch) {
  if (ch == 0) ch = '.';
  for (size_t k = 1; k <= 3; ++k) {
    for (std::string* format : {&table.date_formats[k], &table.date_time_formats[k]}) {
      if (format->size() > 4) (*format)[4] = ch;
      if (format->size() > 9) (*format)[9] = ch;
    }
  }
}

// -------------------------------------------------------------- storing

void blank_field(Table& table, int i) {
  FieldSpan span = field_span(table, i);
  if (!span.data) return;
  int length = field_length(table, i);
  uint8_t blank = 0;
  switch (field_type(table, i)) {
    case 'C':
    case 'D':
    case 'F':
    case 'L':
    case 'N': blank = ' '; break;
    case 'M':
    case 'G': blank = length == 10 ? ' ' : 0; break;
    case 'B': blank = length == 8 || length == 4 ? 0 : ' '; break;
    case 'T': blank = length == 14 ? ' ' : 0; break;
    default: blank = 0; break;
  }
  std::memset(span.data, blank, size_t(span.length));
  // An empty varchar or varbinary value: no bytes at all.
  if (is_variable_field(table, i)) set_value_length(table, table.record.data(), table.record.size(), i, 0);
}

void blank_record(Table& table) {
  if (table.record.size() < size_t(kRecordBufferSize) + 1) table.record.resize(size_t(kRecordBufferSize) + 1, 0);
  table.record[0] = ' ';
  for (int i = 0; i < table.field_count(); ++i) blank_field(table, i);
  // Blanking the null flags field cleared the length bits set before it.
  for (int i = 0; i < table.field_count(); ++i) {
    if (is_variable_field(table, i)) set_value_length(table, table.record.data(), table.record.size(), i, 0);
  }
}

bool holds_reference(const Table& table, int i) {
  if (i < 0 || i >= table.field_count()) return true;
  switch (field_type(table, i)) {
    case 'P':
    case '0': return true;
    default: return is_memo_field(table, i) || !is_known_type_letter(field_type(table, i));
  }
}

}  // namespace kora
