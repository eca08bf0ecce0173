#include "table/dbf_layouts.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "table/byte_order.h"
#include "table/column_model.h"
#include "table/dbase7_values.h"
#include "table/file_io.h"

namespace kora {

const DescriptorShape kStandardShape{32, 32, 11, 11, 16, 17};
// Name 0-31, type 32, length 33, decimals 34; the rest (flags, the next
// autoincrement value) is kept in the file and not read.
const DescriptorShape kDBase7Shape{68, 48, 32, 32, 33, 34};
// Name 0-10, type 11, length 12, the field's address 13-14, decimals 15.
const DescriptorShape kDBase2Shape{8, 16, 11, 11, 12, 15};

namespace {

constexpr uint8_t kDescriptorEnd = 0x0D;
constexpr int kDBase2HeaderSize = 521;
constexpr size_t kDBase2MaxFields = 32;

bool read_exactly(int fd, std::vector<uint8_t>& bytes, off_t at) {
  return file_read_at(fd, bytes.data(), bytes.size(), uint64_t(at)) == ssize_t(bytes.size());
}

// Descriptors before the 0x0D that ends the list; -1 when none ends it
// within the first `most`.
long terminated_count(const std::vector<uint8_t>& area, const DescriptorShape& shape, size_t most) {
  for (size_t i = 0; i <= most; ++i) {
    size_t at = i * size_t(shape.size);
    if (at >= area.size()) return -1;
    if (area[at] == kDescriptorEnd) return long(i);
  }
  return -1;
}

// The fields of `count` sound descriptors, when they add up to `record_size`.
bool decode_list(const std::vector<uint8_t>& area, size_t count, const DescriptorShape& shape, int record_size,
                 std::vector<FieldDesc>& fields) {
  if (count == 0 || first_unsound_byte(area, count, shape) >= 0) return false;
  fields.assign(count, FieldDesc());
  long sum = 1;
  for (size_t i = 0; i < count; ++i) {
    decode_shaped_desc(&area[i * size_t(shape.size)], shape, fields[i]);
    sum += fields[i].type == 'C' ? fields[i].length | (fields[i].decimals << 8) : fields[i].length;
  }
  return sum == record_size;
}

}  // namespace

long first_unsound_byte(std::span<const uint8_t> area, size_t count, const DescriptorShape& shape,
                        bool unknown_types) {
  for (size_t i = 0; i < count; ++i) {
    size_t at = i * size_t(shape.size);
    long base = shape.first + long(at);
    if (at + size_t(shape.size) > area.size()) return base;
    const uint8_t* d = &area[at];
    if (d[0] == 0) return base;
    for (int k = 0; k < shape.name_size && d[k] != 0; ++k) {
      if (d[k] < 0x20 || d[k] == 0x7F) return base + k;
    }
    char type = char(d[shape.type_at]);
    if (!unknown_types && !is_known_type_letter(type)) return base + shape.type_at;
    bool long_character = type == 'C' && d[shape.decimals_at] != 0;
    if (d[shape.length_at] == 0 && !long_character) return base + shape.length_at;
  }
  return -1;
}

void decode_shaped_desc(const uint8_t* bytes, const DescriptorShape& shape, FieldDesc& desc) {
  desc = FieldDesc();
  std::memcpy(desc.name, bytes, size_t(std::min<int>(shape.name_size, int(sizeof desc.name) - 1)));
  desc.type = char(bytes[shape.type_at]);
  desc.length = bytes[shape.length_at];
  desc.decimals = bytes[shape.decimals_at];
}

bool read_dbase7_layout(Table& table) {
  if ((table.version() & 0x07) != 0x04) return false;
  int header_size = get_le16(&table.header_bytes[8]);
  if (header_size <= kDBase7Shape.first) return false;
  std::vector<uint8_t> area(size_t(header_size - kDBase7Shape.first));
  if (!read_exactly(table.fd, area, kDBase7Shape.first)) return false;
  long count = terminated_count(area, kDBase7Shape, kMaxFields - 1);
  std::vector<FieldDesc> fields;
  if (count < 0 || !decode_list(area, size_t(count), kDBase7Shape, get_le16(&table.header_bytes[10]), fields))
    return false;
  table.fields = std::move(fields);
  table.layout = DescriptorLayout::kDBase7;
  table.header_size = uint16_t(header_size);
  return true;
}

bool read_dbase2_layout(Table& table) {
  if (table.version() != 0x02) return false;
  std::vector<uint8_t> area(size_t(kDBase2HeaderSize - kDBase2Shape.first));
  if (!read_exactly(table.fd, area, kDBase2Shape.first)) return false;
  long count = terminated_count(area, kDBase2Shape, kDBase2MaxFields - 1);
  if (count < 0) count = long(kDBase2MaxFields);  // all 32 in use: no 0x0D after them
  std::vector<FieldDesc> fields;
  const uint8_t* h = table.header_bytes.data();
  if (!decode_list(area, size_t(count), kDBase2Shape, get_le16(h + 6), fields)) return false;

  // In memory the header takes the standard form: the views and the
  // database information read it there. The file's header is never written.
  std::array<uint8_t, 32> standard{};
  standard[0] = h[0];
  standard[1] = h[5];  // dBase II keeps month, day, year
  standard[2] = h[3];
  standard[3] = h[4];
  put_le32(&standard[4], get_le16(h + 1));
  put_le16(&standard[8], kDBase2HeaderSize);
  put_le16(&standard[10], get_le16(h + 6));
  table.header_bytes = standard;
  table.fields = std::move(fields);
  table.layout = DescriptorLayout::kDBase2;
  table.header_size = kDBase2HeaderSize;
  return true;
}

int number_new_record(Table& table) {
  if (table.layout != DescriptorLayout::kDBase7) return 1;
  // The counter stands in bytes 42-45 of the descriptor, little-endian.
  constexpr int kCounterAt = 42;
  for (int i = 0; i < table.field_count(); ++i) {
    if (table.fields[size_t(i)].type != '+' || field_length(table, i) < 4) continue;
    uint64_t at = uint64_t(kDBase7Shape.first) + uint64_t(i) * uint64_t(kDBase7Shape.size) + kCounterAt;
    uint8_t counter[4];
    if (file_read_at(table.fd, counter, 4, at) != 4) return 0;
    uint32_t next = get_le32(counter);
    if (next == 0 || next > 0x7FFFFFFF) continue;  // a counter no program kept
    put_le32(counter, next + 1);
    // The counter moves first: a record that then fails to be written
    // leaves a gap in the numbers, never a number given twice.
    if (!file_write_at(table.fd, counter, 4, at)) return 0;
    put_dbase7_long(table.record.data() + table.fields[size_t(i)].offset, int32_t(next));
  }
  return 1;
}

Status lay_out_record(Table& table) {
  long offset = 1;
  table.first_memo_field = -1;
  for (int i = 0; i < table.field_count(); ++i) {
    table.fields[size_t(i)].offset = uint16_t(offset);
    offset += field_length(table, i);
    if (offset > kRecordBufferSize) return Status::kRecordTooLong;  // it would fit no buffer
    if (is_memo_field(table, i) && table.first_memo_field < 0) table.first_memo_field = i;
  }
  table.record_size = uint16_t(offset);
  reset_column_model(table.columns, table.field_count());
  table.aliases.assign(table.fields.size(), std::string());
  return Status::kOk;
}

}  // namespace kora
