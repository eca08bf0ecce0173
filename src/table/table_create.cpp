#include "table/table_create.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "table/byte_order.h"
#include "table/file_io.h"
#include "table/memo_file.h"

namespace kora {

namespace {

constexpr uint8_t kDescriptorEnd = 0x0D;

std::string upper_trimmed(const FieldDesc& desc) {
  std::string name = desc_name(desc);
  size_t end = name.find_last_not_of(' ');
  name.erase(end == std::string::npos ? 0 : end + 1);
  size_t start = name.find_first_not_of(' ');
  name.erase(0, start == std::string::npos ? name.size() : start);
  for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

bool is_structure_type(char type) { return type != 0 && std::strchr(kStructureTypeLetters, type) != nullptr; }

// Types only Visual FoxPro tables know: their bytes mean nothing under
// another version byte (a B of 8 bytes would be read as a memo pointer).
bool is_visual_foxpro_type(char type) { return type != 0 && std::strchr("BTIY0VWQ", type) != nullptr; }

bool is_numeric_type(char type) { return type == 'N' || type == 'F'; }

// The width create gives a field under the version byte, and whether the
// field is a memo field.
int created_width(const FieldDesc& desc, uint8_t version, bool& memo) {
  int width16 = desc.length | (desc.decimals << 8);
  memo = false;
  switch (desc.type) {
    case 'C': return width16;
    case 'D':
    case 'Y': return 8;
    case 'I': return 4;
    case 'L': return 1;
    case 'T': return desc.length == 14 ? 14 : version == 0x30 ? 8 : 14;
    case 'M':
    case 'G':
      memo = true;
      return version == 0x30 ? 4 : 10;
    case 'W':  // a Visual FoxPro blob: a block number of 4 bytes
      memo = true;
      return 4;
    case 'B':
      if (width16 == 10) {
        memo = true;
        return 10;
      }
      if (width16 == 8) return 8;
      if (version == 0x8B) {
        memo = desc.decimals == 0;
        return 10;
      }
      return 8;
    default: return desc.length;
  }
}

// The descriptor as create writes it: the created width, no reserved bytes.
FieldDesc created_desc(const FieldDesc& desc, uint8_t version, uint16_t offset) {
  FieldDesc out;
  std::memcpy(out.name, desc.name, sizeof out.name);
  out.name[10] = 0;
  out.type = desc.type;
  out.offset = offset;
  out.length = desc.length;
  out.decimals = desc.decimals;
  // Visual FoxPro's field flags (nullable, binary, system) stay with the field.
  if (version == 0x30) out.reserved2[0] = desc.reserved2[0];
  bool memo = false;
  int width = created_width(desc, version, memo);
  if (desc.type == 'C') return out;
  out.length = uint8_t(width);
  if (desc.type == 'B' && width == 10 && memo) out.decimals = 0;
  return out;
}

std::string field_label(const std::vector<FieldDesc>& fields, int i) {
  std::string label = "Field ";
  label += std::to_string(i + 1);
  if (i >= 0 && size_t(i) < fields.size() && !desc_name(fields[size_t(i)]).empty()) {
    label += " (";
    label += desc_name(fields[size_t(i)]);
    label += ")";
  }
  return label;
}

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

}  // namespace

int desc_width(const FieldDesc& desc) { return desc.type == 'C' ? desc.length | (desc.decimals << 8) : desc.length; }

void set_desc_width(FieldDesc& desc, int width) {
  width = std::clamp(width, 0, 0xFFFF);
  desc.length = uint8_t(width & 0xFF);
  if (desc.type == 'C') desc.decimals = uint8_t(width >> 8);
}

std::string desc_name(const FieldDesc& desc) { return std::string(desc.name, strnlen(desc.name, 10)); }

void set_desc_name(FieldDesc& desc, std::string_view name) {
  std::memset(desc.name, 0, sizeof desc.name);
  std::memcpy(desc.name, name.data(), std::min<size_t>(name.size(), 10));
}

std::vector<FieldDesc> descriptors_of(const std::vector<StructureField>& fields) {
  std::vector<FieldDesc> out;
  out.reserve(fields.size());
  for (const StructureField& field : fields) out.push_back(field.desc);
  return out;
}

std::vector<StructureField> structure_of(const Table& table) {
  std::vector<StructureField> out;
  for (int i = 0; i < table.field_count(); ++i) {
    StructureField field;
    field.desc = table.fields[size_t(i)];
    field.source = i;
    if (size_t(i) < table.aliases.size()) field.alias = table.aliases[size_t(i)];
    out.push_back(std::move(field));
  }
  return out;
}

void normalize_field_type(FieldDesc& desc, char type, int memo_type) {
  char old_type = desc.type;
  // A Character field's decimals byte is the high byte of its width.
  if (old_type == 'C' && type != 'C') desc.decimals = 0;
  desc.type = type;
  switch (type) {
    case 'B':
      desc.length = 8;
      desc.decimals = std::min<uint8_t>(desc.decimals, 7);
      break;
    case 'C':
      if (old_type != 'C') {
        if (desc.length == 0) desc.length = 10;
        desc.decimals = 0;
      }
      break;
    case 'D':
    case 'Y':
    case 'T': desc.length = 8; break;
    case 'F':
    case 'N':
      desc.length = uint8_t(std::clamp<int>(desc.length, 1, kMaxNumericWidth));
      desc.decimals = uint8_t(std::min<int>(desc.decimals, desc.length - 1));
      break;
    case 'G':
    case 'M': desc.length = memo_type == 4 ? 4 : 10; break;
    case 'I': desc.length = 4; break;
    case 'L': desc.length = 1; break;
    default: break;
  }
}

std::string fresh_field_name(const std::vector<StructureField>& fields) {
  auto used = [&](const std::string& name) {
    return std::any_of(fields.begin(), fields.end(),
                       [&](const StructureField& f) { return upper_trimmed(f.desc) == name; });
  };
  std::string name = kFreshFieldName;
  for (int n = 1; used(name) && n < 100; ++n) {
    name = kFreshFieldName;
    name += std::to_string(n);
  }
  return name;
}

StructureField new_structure_field(const std::vector<StructureField>& fields) {
  StructureField field;
  set_desc_name(field.desc, fresh_field_name(fields));
  field.desc.type = 'C';
  set_desc_width(field.desc, 10);
  return field;
}

uint8_t version_for_kind(TableKind kind) {
  switch (kind) {
    case kDBase3: return 0x83;
    case kFoxPro: return 0xF5;
    case kDBase4: return 0x8B;
    case kVisualFoxPro: return 0x30;
    default: return 0x03;
  }
}

StructureCheck check_structure(const std::vector<FieldDesc>& fields, TableKind kind) {
  if (fields.empty()) return {StructureFault::kNoFields, -1};
  if (fields.size() > size_t(kMaxCreateFields)) return {StructureFault::kTooManyFields, kMaxCreateFields};
  uint8_t version = version_for_kind(kind);
  std::vector<std::string> names;
  long record_size = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDesc& desc = fields[i];
    int at = int(i);
    std::string name = upper_trimmed(desc);
    if (name.empty()) return {StructureFault::kEmptyName, at};
    if (std::find(names.begin(), names.end(), name) != names.end()) return {StructureFault::kDuplicateName, at};
    names.push_back(name);
    int width = desc_width(desc);
    if (desc.type == 'C' && width < 1) return {StructureFault::kBadWidth, at};
    if (is_numeric_type(desc.type)) {
      if (width < 1 || width > kMaxNumericWidth) return {StructureFault::kBadWidth, at};
      if (desc.decimals > width - 1) return {StructureFault::kBadDecimals, at};
    }
    if (desc.type == 'B' && (desc.length | (desc.decimals << 8)) != 10 && desc.decimals > 7) {
      return {StructureFault::kBadDecimals, at};
    }
    if (!is_structure_type(desc.type) && width < 1) return {StructureFault::kBadWidth, at};
    bool memo = false;
    record_size += created_width(desc, version, memo);
    if (record_size > kMaxRecordSize) return {StructureFault::kRecordTooLong, at};
  }
  return {};
}

std::string structure_fault_text(const StructureCheck& check, const std::vector<FieldDesc>& fields) {
  std::string text;
  char buffer[96];
  const FieldDesc* desc = check.field >= 0 && size_t(check.field) < fields.size() ? &fields[size_t(check.field)] : nullptr;
  switch (check.fault) {
    case StructureFault::kNone: break;
    case StructureFault::kNoFields: text = "A table needs at least one field"; break;
    case StructureFault::kTooManyFields:
      std::snprintf(buffer, sizeof buffer, "A table may have at most %d fields", kMaxCreateFields);
      text = buffer;
      break;
    case StructureFault::kEmptyName: text = field_label(fields, check.field) + ": the name is empty"; break;
    case StructureFault::kDuplicateName:
      text = field_label(fields, check.field) + ": another field has this name";
      break;
    case StructureFault::kBadWidth: {
      int most = !desc ? 255 : desc->type == 'C' ? 65535 : is_numeric_type(desc->type) ? kMaxNumericWidth : 255;
      std::snprintf(buffer, sizeof buffer, ": the width must be 1 to %d", most);
      text = field_label(fields, check.field) + buffer;
      break;
    }
    case StructureFault::kBadDecimals: {
      int most = !desc ? 0 : desc->type == 'B' ? 7 : std::max(0, desc_width(*desc) - 1);
      std::snprintf(buffer, sizeof buffer, ": at most %d decimals", most);
      text = field_label(fields, check.field) + buffer;
      break;
    }
    case StructureFault::kRecordTooLong:
      std::snprintf(buffer, sizeof buffer, ": a record would be longer than %d bytes", kMaxRecordSize);
      text = field_label(fields, check.field) + buffer;
      break;
  }
  return text;
}

NewTableLayout new_table_layout(const std::vector<FieldDesc>& fields, TableKind kind) {
  NewTableLayout layout;
  uint8_t version = version_for_kind(kind);
  size_t header_size = fields.size() * 32 + 33;
  layout.bytes.assign(header_size, 0);
  long offset = 1;
  bool visual_foxpro_types = false;
  for (size_t i = 0; i < fields.size(); ++i) {
    FieldDesc desc = created_desc(fields[i], version, uint16_t(offset));
    bool memo = false;
    offset += created_width(fields[i], version, memo);
    layout.has_memo = layout.has_memo || memo;
    visual_foxpro_types = visual_foxpro_types || is_visual_foxpro_type(desc.type);
    encode_field_desc(desc, layout.bytes.data() + 32 + i * 32);
  }
  layout.bytes[header_size - 1] = kDescriptorEnd;
  // A Visual FoxPro table keeps its version byte for its own types too, or
  // other programs would misread them.
  bool keep = layout.has_memo || (version == 0x30 && visual_foxpro_types);
  if (!keep) version = 0x03;
  // Varchar, varbinary and blob fields need the version that names them.
  if (version == 0x30 && std::any_of(fields.begin(), fields.end(), [](const FieldDesc& d) {
        return d.type == 'V' || d.type == 'Q' || d.type == 'W';
      })) {
    version = 0x32;
  }
  layout.record_size = uint16_t(std::min<long>(offset, kMaxRecordSize));
  layout.kind = table_kind_for_version(version);

  uint8_t* header = layout.bytes.data();
  header[0] = version;
  time_t now = time(nullptr);
  struct tm today;
  localtime_r(&now, &today);
  int year = today.tm_year;
  while (year >= 256) year -= 100;
  header[1] = uint8_t(year);
  header[2] = uint8_t(today.tm_mon + 1);
  header[3] = uint8_t(today.tm_mday);
  put_le16(header + 8, uint16_t(std::min<size_t>(header_size, 0xFFFF)));
  put_le16(header + 10, layout.record_size);
  return layout;
}

std::string new_memo_path(const std::string& path, const std::vector<FieldDesc>& fields, TableKind kind,
                          bool make_memo) {
  if (!make_memo) return {};
  NewTableLayout layout = new_table_layout(fields, kind);
  return layout.has_memo ? memo_file_name(path, layout.kind) : std::string();
}

Status create_dbf(const std::string& path, const std::vector<FieldDesc>& fields, TableKind kind, int block_size,
                  bool make_memo, Placement placement) {
  if (!check_structure(fields, kind).ok()) return Status::kInvalidStructure;
  NewTableLayout layout = new_table_layout(fields, kind);
  std::string memo_path = layout.has_memo && make_memo ? memo_file_name(path, layout.kind) : std::string();
  std::vector<uint8_t> memo_header;
  if (!memo_path.empty()) {
    memo_header = memo_header_bytes(layout.kind, block_size);
    if (memo_header.empty()) return Status::kInvalidStructure;
  }
  if (placement == Placement::kNew && (exists(path) || (!memo_path.empty() && exists(memo_path)))) {
    return Status::kFileExists;
  }

  // A replaced file keeps its mode.
  auto open_beside = [&](PendingFile& file, const std::string& target) {
    struct stat info;
    bool keep = placement == Placement::kReplace && stat(target.c_str(), &info) == 0;
    mode_t mode = keep ? info.st_mode : 0;
    return file.open(target, keep ? &mode : nullptr);
  };
  PendingFile table_file;
  if (Status s = open_beside(table_file, path); s != Status::kOk) return s;
  if (Status s = table_file.write_at(0, layout.bytes.data(), layout.bytes.size()); s != Status::kOk) return s;
  PendingFile memo_file;
  if (!memo_path.empty()) {
    if (Status s = open_beside(memo_file, memo_path); s != Status::kOk) return s;
    if (Status s = memo_file.write_at(0, memo_header.data(), memo_header.size()); s != Status::kOk) return s;
    if (Status s = memo_file.flush(); s != Status::kOk) return s;
  }
  if (Status s = table_file.flush(); s != Status::kOk) return s;
  if (!memo_path.empty()) {
    if (Status s = memo_file.commit(placement); s != Status::kOk) return s;
  }
  Status placed = table_file.commit(placement);
  // A memo file made new for a table that could not be placed is no one's.
  if (placed != Status::kOk && placement == Placement::kNew && !memo_path.empty()) file_unlink(memo_path);
  return placed;
}

}  // namespace kora
