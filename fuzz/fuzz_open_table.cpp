// Fuzz target: opens a table made of the input bytes and reads everything in it.
//
// Input layout:
//   bytes 0..2  little-endian length of the table file part (clamped to what is left)
//   byte  3     option bits: 0-1 date format, 2-3 trim mode, 4 memo display,
//               5 date separator, 6 ignore case
//   then        the table file bytes, then the memo file bytes.
// The memo bytes are written under both memo names (.dbt and .fpt), so the
// table finds them whatever its kind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz_files.h"
#include "table/dbf_file.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/value_codec.h"

namespace {

constexpr uint32_t kMaxRecordsWalked = 2000;  // keeps every run short

// libFuzzer may end without running atexit handlers, so every run removes
// its files itself; the folder goes when the process ends normally.
fuzz::WorkFolder g_files({"t.dbf", "t.dbt", "t.fpt", "t.hdr", "t.hbk", "t.hbk.tmp"});

kora::TableOptions options_from_bits(uint8_t bits) {
  kora::TableOptions options;
  options.date_format = bits & 3;
  options.trim_mode = (bits >> 2) & 3;
  options.memo_display = (bits >> 4) & 1;
  options.separator = ((bits >> 5) & 1) != 0;
  options.ignore_case = ((bits >> 6) & 1) != 0;
  return options;
}

void read_everything(kora::Table& table) {
  uint32_t count = kora::visible_count(table);
  if (count > kMaxRecordsWalked) count = kMaxRecordsWalked;
  std::string memo;
  for (uint32_t p = 0; p < count; ++p) {
    if (!kora::read_record(table, p)) continue;
    for (int i = 0; i < table.field_count(); ++i) {
      const char* text = kora::field_text(table, i);
      if (text == nullptr) abort();
      if (kora::is_memo_field(table, i)) {
        memo.clear();
        kora::read_memo(table, i, memo);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  size_t table_size = size_t(data[0]) | size_t(data[1]) << 8 | size_t(data[2]) << 16;
  const uint8_t option_bits = data[3];
  data += 4;
  size -= 4;
  if (table_size > size) table_size = size;

  const std::string table_path = g_files.path("t.dbf");
  g_files.write("t.dbf", data, table_size);
  g_files.write("t.dbt", data + table_size, size - table_size);
  g_files.write("t.fpt", data + table_size, size - table_size);

  std::unique_ptr<kora::Table> table = kora::open_table(table_path);
  if (table) {
    kora::apply_table_options(*table, options_from_bits(option_bits));
    read_everything(*table);
    // The repair reads what the open found and writes only a sound table.
    if (table->header_errors != 0) kora::repair_header(*table);
    kora::close_table(table);
  }
  g_files.clear();
  return 0;
}
