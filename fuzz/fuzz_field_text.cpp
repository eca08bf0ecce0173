// Fuzz target: a typed text stored into each kind of field through the one
// door every writer uses. A refused text leaves the record as it was; a
// stored one reads back as the same value (its exact text stores the same
// bytes again), and its display text is never longer than the buffer allows.
//
// Input layout:
//   byte 0   bits 0-3 the field, bits 4-5 the date format
//   then     the text
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "table/dbf_file.h"
#include "table/field_write.h"
#include "table/value_codec.h"

namespace {

using fuzz::Field;

constexpr Field kFields[] = {
    {"NAME", 'C', 12, 0}, {"A", 'N', 6, 2}, {"Q", 'N', 5, 0},   {"F", 'F', 20, 18}, {"I", 'I', 4, 0},
    {"CUR", 'Y', 8, 0},   {"D", 'D', 8, 0}, {"TS", 'T', 8, 0},  {"TT", 'T', 14, 0}, {"L", 'L', 1, 0},
    {"DBL", 'B', 8, 3},   {"P", 'N', 2, 1}, {"V", 'V', 10, 0},  {"M", 'M', 10, 0},
};

// A Visual FoxPro table of one blank record (its 263-byte gap after the fields).
std::vector<uint8_t> table_bytes() { return fuzz::dbf_bytes(kFields, {""}, 0x30, 263); }

fuzz::WorkFolder g_files({"v.dbf"});

kora::Table& table() {
  static kora::Table* made = [] {
    std::vector<uint8_t> bytes = table_bytes();
    g_files.write("v.dbf", bytes.data(), bytes.size());
    std::unique_ptr<kora::Table> t = kora::open_table(g_files.path("v.dbf"));
    if (!t) abort();
    return t.release();
  }();
  return *made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  kora::Table& t = table();
  int i = data[0] & 15;
  if (i >= t.field_count()) return 0;
  t.date_format = (data[0] >> 4) & 3;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  kora::blank_record(t);
  std::vector<uint8_t> before(t.record.begin(), t.record.begin() + t.record_size);
  kora::RecordImage image(t.record.data(), t.record_size);
  if (kora::set_field_text(t, i, text) != kora::FieldWrite::kStored) {
    if (!std::equal(before.begin(), before.end(), t.record.begin())) abort();
    return 0;
  }
  // A text ends at a NUL when it is read back, as the views show it.
  if (text.find('\0') != std::string::npos) return 0;
  std::vector<uint8_t> stored(t.record.begin(), t.record.begin() + t.record_size);
  std::string shown = kora::field_text(t, image, i);
  std::string exact = kora::field_value_text(t, image, i);
  if (kora::set_field_text(t, i, exact) != kora::FieldWrite::kStored) abort();
  if (!std::equal(stored.begin(), stored.end(), t.record.begin())) abort();
  if (shown.size() > size_t(kora::kRecordBufferSize)) abort();
  return 0;
}
