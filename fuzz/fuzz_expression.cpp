// Fuzz target: an expression text evaluated as arithmetic, as a condition
// over every record of a small fixed table (on the text path and compiled,
// which must agree), as a computed column (both ways too) and through the
// string functions.
//
// Input layout:
//   byte 0   option bits: 0 literal brackets, 1 hide deleted, 2 ignore case,
//            3-4 date format, 5-6 trim mode, 7 the table's text is ANSI
//   then     the expression text
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "table/dbf_file.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "tools/condition.h"
#include "tools/expression.h"
#include "tools/string_functions.h"

namespace {

using fuzz::Field;

constexpr Field kFields[] = {
    {"NAME", 'C', 12, 0}, {"A", 'N', 6, 2}, {"I", 'I', 4, 0}, {"CUR", 'Y', 8, 0},
    {"D", 'D', 8, 0},     {"TS", 'T', 8, 0}, {"L", 'L', 1, 0}, {"DBL", 'B', 8, 3},
};

// Records as raw bytes after the deletion flag, in field order.
std::vector<std::string> record_bodies() {
  auto le = [](uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += char((v >> (8 * i)) & 0xFF);
    return s;
  };
  double half = -2.5;
  uint64_t bits = 0;
  static_assert(sizeof bits == sizeof half);
  __builtin_memcpy(&bits, &half, 8);
  return {
      "SMITH       " " -3.50" + le(uint32_t(-7), 4) + le(uint64_t(-25000), 8) + "20200115" + le(2452610, 4) +
          le(3723000, 4) + "T" + le(bits, 8),
      "C++ (x)&|'\"" "\xE0" " 12.00" + le(5, 4) + le(123456789, 8) + "        " + le(0, 8) + " " + le(0, 8),
      "=<>~ TRIM(a)" "      " + le(0, 4) + le(0, 8) + "99991231" + le(5373485, 4) + le(86399999, 4) + "F" +
          le(0x7FF8000000000000ULL, 8),
  };
}

std::vector<uint8_t> table_bytes() { return fuzz::dbf_bytes(kFields, record_bodies(), 0x30, 0, true); }

fuzz::WorkFolder g_files({"e.dbf"});

struct Fixture {
  std::unique_ptr<kora::Table> table;
  std::vector<std::vector<uint8_t>> images;
};

Fixture& fixture() {
  static Fixture* made = [] {
    auto* f = new Fixture;
    std::vector<uint8_t> bytes = table_bytes();
    g_files.write("e.dbf", bytes.data(), bytes.size());
    f->table = kora::open_table(g_files.path("e.dbf"));
    if (!f->table) abort();
    for (uint32_t q = 0; q < f->table->record_count; ++q) {
      if (!kora::read_record(*f->table, q)) abort();
      f->images.emplace_back(f->table->record.begin(), f->table->record.begin() + f->table->record_size);
    }
    kora::install_computed_column_hooks();
    return f;
  }();
  return *made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Fixture& f = fixture();
  kora::Table& table = *f.table;
  uint8_t bits = data[0];
  kora::ConditionFlags flags{(bits & 1) != 0, (bits & 2) != 0};
  table.ignore_case = (bits & 4) != 0;
  table.date_format = (bits >> 3) & 3;
  table.trim_mode = (bits >> 5) & 3;
  table.ansi_text = (bits & 0x80) != 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  kora::arithmetic_value(text);
  std::string expanded = text;
  kora::expand_string_functions(expanded, table.date_format);

  kora::CompiledCondition compiled = kora::compile_condition(table, text, flags);
  kora::CompiledExpression column = kora::compile_expression(table, text);
  for (const std::vector<uint8_t>& bytes : f.images) {
    kora::RecordImage image(bytes.data(), bytes.size());
    bool by_text = kora::evaluate_condition(table, image, text, flags);
    if (kora::condition_passes(compiled, table, image) != by_text) abort();
    if (kora::computed_text(column, table, image) != kora::computed_text(table, image, text)) abort();
  }
  return 0;
}
