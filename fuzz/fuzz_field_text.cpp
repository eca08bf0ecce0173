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

struct Field {
  const char* name;
  char type;
  uint8_t length;
  uint8_t decimals;
};

constexpr Field kFields[] = {
    {"NAME", 'C', 12, 0}, {"A", 'N', 6, 2}, {"Q", 'N', 5, 0},   {"F", 'F', 20, 18}, {"I", 'I', 4, 0},
    {"CUR", 'Y', 8, 0},   {"D", 'D', 8, 0}, {"TS", 'T', 8, 0},  {"TT", 'T', 14, 0}, {"L", 'L', 1, 0},
    {"DBL", 'B', 8, 3},   {"P", 'N', 2, 1}, {"V", 'V', 10, 0},  {"M", 'M', 10, 0},
};

std::vector<uint8_t> table_bytes() {
  size_t record_size = 1;
  for (const Field& f : kFields) record_size += f.length;
  size_t header_size = 32 + 32 * std::size(kFields) + 1 + 263;
  std::vector<uint8_t> out(header_size, 0);
  out[0] = 0x30;
  out[1] = 124, out[2] = 1, out[3] = 1;
  out[4] = 1;
  out[8] = uint8_t(header_size & 0xFF), out[9] = uint8_t(header_size >> 8);
  out[10] = uint8_t(record_size & 0xFF), out[11] = uint8_t(record_size >> 8);
  size_t offset = 1;
  for (size_t k = 0; k < std::size(kFields); ++k) {
    uint8_t* d = &out[32 + 32 * k];
    for (size_t c = 0; kFields[k].name[c] != 0; ++c) d[c] = uint8_t(kFields[k].name[c]);
    d[11] = uint8_t(kFields[k].type);
    d[12] = uint8_t(offset & 0xFF), d[13] = uint8_t(offset >> 8);
    d[16] = kFields[k].length, d[17] = kFields[k].decimals;
    offset += kFields[k].length;
  }
  out[32 + 32 * std::size(kFields)] = 0x0D;
  out.insert(out.end(), record_size, ' ');
  out.push_back(0x1A);
  return out;
}

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
