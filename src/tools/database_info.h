// Facts about a table and its memo file, as the Database info dialog shows
// them and its Copy command writes them.
#pragma once

#include <array>
#include <string>

#include "table/dbf_file.h"
#include "tools/output_file.h"

namespace kora {

constexpr int kDatabaseInfoLines = 13;
// The last three lines speak of the memo file.
constexpr int kMemoInfoLines = 3;

struct DatabaseInfoLine {
  const char* label;
  std::string value;
};

struct DatabaseInfo {
  std::array<DatabaseInfoLine, kDatabaseInfoLines> lines;
  bool has_memo = false;  // the memo lines are filled
};

// Reads the sizes from the files: the table's through its descriptor, the
// memo file's by name.
DatabaseInfo database_info(Table& table);

// The "%s\t%s\n" lines of label and value that Copy writes; the memo lines
// only when the table has a memo field.
std::string database_info_text(const DatabaseInfo& info);

// "%02d.%02d.%04d" and its orders for date formats 0..3.
std::string format_header_date(int year, int month, int day, int date_format);

}  // namespace kora
