// The one way a value is written into a field: text parsed by the field's
// type, checked, and stored, or refused with the reason and the field left
// as it was. Typing, paste, Replace, Fill, the calculator, Append from,
// export to a DBF and Modify structure all store through set_field_text.
#pragma once

#include <string>
#include <string_view>

#include "table/dbf_file.h"
#include "table/value_codec.h"

namespace kora {

enum class FieldWrite {
  kStored,
  kNotANumber,      // the text is no number
  kDoesNotFit,      // longer than the field, or an integer part too wide
  kOutOfRange,      // beyond what the type can hold (Integer, Currency)
  kImpossibleDate,  // no such date or time, or not written as one
  kNotALogical,     // none of T, F, Y, N or a blank
  kNotWritable,     // memo pointers, pictures, unknown types, computed columns
};

// Writes field i of the table's current record (table.record) from `text`:
// a blank text blanks the field; numbers keep every digit the field has room
// for, the decimals past the field's rounded half away from zero; dates and
// times must exist. The table's date format decides the order of a date's
// parts; the stored forms YYYYMMDD and YYYYMMDDhhmmss are always taken.
// Anything but kStored leaves the field's bytes as they were.
FieldWrite set_field_text(Table& table, int i, std::string_view text);

// Whether the bytes stored in field i of the record are a value its type
// holds, as set_field_text would have stored it: kStored for one (a blank or
// null value among them), otherwise what set_field_text says of text it
// refuses (kNotANumber, kImpossibleDate, kNotALogical). Texts, binary
// numbers and memo pointers are always values. A check of every record
// calls it once per field: bytes without a NUL are checked in place.
FieldWrite stored_value_check(const Table& table, RecordImage record, int i);

// "NAME (C 10)", "PRICE (N 8.2)": a field as messages name it.
std::string field_label(const Table& table, int i);

// What the user is told: "The value does not fit the field AMOUNT (N 5.2)".
std::string field_write_message(const Table& table, int i, FieldWrite result);

// The value of field i in a form set_field_text takes back whatever the
// target field's settings: numbers with all their digits, dates as
// YYYYMMDD, date-times as YYYYMMDDhhmmss, texts as stored; blank values
// give an empty text. Copies between tables go through it.
std::string field_value_text(const Table& table, RecordImage record, int i);

// The shortest digits that read back as the same double, without an
// exponent: a computed value handed to set_field_text, which rounds it to
// the field's decimals.
std::string number_text(double value);

// A number written in decimal: digits of the whole and of the fraction.
struct DecimalText {
  bool negative = false;
  std::string whole;     // without leading zeros
  std::string fraction;  // as many digits as written
};
// Reads a plain decimal number (blanks around it, a sign, "." or "," as the
// point, an exponent), false for any other text.
bool parse_decimal(std::string_view text, DecimalText& out);
// Rounds half away from zero, or pads, to exactly `decimals` fraction digits.
void round_decimal(DecimalText& number, int decimals);
// "-12.50": the sign only when a digit is not 0; "0" for an empty whole.
std::string decimal_string(const DecimalText& number);
// The number as a field of `length` places with `decimals` decimals stores
// it: rounded, right-aligned, without the leading zero where the field has
// no room for it (.5); false when its integer part does not fit.
bool format_number_field(DecimalText number, int length, int decimals, std::string& out);

}  // namespace kora
