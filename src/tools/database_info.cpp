#include "tools/database_info.h"

#include <sys/stat.h>

#include <cstdio>

#include "table/index_files.h"
#include "table/memo_file.h"

namespace kora {

namespace {

constexpr const char* kLabels[kDatabaseInfoLines] = {
    "File:",         "Type:",         "Last updated:", "File    size:", "Header  size:",  "Record  size:",
    "Record count:", "Fields count:", "Index files:", "Memo-fields:",  "Memo-file:",    "Memo-file size:",
    "Blocksize:",
};

enum InfoLine {
  kFileLine,
  kTypeLine,
  kDateLine,
  kFileSizeLine,
  kHeaderSizeLine,
  kRecordSizeLine,
  kRecordCountLine,
  kFieldsCountLine,
  kIndexFilesLine,
  kMemoFieldsLine,
  kMemoFileLine,
  kMemoSizeLine,
  kBlockSizeLine,
};

// Sizes and counts are unsigned and 64-bit: tables pass 2 and 4 GiB.
std::string number(uint64_t value) { return std::to_string(value); }
std::string bytes(uint64_t value) { return number(value) + " bytes"; }

}  // namespace

std::string format_header_date(int year, int month, int day, int date_format) {
  char text[64];
  if (date_format == 2) {
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", month, day, year);
  } else if (date_format == 3) {
    std::snprintf(text, sizeof text, "%04d.%02d.%02d", year, month, day);
  } else {
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", day, month, year);
  }
  return text;
}

DatabaseInfo database_info(Table& table) {
  DatabaseInfo info;
  for (int i = 0; i < kDatabaseInfoLines; ++i) info.lines[size_t(i)].label = kLabels[i];
  auto set = [&info](int line, std::string value) { info.lines[size_t(line)].value = std::move(value); };

  const auto& header = table.header_bytes;
  struct stat file;
  uint64_t file_size = fstat(table.fd, &file) == 0 ? uint64_t(file.st_size) : 0;
  set(kFileLine, table.file_name);
  set(kTypeLine, table_type_name(table));
  set(kDateLine, format_header_date(header[1] + 1900, header[2], header[3], table.date_format));
  set(kFileSizeLine, bytes(file_size));
  set(kHeaderSizeLine, bytes(table.header_size));
  set(kRecordSizeLine, bytes(table.record_size));
  set(kRecordCountLine, number(table.record_count));
  set(kFieldsCountLine, number(uint64_t(table.field_count())));
  std::string indexes;
  for (const std::string& name : index_files(table)) indexes += (indexes.empty() ? "" : ", ") + name;
  set(kIndexFilesLine, indexes.empty() ? "None" : indexes);
  info.has_memo = table.first_memo_field >= 0;
  set(kMemoFieldsLine, info.has_memo ? "Yes" : "No");
  if (!info.has_memo) return info;

  set(kMemoFileLine, table.memo_file_name);
  struct stat memo;
  // A memo file that is missing or unreadable has no size to show.
  if (stat(table.memo_file_name.c_str(), &memo) == 0) set(kMemoSizeLine, bytes(uint64_t(memo.st_size)));
  int block_size = memo_block_size(table);
  if (block_size > 0) set(kBlockSizeLine, bytes(uint64_t(block_size)));
  return info;
}

std::string database_info_text(const DatabaseInfo& info) {
  int count = info.has_memo ? kDatabaseInfoLines : kDatabaseInfoLines - kMemoInfoLines;
  std::string text;
  for (int i = 0; i < count; ++i) {
    const DatabaseInfoLine& line = info.lines[size_t(i)];
    text += line.label;
    text += '\t';
    text += line.value;
    text += '\n';
  }
  return text;
}

}  // namespace kora
