#include "app/table_summary.h"

#include <string>

#include "table/record_ops.h"
#include "table/value_codec.h"

namespace kora {

namespace {

std::string header_error_names(int errors) {
  static const struct {
    int bit;
    const char* name;
  } kNames[] = {{kBadVersion, "version"}, {kBadFieldTypes, "field types"}, {kBadRecordCount, "record count"}};
  std::string text;
  for (const auto& entry : kNames) {
    if (!(errors & entry.bit)) continue;
    if (!text.empty()) text += ", ";
    text += entry.name;
  }
  return text;
}

void print_fields(const Table& table, FILE* out) {
  std::fprintf(out, "Fields: %d\n", table.field_count());
  for (int i = 0; i < table.field_count(); ++i)
    std::fprintf(out, "  %-10s %c %5d %3d\n", field_name(table, i).c_str(), field_type(table, i),
                 field_length(table, i), field_decimals(table, i));
}

void print_records(Table& table, FILE* out, int max_records) {
  uint32_t count = visible_count(table);
  uint32_t shown = count < uint32_t(max_records) ? count : uint32_t(max_records);
  for (uint32_t p = 0; p < shown; ++p) {
    if (!read_record(table, p)) {
      std::fprintf(out, "Record %u: cannot be read\n", physical_record(table, p) + 1);
      continue;
    }
    std::fprintf(out, "Record %u:%s\n", physical_record(table, p) + 1, table.record[0] == '*' ? " deleted" : "");
    for (int i = 0; i < table.field_count(); ++i)
      std::fprintf(out, "  %-10s %s\n", field_name(table, i).c_str(), field_text(table, i));
  }
}

}  // namespace

void print_table_summary(Table& table, FILE* out, int header_written, int max_records) {
  std::fprintf(out, "Table: %s\n", table.file_name.c_str());
  std::fprintf(out, "Version: 0x%02X (%s)\n", table.version(), table_kind_name(table.kind));
  std::fprintf(out, "Records: %u\n", table.record_count);
  if (table.header_errors == 0)
    std::fprintf(out, "Header errors: none\n");
  else
    std::fprintf(out, "Header errors: %s (%s)\n", header_error_names(table.header_errors).c_str(),
                 header_written ? "corrected header written" : "file left unchanged");
  print_fields(table, out);
  if (table.field_count() > 0 && !table.record.empty()) print_records(table, out, max_records);
}

}  // namespace kora
