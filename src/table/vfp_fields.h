// Visual FoxPro's additions to the field list: the flags byte of each
// descriptor (byte 18), the hidden system field of null flags, and the
// variable-length fields V (varchar) and Q (varbinary).
//
// The null flags field (type 0, named _NullFlags) holds one bit per nullable
// field and one per variable-length field, counted in field order from the
// lowest bit of its first byte; a variable-length field that is also
// nullable takes its length bit first, then its null bit. A set null bit
// makes the value null whatever the field's bytes hold. A set length bit
// says the value is shorter than the field: its length is in the field's
// last byte. A clear one says the value fills the whole field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "table/dbf_file.h"

namespace kora {

// Bits of a Visual FoxPro descriptor's flags byte.
constexpr uint8_t kFieldSystem = 0x01;
constexpr uint8_t kFieldNullable = 0x02;
constexpr uint8_t kFieldBinary = 0x04;

bool is_visual_foxpro_version(uint8_t version);
// The flags byte of field i; 0 outside Visual FoxPro tables, where the byte
// means something else or nothing.
uint8_t field_flags(const Table& table, int i);
// Varchar or varbinary.
bool is_variable_field(const Table& table, int i);

// Finds the null flags field and gives every field its bits; hides the
// system fields from the views. Run once the descriptors are read.
void read_null_flags_layout(Table& table);

// Whether field i of the record is null. Tables without null flags (all but
// some Visual FoxPro ones) answer without a call: values are read in bulk.
bool null_bit_set(const Table& table, std::span<const uint8_t> record, int i);
inline bool is_null_field(const Table& table, std::span<const uint8_t> record, int i) {
  return table.null_flags_field >= 0 && null_bit_set(table, record, i);
}
// Sets or clears field i's null bit in a record image of `size` bytes;
// nothing for a field without one.
void set_field_null(const Table& table, uint8_t* record, size_t size, int i, bool null);

// The number of bytes of field i that hold its value: for varchar and
// varbinary fields what the length bit and byte say, for others the whole field.
int value_length(const Table& table, std::span<const uint8_t> record, int i);
// Records that the value of variable-length field i is `length` bytes long
// (at most the field length); false when the field cannot say a shorter
// length (no length bit), the bytes then being left as they are.
bool set_value_length(const Table& table, uint8_t* record, size_t size, int i, int length);

}  // namespace kora
