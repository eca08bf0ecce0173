#include "dbf_builder.h"

#include <algorithm>
#include <cstring>

namespace kora::test {

int layout_record_size(const DbfLayout& layout) {
  int size = 1;
  for (const FieldSpec& field : layout.fields) size += field.length;
  return size;
}

std::vector<uint8_t> build_dbf(const DbfLayout& layout) {
  int n = int(layout.fields.size());
  int header_size = layout.header_size >= 0 ? layout.header_size : 32 + 32 * n + 1;
  int record_size = layout_record_size(layout);
  int stored_record_size = layout.record_size >= 0 ? layout.record_size : record_size;
  uint32_t count = layout.stored_count >= 0 ? uint32_t(layout.stored_count) : uint32_t(layout.records.size());

  std::vector<uint8_t> bytes(size_t(std::max(header_size, 32 + 32 * n + 1)), 0);
  bytes[0] = layout.version;
  bytes[1] = 124;
  bytes[2] = 1;
  bytes[3] = 2;
  for (int i = 0; i < 4; ++i) bytes[4 + size_t(i)] = uint8_t(count >> (8 * i));
  bytes[8] = uint8_t(header_size);
  bytes[9] = uint8_t(header_size >> 8);
  bytes[10] = uint8_t(stored_record_size);
  bytes[11] = uint8_t(stored_record_size >> 8);
  bytes[29] = layout.code_page_mark;
  for (int i = 0; i < n; ++i) {
    const FieldSpec& field = layout.fields[size_t(i)];
    uint8_t* d = &bytes[32 + 32 * size_t(i)];
    std::memcpy(d, field.name.data(), std::min<size_t>(field.name.size(), 10));
    d[11] = uint8_t(field.type);
    d[16] = uint8_t(field.length);
    d[17] = field.type == 'C' ? uint8_t(field.length >> 8) : uint8_t(field.decimals);
    d[18] = field.flags;
  }
  bytes[32 + 32 * size_t(n)] = 0x0D;
  bytes.resize(size_t(header_size));
  for (size_t r = 0; r < layout.records.size(); ++r) {
    std::string body = layout.records[r];
    body.resize(size_t(record_size - 1), ' ');
    bytes.push_back(r < layout.deleted.size() && layout.deleted[r] ? '*' : ' ');
    bytes.insert(bytes.end(), body.begin(), body.end());
  }
  if (layout.end_of_file) bytes.push_back(0x1A);
  return bytes;
}

}  // namespace kora::test
