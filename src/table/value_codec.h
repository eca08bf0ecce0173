// Field values: the bytes of one field turned into display text or a number,
// and user text turned back into field bytes of the current record.
//
// Values can be read from any record image the caller holds (a tool walking
// the records leaves the table's current record alone), or, as the views do,
// from the table's own record buffer into its text buffer.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "table/dbf_file.h"

namespace kora {

// A decoded date and time. month counts from 0.
struct DateParts {
  int year = 0;
  int month = -1;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

extern const char* const kDefaultDateFormats[4];
extern const char* const kDefaultDateTimeFormats[4];

// The bytes of one record (record_size of them), wherever they are held.
using RecordImage = std::span<const uint8_t>;

// Columns at or above the field count are computed by the expression tools,
// which answer for them through these hooks from the record given; unset
// hooks give empty answers. Their captions and widths are in table.columns.
struct ComputedColumnHooks {
  std::string (*text)(const Table& table, RecordImage record, int i) = nullptr;
  long double (*number)(const Table& table, RecordImage record, int i) = nullptr;
};
extern ComputedColumnHooks computed_column_hooks;

// Values of field i of a record image. A field that lies outside the image
// reads as empty (or 0).
std::string field_text(const Table& table, RecordImage record, int i);
// The same into `out`, whose storage is kept from call to call: a walk over
// many records formats their texts without allocating.
void field_text(const Table& table, RecordImage record, int i, std::string& out);
// The field's bytes without the NULs that pad it, trimmed by the table's
// trim mode (see text_value_end).
std::string field_raw_text(const Table& table, RecordImage record, int i);
// Where a text value ends in its field's bytes: after the last byte that is
// neither a blank nor a NUL. Trailing NULs pad a value as blanks do (some
// writers pad with them); a NUL with text after it belongs to the value.
size_t text_value_end(std::string_view bytes);
long double field_number(const Table& table, RecordImage record, int i);
DateParts field_date(const Table& table, RecordImage record, int i);
bool is_date_blank(const Table& table, RecordImage record, int i);

// The same for the table's current record (table.record); the texts are
// handed out in table.text, valid until the next call.
const char* field_text(Table& table, int i);
const char* field_raw_text(Table& table, int i);
long double field_number(Table& table, int i);
DateParts field_date(Table& table, int i);
bool is_date_blank(Table& table, int i);
bool is_valid_date(const DateParts& date);
const char* field_type_name(const Table& table, int i);
int display_width(const Table& table, int i);
int column_width(const Table& table, int i);

// The decimal conversion used for numbers: leading spaces skipped, stops at the
// first character that cannot continue a number, at most 31 characters read.
long double parse_number(std::string_view text);
// Day number of a proleptic Gregorian date (month 1..12); 9999-12-31 is 5373484.
long julian_day_number(int year, int month, int day);
DateParts date_from_julian(long day_number, long milliseconds);

void blank_field(Table& table, int i);
void blank_record(Table& table);
// Fields whose bytes are no value of their own (memo, general and picture
// pointers, dBase IV binary memos, the null flags) and computed columns:
// tools that write values into many records leave them alone.
bool holds_reference(const Table& table, int i);
// Puts the separator into entries 1..3 of the table's date formats: `ch`, or
// '.' when ch is NUL.
void set_date_separator(Table& table, char ch);

}  // namespace kora
