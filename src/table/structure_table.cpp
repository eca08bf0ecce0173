#include "table/structure_table.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "table/byte_order.h"
#include "table/record_scanner.h"
#include "table/value_codec.h"

namespace kora {

namespace {

struct StructureColumn {
  const char* name;
  char type;
  int length;
  int offset;
};
constexpr StructureColumn kColumns[] = {
    {"FIELD_NAME", 'C', 10, 1}, {"FIELD_TYPE", 'C', 1, 11}, {"FIELD_LEN", 'N', 3, 12},
    {"FIELD_DEC", 'N', 3, 15},  {"DESCRIPT", 'C', 32, 18},
};

}  // namespace

void append_structure_table_header(std::string& out, size_t count) {
  uint8_t header[kStructureTableHeaderSize] = {};
  header[0] = 0x03;
  header[1] = 100;  // a fixed date of last update: 13 September 2000
  header[2] = 9;
  header[3] = 13;
  put_le32(header + 4, uint32_t(count));
  put_le16(header + 8, kStructureTableHeaderSize);
  put_le16(header + 10, kStructureTableRecordSize);
  uint8_t* desc = header + 32;
  for (const StructureColumn& column : kColumns) {
    std::memcpy(desc, column.name, std::strlen(column.name));
    desc[11] = uint8_t(column.type);
    put_le16(desc + 12, uint16_t(column.offset));
    desc[16] = uint8_t(column.length);
    desc += 32;
  }
  *desc = 0x0D;
  out.append(reinterpret_cast<const char*>(header), sizeof header);
}

// " %-10s%c%3d%3d%-32s", cut to 50 bytes.
void append_structure_table_record(std::string& out, const StructureField& field) {
  char numbers[16];
  std::snprintf(numbers, sizeof numbers, "%3d%3d", field.desc.length, field.desc.decimals);
  std::string record = " ";
  std::string name = desc_name(field.desc);
  name.resize(10, ' ');
  record += name;
  record += field.desc.type ? field.desc.type : ' ';
  record += numbers;
  record += field.alias;
  record.resize(kStructureTableRecordSize, ' ');
  out += record;
}

namespace {

std::string trimmed(std::string text) {
  size_t end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
  size_t start = text.find_first_not_of(' ');
  return text.substr(start == std::string::npos ? text.size() : start);
}

// The field one record describes; false when it is to be skipped. `valid`
// turns false when its width or decimals are out of range.
bool described_field(const Table& table, RecordImage image, const int columns[5], StructureField& field,
                     bool& valid) {
  std::string name = trimmed(field_raw_text(table, image, columns[0]));
  std::string type = field_raw_text(table, image, columns[1]);
  if (name.empty() || type.empty()) return false;
  char letter = char(std::toupper(static_cast<unsigned char>(type[0])));
  if (!std::strchr(kStructureTypeLetters, letter)) return false;
  long double length = std::trunc(field_number(table, image, columns[2]));
  long double decimals = std::trunc(field_number(table, image, columns[3]));
  field = StructureField{};
  set_desc_name(field.desc, name.substr(0, 10));
  field.desc.type = letter;
  if (columns[4] >= 0) {
    field.alias = field_raw_text(table, image, columns[4]);
    field.alias.erase(field.alias.find_last_not_of(' ') + 1);
  }
  valid = length >= 0 && decimals >= 0 && length <= 65535 && decimals <= 255;
  if (!valid) return true;
  int width = int(length);
  if (letter == 'C') {
    if (width <= 255) width += int(decimals) * 256;
    valid = width <= 65535;
    set_desc_width(field.desc, std::min(width, 65535));
  } else {
    valid = width <= 255;
    field.desc.length = uint8_t(std::min(width, 255));
    field.desc.decimals = uint8_t(decimals);
  }
  // The same ranges as a structure being confirmed.
  StructureCheck check = check_structure({field.desc}, kDBase3);
  valid = valid && check.fault != StructureFault::kBadWidth && check.fault != StructureFault::kBadDecimals;
  return true;
}

}  // namespace

std::string structure_table_bytes(const std::vector<StructureField>& fields) {
  std::string out;
  out.reserve(kStructureTableHeaderSize + fields.size() * kStructureTableRecordSize + 1);
  append_structure_table_header(out, fields.size());
  for (const StructureField& field : fields) append_structure_table_record(out, field);
  out += '\x1A';
  return out;
}

Status save_structure_table(const std::string& path, const std::vector<StructureField>& fields,
                            Placement placement) {
  std::string bytes = structure_table_bytes(fields);
  PendingFile file;
  if (Status s = file.open(path); s != Status::kOk) return s;
  if (Status s = file.write_at(0, bytes.data(), bytes.size()); s != Status::kOk) return s;
  return file.commit(placement);
}

Status load_structure_table(const std::string& path, std::vector<StructureField>& fields, uint32_t* bad_record) {
  Status why = Status::kOk;
  std::unique_ptr<Table> table = open_table(path, &why);
  if (!table) return why == Status::kOk ? Status::kCannotOpen : why;
  int columns[5];
  for (int c = 0; c < 5; ++c) columns[c] = find_field(*table, kColumns[c].name);
  if (std::any_of(columns, columns + 4, [](int i) { return i < 0; })) return Status::kNotStructureTable;

  std::vector<StructureField> loaded;
  RecordScanner scan(*table, ScanOrder::kPhysical);
  ScannedRecord r;
  while (scan.next(r)) {
    if (r.image[0] == '*') continue;
    RecordImage image(r.image, table->record_size);
    StructureField field;
    bool valid = true;
    if (!described_field(*table, image, columns, field, valid)) continue;
    if (!valid) {
      if (bad_record) *bad_record = r.record;
      return Status::kInvalidStructure;
    }
    loaded.push_back(std::move(field));
  }
  if (scan.status() != Status::kOk) return scan.status();
  if (loaded.empty()) loaded.push_back(new_structure_field({}));
  fields = std::move(loaded);
  return Status::kOk;
}

}  // namespace kora
