#include "table/vfp_fields.h"

#include <strings.h>

#include <algorithm>
#include <numeric>
#include <vector>

namespace kora {

namespace {

constexpr const char* kNullFlagsName = "_NullFlags";

// Where the null flags lie in a record image of `size` bytes and how many
// bits they hold; false when the record is too short to hold them.
bool null_flags_place(const Table& table, size_t size, size_t& offset, int& bit_count) {
  int f = table.null_flags_field;
  if (f < 0 || f >= table.field_count()) return false;
  offset = table.fields[size_t(f)].offset;
  size_t length = size_t(field_length(table, f));
  bit_count = int(length) * 8;
  return offset >= 1 && offset + length <= size && offset + length <= table.record_size;
}

bool test_bit(const Table& table, std::span<const uint8_t> record, int bit) {
  size_t offset = 0;
  int bit_count = 0;
  if (!null_flags_place(table, record.size(), offset, bit_count) || bit < 0 || bit >= bit_count) return false;
  return (record[offset + size_t(bit / 8)] >> (bit % 8)) & 1;
}

bool put_bit(const Table& table, uint8_t* record, size_t size, int bit, bool on) {
  size_t offset = 0;
  int bit_count = 0;
  if (!null_flags_place(table, size, offset, bit_count) || bit < 0 || bit >= bit_count) return false;
  uint8_t& byte = record[offset + size_t(bit / 8)];
  byte = uint8_t(on ? byte | (1u << (bit % 8)) : byte & ~(1u << (bit % 8)));
  return true;
}

const NullFlagBits* bits_of(const Table& table, int i) {
  return i >= 0 && size_t(i) < table.null_bits.size() ? &table.null_bits[size_t(i)] : nullptr;
}

// The field's own bytes in a record image of `size` bytes.
bool field_place(const Table& table, size_t size, int i, size_t& offset, size_t& length) {
  if (i < 0 || i >= table.field_count()) return false;
  offset = table.fields[size_t(i)].offset;
  length = size_t(field_length(table, i));
  return offset >= 1 && length > 0 && offset + length <= size && offset + length <= table.record_size;
}

// The system fields (the null flags among them) are the table's own
// bookkeeping: the views start with them hidden.
void hide_system_fields(Table& table) {
  bool any = false;
  for (int i = 0; i < table.field_count(); ++i) {
    if (field_type(table, i) != '0' || size_t(i) >= table.columns.flags.size()) continue;
    table.columns.flags[size_t(i)].visible = false;
    any = true;
  }
  if (!any) return;
  std::vector<int> order(size_t(table.field_count()));
  std::iota(order.begin(), order.end(), 0);
  arrange_columns(table.columns, order);
}

}  // namespace

bool is_visual_foxpro_version(uint8_t version) { return version >= 0x30 && version <= 0x32; }

uint8_t field_flags(const Table& table, int i) {
  if (!is_visual_foxpro_version(table.version()) || i < 0 || i >= table.field_count()) return 0;
  return table.fields[size_t(i)].reserved2[0];
}

bool is_variable_field(const Table& table, int i) {
  char type = field_type(table, i);
  return (type == 'V' || type == 'Q') && is_visual_foxpro_version(table.version());
}

void read_null_flags_layout(Table& table) {
  table.null_flags_field = -1;
  table.null_bits.assign(table.fields.size(), NullFlagBits());
  hide_system_fields(table);
  if (!is_visual_foxpro_version(table.version())) return;
  for (int i = 0; i < table.field_count(); ++i) {
    if (field_type(table, i) == '0' && strcasecmp(field_name(table, i).c_str(), kNullFlagsName) == 0) {
      table.null_flags_field = i;
      break;
    }
  }
  if (table.null_flags_field < 0) return;
  int bit_count = field_length(table, table.null_flags_field) * 8;
  int next = 0;
  auto take = [&]() { return next < bit_count ? next++ : -1; };
  for (int i = 0; i < table.field_count(); ++i) {
    uint8_t flags = field_flags(table, i);
    if (flags & kFieldSystem) continue;
    NullFlagBits& bits = table.null_bits[size_t(i)];
    if (is_variable_field(table, i)) bits.length_bit = take();
    if (flags & kFieldNullable) bits.null_bit = take();
  }
}

bool null_bit_set(const Table& table, std::span<const uint8_t> record, int i) {
  const NullFlagBits* bits = bits_of(table, i);
  return bits && bits->null_bit >= 0 && test_bit(table, record, bits->null_bit);
}

void set_field_null(const Table& table, uint8_t* record, size_t size, int i, bool null) {
  const NullFlagBits* bits = bits_of(table, i);
  if (bits && bits->null_bit >= 0) put_bit(table, record, size, bits->null_bit, null);
}

int value_length(const Table& table, std::span<const uint8_t> record, int i) {
  int length = field_length(table, i);
  const NullFlagBits* bits = bits_of(table, i);
  if (!bits || bits->length_bit < 0 || !test_bit(table, record, bits->length_bit)) return length;
  size_t offset = 0, size = 0;
  if (!field_place(table, record.size(), i, offset, size)) return length;
  // The last byte holds the length, so a shorter value has one byte less room.
  return std::min(int(record[offset + size - 1]), length - 1);
}

bool set_value_length(const Table& table, uint8_t* record, size_t size, int i, int length) {
  const NullFlagBits* bits = bits_of(table, i);
  size_t offset = 0, field = 0;
  if (!bits || bits->length_bit < 0 || !field_place(table, size, i, offset, field)) return false;
  bool shorter = length < int(field);
  if (shorter) record[offset + field - 1] = uint8_t(std::max(length, 0));
  return put_bit(table, record, size, bits->length_bit, shorter);
}

}  // namespace kora
