#include "table/dbf_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <strings.h>

#include "table/byte_order.h"
#include "table/code_page.h"
#include "table/text_code_page.h"
#include "table/dbf_layouts.h"
#include "table/dictionary.h"
#include "table/file_io.h"
#include "table/header_file.h"
#include "table/journal.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/undo_log.h"
#include "table/value_codec.h"
#include "table/vfp_fields.h"

namespace kora {

namespace {

constexpr uint8_t kKnownVersions[] = {0x02, 0x03, 0x04, 0x30, 0x31, 0x32, 0x43, 0x63,
                                      0x83, 0x8B, 0xCB, 0xF5, 0x0C, 0x62, 0x8C};

constexpr const char* kKindNames[] = {"dBase III", "FoxPro", "dBase IV", "Visual FoxPro", "Unknown"};

constexpr uint8_t kDescriptorEnd = 0x0D;

bool g_recovery_forbidden = false;
constexpr uint8_t kEndOfFile = 0x1A;

// The 16-bit length of bytes 16..17, whatever the type.
int length16(const FieldDesc& desc) { return desc.length | (desc.decimals << 8); }

// The file's size and whether its last byte is the end mark 0x1A.
struct FileEnd {
  long long size = -1;
  bool end_mark = false;
};

FileEnd file_end(int fd) {
  FileEnd end;
  end.size = file_size(fd);
  uint8_t last = 0;
  end.end_mark = end.size > 0 && file_read_at(fd, &last, 1, uint64_t(end.size - 1)) == 1 && last == kEndOfFile;
  return end;
}

// The count the header on disk states; the one in memory when it cannot be read.
uint32_t stated_record_count(const Table& table) {
  uint8_t bytes[4];
  if (file_read_at(table.fd, bytes, 4, 4) != 4) return table.record_count;
  return get_le32(bytes);
}

// The path with the extension of its file name (after the last dot) replaced.
std::string replace_extension(const std::string& path, const char* extension) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  size_t base_end = (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? dot : path.size();
  return path.substr(0, base_end) + extension;
}

// Reads the standard descriptors of `area` (the file's bytes from offset 32)
// into table.fields and lays out the record; why the file is not a table
// when it is not.
Status read_descriptors(Table& table, const std::vector<uint8_t>& area, bool& mostly_unknown) {
  size_t got = area.size();
  if (got == 0) return Status::kNoDescriptors;

  table.fields.clear();
  int score = 0;
  if (area[0] != kDescriptorEnd) {
    for (int i = 0; i < kMaxFields; ++i) {
      size_t at = size_t(i) * 32;
      if (at + 32 > got) break;  // a descriptor cut off by the end of the file
      FieldDesc desc;
      decode_field_desc(&area[at], desc);
      table.fields.push_back(desc);
      score += is_known_type_letter(desc.type) ? 1 : -1;
      size_t next = at + 32;
      if (next >= got || area[next] == kDescriptorEnd) break;
      // A descriptor that would reach past the header's end is record data,
      // not a field: files without the 0x0D terminator end their list here.
      if (32 + next + 32 > table.header_size) break;
    }
  }

  long sum16 = 0, sum8 = 0;
  for (const FieldDesc& desc : table.fields) {
    sum16 += desc.type == 'C' ? length16(desc) : desc.length;
    sum8 += desc.length;
  }
  int header_record_size = get_le16(&table.header_bytes[10]);
  table.char_length_8bit = sum16 + 1 != header_record_size && sum8 + 1 == header_record_size;

  Status laid_out = lay_out_record(table);
  if (laid_out != Status::kOk) return laid_out;

  int count = table.field_count();
  if (count == 0 || score != count) table.header_errors |= kBadFieldTypes;
  mostly_unknown = score < 0;
  return Status::kOk;
}

std::string byte_detail(long offset, uint8_t value) {
  char text[48];
  std::snprintf(text, sizeof text, "byte %ld holds 0x%02X", offset, value);
  return text;
}

// Whether standard descriptors read as a table's: each one sound, the list
// ended by 0x0D or by the header's end, and the header's record size what
// the fields add up to. Type letters of later programs, in the minority,
// may be allowed.
OpenFailure check_standard_list(const Table& table, const std::vector<uint8_t>& area, bool unknown_types) {
  size_t count = table.fields.size();
  long bad = first_unsound_byte(area, count, kStandardShape, unknown_types);
  size_t end = count * 32;
  bool ended = end < area.size() ? area[end] == kDescriptorEnd || 32 + end + 1 >= table.header_size
                                 : 32 + end + 1 >= table.header_size;
  if (bad < 0 && !ended) bad = long(32 + end);
  if (bad >= 0) {
    size_t at = size_t(bad) - 32;
    return {Status::kNotATable, byte_detail(bad, at < area.size() ? area[at] : 0)};
  }
  int stored = get_le16(&table.header_bytes[10]);
  if (stored != table.record_size) {
    std::string detail = "the header says ";
    detail += std::to_string(stored);
    detail += ", the fields ";
    detail += std::to_string(table.record_size);
    return {Status::kRecordSizeMismatch, detail};
  }
  return {};
}

// Whether records of `record_size` bytes from `header_size` on fill the file
// exactly, with or without the end mark after them, and number `count`
// (any number when count is negative).
bool records_fill(const FileEnd& end, long header_size, long record_size, long long count) {
  if (record_size <= 0 || header_size > end.size) return false;
  auto fills = [&](long long bytes) {
    return bytes >= 0 && bytes % record_size == 0 && (count < 0 || bytes / record_size == count);
  };
  long long data = end.size - header_size;
  return fills(data) || (end.end_mark && fills(data - 1));
}

// The header sizes the 0x0D ending the descriptors gives, most likely
// first: Visual FoxPro keeps 263 bytes for its database's name after it.
std::vector<long> sizes_from_terminator(const Table& table, const std::vector<uint8_t>& area) {
  for (size_t at = 0; at < area.size() && at < size_t(kMaxFields) * 32; at += 32) {
    if (area[at] != kDescriptorEnd) continue;
    long plain = long(32 + at + 1), with_name = plain + 263;
    std::vector<long> sizes = {plain, with_name};
    if (table_kind_for_version(table.version()) == kVisualFoxPro) std::swap(sizes[0], sizes[1]);
    // The header's size field has 16 bits.
    std::erase_if(sizes, [](long size) { return size > 0xFFFF; });
    return sizes;
  }
  return {};
}

// Where the records start. A header size that agrees with the 0x0D ending
// the field list stands, and so does one that disagrees while its records
// fill the file. Otherwise the 0x0D gives the size when the records from
// there come to the header's count or end right before an end mark (records
// of a few bytes fill a file from almost anywhere), or when the header's
// size points past the end of the file; the header is flagged. A size that
// fits neither is flagged and a repair refused, with the reason: the rows
// would be garbage.
OpenFailure settle_header_size(Table& table, const std::vector<uint8_t>& area) {
  long stated = table.header_size;
  std::vector<long> candidates = sizes_from_terminator(table, area);
  FileEnd end = file_end(table.fd);
  long record_size = get_le16(&table.header_bytes[10]);
  long long count = get_le32(&table.header_bytes[4]);
  auto take = [&](long size) {
    table.header_size = uint16_t(size);
    put_le16(&table.header_bytes[8], table.header_size);
    table.header_errors |= kBadHeaderSize;
    return OpenFailure();
  };
  bool agrees = std::find(candidates.begin(), candidates.end(), stated) != candidates.end();
  if ((agrees || candidates.empty()) && stated <= end.size) return {};
  if (records_fill(end, stated, record_size, count)) return {};
  for (long size : candidates)
    if (records_fill(end, size, record_size, count)) return take(size);
  if (records_fill(end, stated, record_size, -1)) return {};
  FileEnd before_mark{end.size - 1, false};
  for (long size : candidates)
    if (end.end_mark && records_fill(before_mark, size, record_size, -1)) return take(size);

  std::string says = "the header says the records start at byte " + std::to_string(stated);
  if (stated > end.size) {
    for (long size : candidates)
      if (size <= end.size) return take(size);
    table.header_errors |= kBadHeaderSize;
    return {Status::kHeaderSizeMismatch, says + "; the file has " + std::to_string(end.size) + " bytes"};
  }
  table.header_errors |= kBadHeaderSize;
  long terminator = *std::min_element(candidates.begin(), candidates.end()) - 1;
  return {Status::kHeaderSizeMismatch, says + "; the field list ends at byte " + std::to_string(terminator)};
}

// A 64-byte header holds one descriptor and no 0x0D after it. It is taken
// for a table only when nothing else says otherwise: the descriptor sound,
// the byte after it no 0x0D (then the 0x0D would be the first record's
// flag), its type one kora knows, the header's record size the field's,
// and whole records after it.
constexpr int kUnterminatedHeaderSize = 64;

bool holds_unterminated_list(const Table& table, const std::vector<uint8_t>& area, const OpenFailure& size_refusal,
                             const OpenFailure& unsound) {
  return size_refusal.status == Status::kOk && unsound.status == Status::kOk &&
         (table.header_errors & kBadHeaderSize) == 0 && table.field_count() == 1 &&
         is_known_type_letter(table.fields[0].type) &&
         (area.size() <= 32 || area[32] != kDescriptorEnd) &&
         records_fill(file_end(table.fd), kUnterminatedHeaderSize, table.record_size, -1);
}

// The dBase III to Visual FoxPro layout. A file with a version byte no
// program writes is taken for a table only when its descriptors read as
// one; it is then shown read-only.
OpenFailure read_standard_layout(Table& table) {
  uint8_t version = table.version();
  bool known = is_known_version(version);
  if (!known) table.header_errors |= kBadVersion;
  table.header_size = get_le16(&table.header_bytes[8]);
  std::vector<uint8_t> area(kDescriptorAreaSize);
  ssize_t got = file_read_at(table.fd, area.data(), area.size(), 32);
  if (got < 0) return {Status::kReadError, {}};
  area.resize(size_t(got));

  OpenFailure failure;
  // A header of 33 bytes and its 0x0D: a table with no fields.
  bool no_fields = !area.empty() && area[0] == kDescriptorEnd && table.header_size >= 33;
  // Whatever the version byte, a header with no room for a descriptor is
  // refused for its size: that is what is wrong with it.
  OpenFailure too_small{Status::kBadHeaderSize, "the header says " + std::to_string(table.header_size)};
  if (table.header_size < kUnterminatedHeaderSize && !no_fields) return too_small;
  bool one_descriptor = table.header_size == kUnterminatedHeaderSize && !no_fields;
  OpenFailure size_refusal = settle_header_size(table, area);
  bool mostly_unknown = false;
  failure.status = read_descriptors(table, area, mostly_unknown);
  if (failure.status == Status::kOk) {
    // Field types of later programs do not make a sound list any less a
    // table's: such a field is shown as its bytes and never written. Only
    // a list that is not sound anyway is refused for them.
    OpenFailure unsound = check_standard_list(table, area, true);
    table.repair_refusal = size_refusal.status != Status::kOk ? size_refusal : unsound;
    if (one_descriptor) {
      if (!holds_unterminated_list(table, area, size_refusal, unsound)) return too_small;
      table.odd_layout |= kNoFieldTerminator;
    }
    if (unsound.status == Status::kOk) return {};
    if (known && !mostly_unknown) return {};
    failure = known ? OpenFailure{Status::kBadFieldTypes, {}} : unsound;
  }
  if (!known) return {Status::kNotATable, byte_detail(0, version)};
  // Without a 0x0D the header's size alone ends the field list: when it is
  // wrong, that is the cause.
  bool list_unsound = failure.status == Status::kBadFieldTypes || failure.status == Status::kNotATable;
  return list_unsound && size_refusal.status != Status::kOk ? size_refusal : failure;
}

OpenFailure read_layout(Table& table) {
  table.file_version = table.version();
  if (read_dbase7_layout(table) || read_dbase2_layout(table)) return {lay_out_record(table), {}};
  return read_standard_layout(table);
}

// What a table refuses, and why.
void settle_read_only(Table& table) {
  if (table.read_only) {
    table.read_only_cause = ReadOnlyCause::kFile;
  } else if (table.layout == DescriptorLayout::kDBase2) {
    table.read_only_cause = ReadOnlyCause::kDBase2;
  } else if (table.header_errors & kBadVersion) {
    table.read_only_cause = ReadOnlyCause::kUnknownVersion;
  } else if (table.repair_refusal.status == Status::kHeaderSizeMismatch) {
    table.read_only_cause = ReadOnlyCause::kHeaderSize;
  }
  // A whole-table change of another program is under way: writing beside
  // it would be lost or would damage what it writes.
  if (table.read_only_cause == ReadOnlyCause::kNone && foreign_file_lock(table) == LockKind::kFile)
    table.read_only_cause = ReadOnlyCause::kLockedByOther;
  table.read_only = table.read_only_cause != ReadOnlyCause::kNone;
}

// The record count, from the file's size; dBase II files are padded with
// 0x1A, so their header's count stands while the file holds that many.
void settle_record_count(Table& table) {
  uint32_t stored_count = get_le32(&table.header_bytes[4]);
  RecordCountReading reading = read_record_count(table.fd, table.header_size, table.record_size, stored_count);
  table.record_count = reading.count;
  if (table.layout == DescriptorLayout::kDBase2) {
    table.record_count = std::min(table.record_count, stored_count);
  } else if (!reading.agrees) {
    table.header_errors |= kBadRecordCount;
  } else if (reading.bytes_after_end_mark) {
    table.odd_layout |= kBytesAfterEndMark;
  }
  put_le32(&table.header_bytes[4], table.record_count);
  put_le16(&table.header_bytes[10], table.record_size);
}

}  // namespace

void decode_field_desc(const uint8_t* bytes, FieldDesc& desc) {
  std::memcpy(desc.name, bytes, 11);
  desc.type = char(bytes[11]);
  desc.offset = get_le16(bytes + 12);
  std::memcpy(desc.reserved1, bytes + 14, 2);
  desc.length = bytes[16];
  desc.decimals = bytes[17];
  std::memcpy(desc.reserved2, bytes + 18, 14);
}

void encode_field_desc(const FieldDesc& desc, uint8_t* bytes) {
  std::memcpy(bytes, desc.name, 11);
  bytes[11] = uint8_t(desc.type);
  put_le16(bytes + 12, desc.offset);
  std::memcpy(bytes + 14, desc.reserved1, 2);
  bytes[16] = desc.length;
  bytes[17] = desc.decimals;
  std::memcpy(bytes + 18, desc.reserved2, 14);
}

Table::~Table() {
  if (fd >= 0) ::close(fd);
}

bool is_known_version(uint8_t version) {
  return std::find(std::begin(kKnownVersions), std::end(kKnownVersions), version) != std::end(kKnownVersions);
}

TableKind table_kind_for_version(uint8_t version) {
  switch (version) {
    case 0xF5: return kFoxPro;
    case 0x04:
    case 0x8B:
    case 0x8C: return kDBase4;
    case 0x30:
    case 0x31:  // with an autoincrement field
    case 0x32:  // with varchar, varbinary or blob fields
      return kVisualFoxPro;
    case 0xE5: return kSmtKind;
    default: return kDBase3;
  }
}

const char* table_kind_name(TableKind kind) {
  return kind >= kDBase3 && kind <= kSmtKind ? kKindNames[kind] : kKindNames[kSmtKind];
}

const char* table_type_name(const Table& table) {
  switch (table.layout) {
    case DescriptorLayout::kDBase7: return "dBase 7";
    case DescriptorLayout::kDBase2: return "dBase II";
    default: return table_kind_name(table.kind);
  }
}

// With Visual FoxPro's varchar, varbinary and blob, and dBase 7's
// autoincrement, timestamp and double.
bool is_known_type_letter(char type) { return type != 0 && std::strchr("CNFDLMTGYBI0VQW+@O", type) != nullptr; }

std::string read_only_reason(const Table& table) {
  switch (table.read_only_cause) {
    case ReadOnlyCause::kFile: return "read-only file";
    case ReadOnlyCause::kDBase2: return "dBase II table";
    case ReadOnlyCause::kHeaderSize: return "header size off";
    case ReadOnlyCause::kLockedByOther: return "locked by another program";
    case ReadOnlyCause::kIndexFile: return "index not updated";
    case ReadOnlyCause::kUnknownVersion: {
      char text[40];
      std::snprintf(text, sizeof text, "unknown version 0x%02X", table.file_version);
      return text;
    }
    default: return std::string();
  }
}

namespace {

std::unique_ptr<Table> open_table_as(const std::string& path, OpenFailure* why, bool writable) {
  OpenFailure ignored;
  OpenFailure& failure = why ? *why : ignored;
  failure = OpenFailure();
  auto table = std::make_unique<Table>();
  table->view_mapping = 1;
  table->first_memo_field = -1;
  for (int i = 0; i < 4; ++i) {
    table->date_formats[size_t(i)] = kDefaultDateFormats[i];
    table->date_time_formats[size_t(i)] = kDefaultDateTimeFormats[i];
  }

  bool may_write = writable && !g_recovery_forbidden && access(path.c_str(), W_OK) == 0;
  failure.status = recover_table(path, may_write, table->recovery_note);
  if (failure.status != Status::kOk) return nullptr;
  // An undo cut short is finished once the journal has finished its move.
  std::string undo_note;
  failure.status = recover_undo(path, may_write, undo_note);
  if (failure.status != Status::kOk) return nullptr;
  if (!undo_note.empty()) table->recovery_note += (table->recovery_note.empty() ? "" : " ") + undo_note;

  table->fd = writable ? file_open(path, O_RDWR | O_CLOEXEC) : -1;
  if (table->fd < 0) {
    table->fd = file_open(path, O_RDONLY | O_CLOEXEC);
    if (table->fd < 0) {
      failure.status = status_from_open_errno(errno);
      return nullptr;
    }
    table->read_only = true;
  }

  ssize_t got = file_read_at(table->fd, table->header_bytes.data(), 32, 0);
  if (got != 32) {
    failure.status = got < 0 ? Status::kReadError : Status::kShortHeader;
    return nullptr;
  }
  table->file_name = path;
  table->stated_header = table->header_bytes;
  failure = read_layout(*table);
  if (failure.status != Status::kOk) return nullptr;

  table->record.assign(kRecordBufferSize + 1, 0);
  table->text.assign(kRecordBufferSize + 1, 0);
  blank_record(*table);

  if (table->header_errors & kBadVersion) table->header_bytes[0] = table->first_memo_field < 0 ? 0x03 : 0xF5;
  table->kind = table_kind_for_version(table->version());
  table->memo_file_name = find_memo_file(path, table->kind);
  table->memo_missing = memo_file_missing(*table);
  read_null_flags_layout(*table);
  table->code_page_name = read_code_page_file(path);
  settle_record_count(*table);
  settle_read_only(*table);
  table->bak_file_name = replace_extension(path, ".bak");
  return table;
}

}  // namespace

std::unique_ptr<Table> open_table(const std::string& path, OpenFailure* why) { return open_table_as(path, why, true); }

std::unique_ptr<Table> open_table_read_only(const std::string& path, OpenFailure* why) {
  return open_table_as(path, why, false);
}

std::unique_ptr<Table> open_table(const std::string& path, Status* why) {
  OpenFailure failure;
  std::unique_ptr<Table> table = open_table(path, &failure);
  if (why) *why = failure.status;
  return table;
}

void close_table(std::unique_ptr<Table>& table) {
  if (table) drop_undo_history(*table);
  table.reset();
}

void forbid_recovery_writes(bool forbidden) { g_recovery_forbidden = forbidden; }

namespace {

// The header in memory and the end mark after the last record; a repair
// does not add the mark past the end of the file, so never makes it longer.
int write_header_bytes(Table& table, bool may_grow) {
  if (table.layout == DescriptorLayout::kDBase2) return 0;
  time_t now = time(nullptr);
  struct tm today;
  localtime_r(&now, &today);
  int year = today.tm_year;
  while (year >= 256) year -= 100;
  table.header_bytes[1] = uint8_t(year);
  table.header_bytes[2] = uint8_t(today.tm_mon + 1);
  table.header_bytes[3] = uint8_t(today.tm_mday);
  put_le32(&table.header_bytes[4], table.record_count);
  put_le16(&table.header_bytes[10], table.record_size);

  // The version byte in memory may stand in for one kora does not know; the
  // file keeps its own (see confirm_header_repair).
  std::array<uint8_t, 32> bytes = table.header_bytes;
  bytes[0] = table.file_version;
  if (!file_write_at(table.fd, bytes.data(), 32, 0)) return 0;
  uint8_t end = kEndOfFile;
  off_t end_at = off_t(table.header_size) + off_t(table.record_count) * table.record_size;
  if (!may_grow && end_at >= file_size(table.fd)) return 1;
  if (!file_write_at(table.fd, &end, 1, uint64_t(end_at))) return 0;
  return 1;
}

}  // namespace

int write_header(Table& table) { return write_header_bytes(table, true); }

RecordCountReading read_record_count(int fd, uint32_t header_size, uint32_t record_size, uint32_t stated) {
  RecordCountReading reading;
  FileEnd end = file_end(fd);
  long long data = end.size - header_size;
  if (end.size >= 0 && record_size > 0 && data >= record_size) {
    // Records of just the deletion flag: the end mark is not one of them.
    if (record_size == 1 && end.end_mark) --data;
    long long count = data / record_size;
    reading.count = count > 0xFFFFFFFFLL ? 0xFFFFFFFFu : uint32_t(count);
  }
  if (stated < reading.count) {
    uint8_t mark = 0;
    uint64_t at = uint64_t(header_size) + uint64_t(stated) * record_size;
    if (file_read_at(fd, &mark, 1, at) == 1 && mark == kEndOfFile) {
      reading.count = stated;
      reading.bytes_after_end_mark = true;
    }
  }
  reading.agrees = reading.count == stated;
  return reading;
}

int refresh_record_count(Table& table) {
  // Another program that adds records moves the header's count and the mark
  // after them; bytes left past an earlier mark are no records of its.
  uint32_t count =
      read_record_count(table.fd, table.header_size, table.record_size, stated_record_count(table)).count;
  if (count == table.record_count) return 0;
  table.record_count = count;
  put_le32(&table.header_bytes[4], count);
  return 1;
}

void apply_table_options(Table& table, const TableOptions& options) {
  table.date_format = options.date_format;
  table.memo_display = options.memo_display;
  table.trim_mode = options.trim_mode;
  table.show_aliases = options.show_aliases;
  table.ignore_case = options.ignore_case;
  for (int i = 0; i < 4; ++i) {
    table.date_formats[size_t(i)] = kDefaultDateFormats[i];
    table.date_time_formats[size_t(i)] = kDefaultDateTimeFormats[i];
  }
  set_date_separator(table, options.separator && options.date_char ? options.date_char : '.');
  set_bak_mode(table, options.bak_mode);
}

std::unique_ptr<Table> open_list_table(const TableList& list, const std::string& path, OpenFailure* why) {
  std::unique_ptr<Table> table = open_table(path, why);
  if (!table) return nullptr;
  read_dictionary(*table);
  set_header_file_name(*table);
  read_header_file(*table);
  apply_table_options(*table, list.options);
  install_code_page_hooks(*table, list.options.xlat);
  choose_code_page(*table, list.options.oem_ansi);
  decide_code_page(*table, list.options.oem_ansi);
  table->locks.ask = list.lock_asker;
  table->locks.first_change = list.first_change;
  return table;
}

std::unique_ptr<Table> open_list_table(const TableList& list, const std::string& path, Status* why) {
  OpenFailure failure;
  std::unique_ptr<Table> table = open_list_table(list, path, &failure);
  if (why) *why = failure.status;
  return table;
}

std::string absolute_path(const std::string& path) {
  std::string joined = path;
  if (!path.starts_with('/')) {
    char* cwd = getcwd(nullptr, 0);
    if (!cwd) return path;
    joined = std::string(cwd) + "/" + path;
    std::free(cwd);
  }
  // Only "." parts and doubled slashes go: ".." after a symbolic link is
  // not the folder the name shows, so it stays for the system to resolve.
  std::string result;
  size_t start = 0;
  while (start < joined.size()) {
    size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    std::string_view part(joined.data() + start, end - start);
    if (!part.empty() && part != ".") result.append("/").append(part);
    start = end + 1;
  }
  return result.empty() ? "/" : result;
}

int find_table(const TableList& list, const std::string& path) {
  struct stat named;
  if (stat(path.c_str(), &named) != 0) return -1;
  for (int i = 0; i <= list.last; ++i) {
    struct stat open;
    const Table* table = list.tables[size_t(i)].get();
    if (table && fstat(table->fd, &open) == 0 && open.st_dev == named.st_dev && open.st_ino == named.st_ino) return i;
  }
  return -1;
}

int add_table(TableList& list, const std::string& path, OpenFailure* why) {
  if (why) *why = OpenFailure();
  if (list.last >= kMaxTables - 1) {
    if (why) why->status = Status::kListFull;
    return -2;
  }
  int open = find_table(list, path);
  if (open >= 0) return open;
  // Kept absolute: the file panel changes the working directory, and a
  // relative name would then name another file.
  std::string full = absolute_path(path);
  std::unique_ptr<Table> table = open_list_table(list, full, why);
  if (!table) return -3;
  if (list.on_added) list.on_added(full);

  list.tables[size_t(++list.last)] = std::move(table);
  return list.last;
}

int add_table(TableList& list, const std::string& path, Status* why) {
  OpenFailure failure;
  int index = add_table(list, path, &failure);
  if (why) *why = failure.status;
  return index;
}

int remove_table(TableList& list, int index) {
  if (index < 0 || index > list.last) return list.last;
  close_table(list.tables[size_t(index)]);
  for (int i = index; i < list.last; ++i) list.tables[size_t(i)] = std::move(list.tables[size_t(i) + 1]);
  --list.last;
  if (list.last < 0) return -1;
  return index <= list.last ? index : list.last;
}

namespace {

// Keeps the file's first 32 bytes in `backup`, through a new file renamed
// over any older one.
bool keep_header_bytes(const Table& table, const std::string& backup) {
  uint8_t bytes[32];
  if (file_read_at(table.fd, bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) return false;
  struct stat info;
  if (fstat(table.fd, &info) != 0) return false;
  std::string temp = backup + ".tmp";
  int fd = file_open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  // The old header is the table's own: it keeps the table's permissions.
  bool written = fchmod(fd, info.st_mode & 07777) == 0 && file_write_at(fd, bytes, sizeof bytes, 0) && file_sync(fd);
  written = ::close(fd) == 0 && written;
  if (written && file_rename(temp, backup)) return true;
  file_unlink(temp);
  return false;
}

}  // namespace

std::string header_backup_name(const std::string& table_path) { return replace_extension(table_path, ".hbk"); }

Status repair_header(Table& table, std::string* detail) {
  std::string ignored;
  std::string& why = detail ? *detail : ignored;
  why.clear();
  if (table.repair_refusal.status != Status::kOk) {
    why = table.repair_refusal.detail;
    return table.repair_refusal.status;
  }
  if (table.read_only_cause == ReadOnlyCause::kFile || table.read_only_cause == ReadOnlyCause::kDBase2)
    return Status::kReadOnly;
  std::string backup = header_backup_name(table.file_name);
  if (!keep_header_bytes(table, backup)) {
    why = "cannot keep the old header in " + backup;
    return Status::kWriteError;
  }
  // A repair is the one header write that may replace the version byte.
  table.file_version = table.version();
  if (!write_header_bytes(table, false)) return Status::kWriteError;
  table.header_errors &= ~kRepairableErrors;
  table.stated_header = table.header_bytes;
  // The version byte is a known one now: the table may be changed.
  if (table.read_only_cause == ReadOnlyCause::kUnknownVersion) {
    table.read_only_cause = ReadOnlyCause::kNone;
    table.read_only = false;
  }
  return Status::kOk;
}

std::vector<std::string> header_corrections(const Table& table) {
  std::vector<std::string> lines;
  if (table.repair_refusal.status != Status::kOk) return lines;
  char line[160];
  const uint8_t* stated = table.stated_header.data();
  if (table.header_errors & kBadHeaderSize) {
    std::snprintf(line, sizeof line,
                  "The header says the records start at byte %u; the field list says %u. Write %u?",
                  unsigned(get_le16(stated + 8)), unsigned(table.header_size), unsigned(table.header_size));
    lines.push_back(line);
  }
  if (table.header_errors & kBadVersion) {
    std::snprintf(line, sizeof line, "The version byte 0x%02X is unknown. Write 0x%02X?", unsigned(stated[0]),
                  unsigned(table.version()));
    lines.push_back(line);
  }
  if (table.header_errors & kBadRecordCount) {
    std::snprintf(line, sizeof line, "The header says %lu records; the file holds %lu. Write %lu?",
                  static_cast<unsigned long>(get_le32(stated + 4)), static_cast<unsigned long>(table.record_count),
                  static_cast<unsigned long>(table.record_count));
    lines.push_back(line);
  }
  return lines;
}

int confirm_header_repair(Table& table, bool at_startup, int auto_correct, const HeaderRepairAsker& ask,
                          OpenFailure* failed) {
  (void)at_startup;  // restoring the terminal on cancel is the caller's part
  if ((table.header_errors & kRepairableErrors) == 0 || table.repair_refusal.status != Status::kOk) return 0;
  int answer = auto_correct != 0 ? 0 : ask ? ask() : 1;
  if (answer == 0) {
    OpenFailure result;
    result.status = repair_header(table, &result.detail);
    if (failed) *failed = result;
    return 0;
  }
  return answer == 1 ? 0 : 1;
}

namespace {

// The column's own descriptor when it is a computed column, else null.
const ComputedColumn* computed(const Table& table, int i) { return computed_column(table.columns, i); }

}  // namespace

char field_type(const Table& table, int i) {
  return i >= 0 && i < table.field_count() ? table.fields[size_t(i)].type : '#';
}

int field_length(const Table& table, int i) {
  if (i < 0 || i >= table.field_count()) return 0;
  const FieldDesc& desc = table.fields[size_t(i)];
  return desc.type == 'C' && !table.char_length_8bit ? length16(desc) : desc.length;
}

int field_length_byte(const Table& table, int i) {
  return i >= 0 && i < table.field_count() ? table.fields[size_t(i)].length : 0;
}

int field_decimals(const Table& table, int i) {
  return i >= 0 && i < table.field_count() ? table.fields[size_t(i)].decimals : 0;
}

const FieldDesc* field_desc(const Table& table, int i) {
  return i >= 0 && i < table.field_count() ? &table.fields[size_t(i)] : nullptr;
}

std::string field_name(const Table& table, int i) {
  if (i < 0 || i >= table.field_count()) return std::string();
  const char* name = table.fields[size_t(i)].name;
  return std::string(name, strnlen(name, sizeof table.fields[0].name));
}

std::string column_name(const Table& table, int i) {
  if (const ComputedColumn* column = computed(table, i)) return column->name;
  if (i < 0 || i >= table.field_count()) return std::string();
  if (table.show_aliases && size_t(i) < table.aliases.size() && !table.aliases[size_t(i)].empty())
    return table.aliases[size_t(i)];
  return field_name(table, i);
}

int column_name_length(const Table& table, int i) { return int(column_name(table, i).size()); }

bool is_numeric_field(const Table& table, int i) {
  if (const ComputedColumn* column = computed(table, i)) return column->type == 'N' || column->type == 'F';
  switch (field_type(table, i)) {
    case 'F':
    case 'I':
    case 'N':
    case 'Y':
    case '+':
    case 'O': return true;
    case 'B': return field_length(table, i) == 8;
    default: return false;
  }
}

bool is_memo_field(const Table& table, int i) {
  switch (field_type(table, i)) {
    case 'M':
    case 'G':
    case 'W': return true;
    case 'B': return length16(table.fields[size_t(i)]) == 10;
    default: return false;
  }
}

int column_count(const Table& table) { return table.columns.shown; }

int column_field(const Table& table, int i) { return column_at(table.columns, i); }

bool column_read_only(const Table& table, int i) {
  const ColumnFlags* flags = column_flags(table.columns, column_at(table.columns, i));
  return flags && flags->read_only;
}

int find_field(const Table& table, std::string_view name) {
  for (int i = 0; i < table.field_count(); ++i) {
    std::string field = field_name(table, i);
    if (field.size() == name.size() && strncasecmp(field.data(), name.data(), name.size()) == 0) return i;
  }
  return -1;
}

namespace {

// Computed columns match only by their exact name in a field list.
int find_computed_name(const Table& table, std::string_view name) {
  for (int column = table.field_count(); column < column_index_count(table.columns); ++column) {
    const ComputedColumn* computed_one = computed(table, column);
    if (computed_one && computed_one->name == name) return column;
  }
  return -1;
}

}  // namespace

std::vector<int> parse_field_list(const Table& table, std::string_view text) {
  constexpr size_t kMaxListedFields = 20;
  constexpr std::string_view kSeparators = ";, \t\n\r";
  std::vector<int> list;
  size_t at = 0;
  while (list.size() < kMaxListedFields) {
    at = text.find_first_not_of(kSeparators, at);
    if (at == std::string_view::npos) break;
    size_t end = text.find_first_of(kSeparators, at);
    std::string_view name = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    int field = find_field(table, name);
    if (field < 0) field = find_computed_name(table, name);
    if (field < 0) break;
    list.push_back(field);
    if (end == std::string_view::npos) break;
    at = end;
  }
  return list;
}

}  // namespace kora
