// The values of a record as typed data, for the outputs that keep types
// (JSON Lines, SQLite): numbers as exact decimal text from the stored
// digits, dates and times in ISO form, logicals, texts in UTF-8, binary
// memos as their bytes, and null for blanks and Visual FoxPro nulls.
//
//   std::vector<TypedColumn> columns = typed_columns(table);
//   TypedValue v;
//   typed_value(table, columns[0], image, v);  // image held in table.record too for memos
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_file.h"
#include "table/text_code_page.h"
#include "table/value_codec.h"

namespace kora {

enum class TypedKind {
  kNull,
  kText,       // UTF-8
  kNumber,     // a JSON number from the stored digits ("-0.5", "12.3400", "7")
  kInteger,    // a whole number in `text`, also in `integer`
  kReal,       // a stored binary double in `real`, its shortest text in `text`
  kBool,       // `flag`
  kDate,       // "YYYY-MM-DD"
  kTimestamp,  // "YYYY-MM-DDThh:mm:ss"
  kBinary,     // the bytes of a binary memo or varbinary field
};

// How a column is read, decided once for the walk over its records.
enum class TypedSource { kText, kNumber, kInteger, kCurrency, kReal, kLogical, kDate, kTimestamp, kMemo, kVarText,
                         kVarBinary, kComputed, kOther };

struct TypedColumn {
  int index;              // field (or computed column) index
  char type;              // the field's type letter
  TypedSource source;
  bool binary_memo;       // general, picture, blob and dBase IV binary memos
  int length;             // of the stored field
  int decimals;
  size_t offset = 0;      // of the stored bytes in the record
  std::string name;       // in UTF-8, unique among the columns
  std::shared_ptr<const CodePage> page;  // of its text
};

struct TypedValue {
  TypedKind kind = TypedKind::kNull;
  // The value's text or bytes: in `text`, or for plain ASCII texts straight
  // in the record image (valid while the image is).
  std::string_view view;
  std::string text;
  int64_t integer = 0;
  double real = 0;
  bool flag = false;
  bool unreadable = false;  // a memo whose block could not be read (null)
};

// The table's visible columns in column order.
std::vector<TypedColumn> typed_columns(const Table& table);

// The value of one column of a record image. Memo texts are read for the
// record held in table.record.
void typed_value(Table& table, const TypedColumn& column, RecordImage image, TypedValue& out);

// A stored number as a JSON number, exactly its digits: blanks dropped,
// leading zeros dropped ("007" -> "7"), a point with no digit before it or
// after it completed or dropped ("-.5" -> "-0.5", "5." -> "5"), a comma
// taken for the point, no sign on a zero. False for text that is no number
// (overflow stars, letters, nothing).
bool json_number(std::string_view stored, std::string& out);

// Standard base64 with padding (RFC 4648).
void append_base64(std::string& out, std::string_view bytes);

// A memo block of bytes rather than text: a FoxPro block of a type other
// than text, or one with NUL bytes inside (a text may only end in them).
bool memo_holds_bytes(std::string_view bytes, uint32_t block_type);

// "record 12, field NOTES: its memo cannot be read".
std::string unreadable_memo_warning(uint32_t record, std::string_view field);

// That warning for an unreadable memo (at most 1000 of them), as the other
// exports warn.
void note_unreadable(const TypedValue& value, const TypedColumn& column, uint32_t position,
                     std::vector<std::string>& warnings);

}  // namespace kora
