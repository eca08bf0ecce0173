// Builds DBF file bytes for tests: a header, descriptors and records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kora::test {

struct FieldSpec {
  std::string name;
  char type;
  int length;  // for C up to 65535: stored as 16 bits
  int decimals = 0;
  uint8_t flags = 0;  // descriptor byte 18 (Visual FoxPro's field flags)
};

struct DbfLayout {
  uint8_t version = 0x03;
  std::vector<FieldSpec> fields;
  std::vector<std::string> records;  // each without the deletion flag; padded or cut to size
  std::vector<bool> deleted;         // per record, optional
  int stored_count = -1;             // header record count; -1 = records.size()
  int header_size = -1;              // -1 = 32 + 32 n + 1
  int record_size = -1;              // -1 = 1 + sum of lengths
  bool end_of_file = true;           // 0x1A after the records
  uint8_t code_page_mark = 0;
};

int layout_record_size(const DbfLayout& layout);
std::vector<uint8_t> build_dbf(const DbfLayout& layout);

}  // namespace kora::test
