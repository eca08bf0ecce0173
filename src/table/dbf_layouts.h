// The descriptor layouts beside the standard 32-byte one (dBase 7, dBase II)
// and the check that a descriptor list reads as a table's: what decides
// whether an unknown file is a table at all and whether its header may be
// repaired.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "table/dbf_file.h"

namespace kora {

// Where one layout keeps its descriptors and what lies where in each.
struct DescriptorShape {
  int first;        // file offset of the first descriptor
  int size;         // bytes per descriptor
  int name_size;    // bytes of the name
  int type_at;      // the type letter
  int length_at;    // the length byte
  int decimals_at;  // the decimals byte (for C the length's high byte)
};

extern const DescriptorShape kStandardShape;
extern const DescriptorShape kDBase7Shape;
extern const DescriptorShape kDBase2Shape;

// The file offset of the first byte of `count` descriptors in `area` (the
// file's bytes from shape.first) that no table would hold: a name that is
// empty or holds a control character before its NUL, an unknown type
// letter (unless `unknown_types` allows them), a length of 0. -1 when every
// descriptor is sound.
long first_unsound_byte(std::span<const uint8_t> area, size_t count, const DescriptorShape& shape,
                        bool unknown_types = false);

// Decodes one descriptor of the shape into `desc`.
void decode_shaped_desc(const uint8_t* bytes, const DescriptorShape& shape, FieldDesc& desc);

// Read the fields and header of a dBase 7 (version 0x04 or 0x8C) or dBase II
// (0x02) table whose handle holds its fd and first 32 bytes; false, with
// the table untouched, when the file does not hold that layout soundly.
bool read_dbase7_layout(Table& table);
bool read_dbase2_layout(Table& table);

// Gives the record about to be added its autoincrement values: each field
// of type + in a dBase 7 table takes the next value its descriptor keeps,
// and the descriptor the one after (a counter of 0 gives none). 0 when a
// counter could not be read or advanced.
int number_new_record(Table& table);

// Lays the fields out in the record (offsets, record size, first memo
// field, columns, aliases); kRecordTooLong when they would not fit.
Status lay_out_record(Table& table);

}  // namespace kora
