// New tables from a list of field descriptors, and the checks a list must
// pass first. The structure editor works on a list of StructureField; the
// DBF export and the structure editor create their files with create_dbf.
//
//   std::vector<StructureField> fields{new_structure_field({})};
//   normalize_field_type(fields[0].desc, 'N', memo_type);
//   StructureCheck check = check_structure(descriptors_of(fields), kind);
//   if (!check.ok()) show(structure_fault_text(check, descriptors_of(fields)));
//   Status s = create_dbf(path, descriptors_of(fields), kind, block_size, true, Placement::kNew);
//   // kFileExists: ask, then again with Placement::kReplace
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_file.h"
#include "table/pending_file.h"
#include "table/status.h"

namespace kora {

// Most fields a created table may have: one more would push the header
// size (32 bytes each, plus 33) past 16 bits.
constexpr int kMaxCreateFields = 2046;
constexpr int kMaxRecordSize = 65535;
constexpr int kMaxNumericWidth = 20;
constexpr const char* kFreshFieldName = "NEWFIELD";
// The type letters the structure editor offers.
constexpr const char* kStructureTypeLetters = "CNFDBYLMGIT";

// One field of a structure being edited: its descriptor, the field of the
// open table it came from (-1 for a field added in the editor) and its alias.
struct StructureField {
  FieldDesc desc;
  int source = -1;
  std::string alias;
};

// The width of a descriptor: the 16-bit length for C, the length byte otherwise.
int desc_width(const FieldDesc& desc);
// Sets the width: both length bytes for C, the length byte otherwise.
void set_desc_width(FieldDesc& desc, int width);
std::string desc_name(const FieldDesc& desc);
void set_desc_name(FieldDesc& desc, std::string_view name);
std::vector<FieldDesc> descriptors_of(const std::vector<StructureField>& fields);
// The fields of an open table, each its own source, with their aliases.
std::vector<StructureField> structure_of(const Table& table);

// Gives the descriptor the type and the width and decimals the type needs.
// memo_type is the MemoType setting (4: Visual FoxPro memo fields of 4 bytes).
void normalize_field_type(FieldDesc& desc, char type, int memo_type);
// NEWFIELD, or NEWFIELD1, NEWFIELD2, ... : the first not yet used, ignoring case.
std::string fresh_field_name(const std::vector<StructureField>& fields);
// A Character field of width 10 with a fresh name and no source.
StructureField new_structure_field(const std::vector<StructureField>& fields);

// Why a list of fields cannot make a table.
enum class StructureFault {
  kNone,
  kNoFields,
  kTooManyFields,   // more than kMaxCreateFields
  kEmptyName,
  kDuplicateName,   // the same name as an earlier field, ignoring case
  kBadWidth,        // outside the range of its type
  kBadDecimals,
  kRecordTooLong,   // the record passes kMaxRecordSize at this field
};

struct StructureCheck {
  StructureFault fault = StructureFault::kNone;
  int field = -1;  // the field at fault, when one is
  bool ok() const { return fault == StructureFault::kNone; }
};

StructureCheck check_structure(const std::vector<FieldDesc>& fields, TableKind kind);
// "Field 3 (PRICE): the width must be 1 to 20" and the like.
std::string structure_fault_text(const StructureCheck& check, const std::vector<FieldDesc>& fields);

// The version byte a new table of the kind gets when it has memo fields.
uint8_t version_for_kind(TableKind kind);

// A new table's header, descriptors and the 0x0D: what create_dbf writes.
// The descriptors get their offsets and the widths their types fix;
// has_memo says whether a memo file belongs to it.
struct NewTableLayout {
  std::vector<uint8_t> bytes;
  bool has_memo = false;
  TableKind kind = kDBase3;  // of the memo file, by the version byte
  uint16_t record_size = 0;
};
NewTableLayout new_table_layout(const std::vector<FieldDesc>& fields, TableKind kind);

// The memo file a new table at `path` would get, or empty when it gets none.
std::string new_memo_path(const std::string& path, const std::vector<FieldDesc>& fields, TableKind kind,
                          bool make_memo);

// Creates an empty table (and its empty memo file when it has memo fields
// and make_memo is set). kNew never replaces a file: kFileExists when the
// table or its memo file exists. kReplace replaces both, each in one rename;
// a replaced file keeps its mode, a new one gets 0666 less the umask. The
// caller makes sure neither is a file open in kora. kInvalidStructure when
// check_structure refuses the fields.
Status create_dbf(const std::string& path, const std::vector<FieldDesc>& fields, TableKind kind, int block_size,
                  bool make_memo, Placement placement);

}  // namespace kora
