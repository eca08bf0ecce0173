// The structure table: a small dBase III table with one record per field of
// a structure (FIELD_NAME C(10), FIELD_TYPE C(1), FIELD_LEN N(3),
// FIELD_DEC N(3), DESCRIPT C(32)), which the structure editor saves and
// loads. DESCRIPT carries the field's alias.
//
// FIELD_LEN and FIELD_DEC hold the descriptor's length and decimals bytes,
// so a Character field wider than 255 is saved as its low byte and its high
// byte; on load a FIELD_LEN above 255 is taken as a Character width as it
// stands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "table/pending_file.h"
#include "table/status.h"
#include "table/table_create.h"

namespace kora {

constexpr int kStructureTableHeaderSize = 193;
constexpr int kStructureTableRecordSize = 50;

// The parts of the file, for writers that have no field list: the header
// with its five descriptors and 0x0D for `count` records, and one record.
void append_structure_table_header(std::string& out, size_t count);
void append_structure_table_record(std::string& out, const StructureField& field);

// The whole file: header, five descriptors, 0x0D, one 50-byte record per
// field and 0x1A.
std::string structure_table_bytes(const std::vector<StructureField>& fields);
// Writes it; kNew never replaces a file (kFileExists), kReplace replaces it
// in one rename. The caller makes sure the file is no table open in kora.
Status save_structure_table(const std::string& path, const std::vector<StructureField>& fields,
                            Placement placement);

// Reads the fields a structure table describes, skipping deleted records,
// records without a name and unknown type letters; an empty result gives one
// fresh field. Loaded fields have no source. The open's failure status when
// the file is no table; kNotStructureTable when a column is missing;
// kInvalidStructure, with `bad_record` (counting from 0) set, when a width or
// decimals is out of its type's range. `fields` changes only on kOk.
Status load_structure_table(const std::string& path, std::vector<StructureField>& fields,
                            uint32_t* bad_record = nullptr);

}  // namespace kora
