#include "table/record_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "table/file_io.h"
#include "table/memo_file.h"
#include "table/record_scanner.h"
#include "table/value_codec.h"

namespace kora {

namespace {

constexpr uint8_t kDeletedMark = '*';
constexpr uint8_t kLiveMark = ' ';

// Every access is one pread or pwrite; anything short of the full length is
// a failure, so a record is never reported written when only part of it was.
bool read_exact(int fd, void* buffer, size_t length, uint64_t offset) {
  if (length == 0) return true;
  ssize_t got = file_read_at(fd, buffer, length, offset);
  return got >= 0 && size_t(got) == length;
}

bool write_exact(int fd, const void* buffer, size_t length, uint64_t offset) {
  return file_write_at(fd, buffer, length, offset);
}

uint64_t record_offset(const Table& table, uint64_t q) {
  return uint64_t(table.header_size) + q * table.record_size;
}

bool has_record_buffer(const Table& table) {
  return table.fd >= 0 && table.record_size > 0 && table.record.size() >= table.record_size;
}

bool view_is_arranged(const Table& table) { return table.view.is_arranged(); }

long long current_file_size(int fd) { return file_size(fd); }

int read_at(Table& table, uint32_t q) {
  if (!has_record_buffer(table) || q >= table.record_count) return 0;
  int ok = read_exact(table.fd, table.record.data(), table.record_size, record_offset(table, q)) ? 1 : 0;
  if (table.encoding.after_read) table.encoding.after_read(table, table.record.data(), ok, table.record_size);
  return ok;
}

// Writes Record at physical q, which may be the slot just past the last
// record. The encoding hook works on Record in place; the caller keeps the
// plain image, so it is put back after the write.
int write_at(Table& table, uint32_t q) {
  if (!has_record_buffer(table) || q > table.record_count || table.read_only) return 0;
  backup_if_due(table);
  std::vector<uint8_t> plain;
  if (table.encoding.before_write) {
    plain.assign(table.record.begin(), table.record.begin() + table.record_size);
    table.encoding.before_write(table, table.record.data(), table.record_size);
  }
  int ok = write_exact(table.fd, table.record.data(), table.record_size, record_offset(table, q)) ? 1 : 0;
  if (!plain.empty()) std::copy(plain.begin(), plain.end(), table.record.begin());
  return ok;
}

// Byte range of field i within the record, or false when it does not fit.
bool field_span(const Table& table, int i, size_t& offset, size_t& length) {
  if (i < 0 || i >= table.field_count()) return false;
  offset = table.fields[size_t(i)].offset;
  length = size_t(field_length(table, i));
  return offset >= 1 && offset + length <= table.record_size && offset + length <= table.record.size();
}

// Moves `length` bytes at `from` to `to` (to > from) taking chunks from the
// end, so that no byte is overwritten before it has been copied.
bool move_up(int fd, uint64_t from, uint64_t to, uint64_t length) {
  std::vector<uint8_t> buffer(kMoveChunkSize);
  uint64_t end = length;
  while (end > 0) {
    size_t chunk = size_t(std::min<uint64_t>(end, kMoveChunkSize));
    uint64_t at = end - chunk;
    if (!read_exact(fd, buffer.data(), chunk, from + at)) return false;
    if (!write_exact(fd, buffer.data(), chunk, to + at)) return false;
    end = at;
  }
  return true;
}

// The same towards the start of the file (to < from), chunks from the front.
bool move_down(int fd, uint64_t from, uint64_t to, uint64_t length) {
  std::vector<uint8_t> buffer(kMoveChunkSize);
  for (uint64_t at = 0; at < length; at += kMoveChunkSize) {
    size_t chunk = size_t(std::min<uint64_t>(length - at, kMoveChunkSize));
    if (!read_exact(fd, buffer.data(), chunk, from + at)) return false;
    if (!write_exact(fd, buffer.data(), chunk, to + at)) return false;
  }
  return true;
}

// Pack works on physical numbers in file order; this undoes that on return.
class PhysicalView {
 public:
  explicit PhysicalView(Table& table) : table_(table), reverse_(table.view.reverse) {
    table_.view.reverse = false;
    table_.view_mapping = 0;
  }
  ~PhysicalView() {
    table_.view.reverse = reverse_;
    table_.view_mapping = 1;
  }
  PhysicalView(const PhysicalView&) = delete;
  PhysicalView& operator=(const PhysicalView&) = delete;

 private:
  Table& table_;
  bool reverse_;
};

// Moves the live records down over the deleted ones. The scanner has read a
// record before any write reaches its place: writes go only to places the
// walk has passed.
int compact_records(Table& table) {
  uint32_t kept = 0;
  RecordScanner scan(table, ScanOrder::kPhysical);
  ScannedRecord r;
  while (scan.next(r)) {
    if (r.image[0] == kDeletedMark) continue;
    if (r.record != kept) {
      std::memcpy(table.record.data(), r.image, table.record_size);
      if (!write_at(table, kept)) return 0;
    }
    ++kept;
  }
  if (scan.status() != Status::kOk) return 0;
  return kept == table.record_count ? 1 : truncate_table(table, kept);
}

// The memo file's name with the first character of its extension made '~'
// (.dbt -> .~bt, .fpt -> .~pt); empty when the name has no extension.
std::string old_memo_name(const std::string& memo) {
  size_t slash = memo.rfind('/');
  size_t dot = memo.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 >= memo.size()) return "";
  std::string name = memo;
  name[dot + 1] = '~';
  return name;
}

std::vector<int> memo_fields(const Table& table) {
  std::vector<int> fields;
  for (int k = 0; k < table.field_count(); ++k) {
    if (is_memo_field(table, k)) fields.push_back(k);
  }
  return fields;
}

// Creates the empty memo file under `memo`. create_memo_file names the file
// with a lower-case extension; a memo file found as .FPT keeps its name.
bool create_new_memo(Table& table, const std::string& memo, int block_size) {
  std::string created = memo_file_name(table.file_name, table.kind);
  if (!create_memo_file(table.file_name, table.kind, block_size)) {
    file_unlink(created);
    return false;
  }
  if (created != memo && !file_rename(created, memo)) {
    file_unlink(created);
    return false;
  }
  return true;
}

// First pass of the memo rebuild: copies every record's memos from the old
// file into the new one and collects the new memo field bytes per record.
// The table file is not written, so a failure here can be undone whole.
bool copy_memos(Table& table, const std::string& old_name, const std::string& memo, const std::vector<int>& fields,
                std::vector<uint8_t>& images, std::vector<uint8_t>& old_images) {
  std::string text;
  for (uint32_t j = 0; j < table.record_count; ++j) {
    if (!read_at(table, j)) return false;
    for (int k : fields) {
      size_t offset = 0, length = 0;
      if (!field_span(table, k, offset, length)) return false;
      old_images.insert(old_images.end(), table.record.begin() + long(offset),
                        table.record.begin() + long(offset + length));
      table.memo_file_name = old_name;
      uint32_t type = 1;  // pictures of general fields keep theirs
      bool found = read_memo(table, k, text, true, &type);
      table.memo_file_name = memo;
      if (found && (!text.empty() || type != 1)) {
        // The full byte length goes back, zero bytes of binary memos included.
        if (!write_memo(table, k, text, type)) return false;
      } else {
        blank_field(table, k);
      }
      images.insert(images.end(), table.record.begin() + long(offset), table.record.begin() + long(offset + length));
    }
  }
  return true;
}

// Second pass: stores the memo field bytes into the first `count` records;
// the number of records done.
uint32_t store_memo_fields(Table& table, const std::vector<int>& fields, const std::vector<uint8_t>& images,
                           uint32_t count) {
  size_t at = 0;
  for (uint32_t j = 0; j < count; ++j) {
    if (!read_at(table, j)) return j;
    for (int k : fields) {
      size_t offset = 0, length = 0;
      if (!field_span(table, k, offset, length) || at + length > images.size()) return j;
      std::memcpy(table.record.data() + offset, images.data() + at, length);
      at += length;
    }
    if (!write_at(table, j)) return j;
  }
  return count;
}

// Rebuilds the memo file so that it holds only the memos the records point
// to. The old file stays as the '~' file; when the new file cannot be made
// complete, it is dropped and the old file gets its name back.
int rebuild_memo_file(Table& table) {
  if (table.first_memo_field < 0 || memo_layout(table.version()) == MemoLayout::kNone) return 1;
  const std::string memo = table.memo_file_name;
  const std::string old_name = old_memo_name(memo);
  if (memo.empty() || old_name.empty()) return 1;
  std::string created = memo_file_name(table.file_name, table.kind);
  // Another file would stand where the new memo file is created.
  if (created != memo && access(created.c_str(), F_OK) == 0) return 0;

  int block_size = memo_block_size(table);
  file_unlink(old_name);
  if (!file_rename(memo, old_name)) return 1;  // the memo file is left alone

  std::vector<int> fields = memo_fields(table);
  std::vector<uint8_t> images, old_images;
  bool built = create_new_memo(table, memo, block_size) && copy_memos(table, old_name, memo, fields, images, old_images);
  table.memo_file_name = memo;
  if (built) {
    uint32_t done = store_memo_fields(table, fields, images, table.record_count);
    if (done == table.record_count) return 1;
    // Records already pointing into the new file get their old numbers back.
    store_memo_fields(table, fields, old_images, done);
  }
  file_unlink(memo);
  file_rename(old_name, memo);
  return 0;
}

bool same_file(int fd, const std::string& path) {
  struct stat a, b;
  return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool copy_table_to(int from, int to) {
  std::vector<uint8_t> buffer(kBackupChunkSize);
  uint64_t at = 0;
  for (;;) {
    ssize_t got = file_read_at(from, buffer.data(), buffer.size(), at);
    if (got < 0) return false;
    if (!write_exact(to, buffer.data(), size_t(got), at)) return false;
    at += uint64_t(got);
    if (size_t(got) < buffer.size()) return true;
  }
}

}  // namespace

uint32_t visible_count(const Table& table) { return view_record_count(table.view, table.record_count); }

uint32_t physical_record(const Table& table, uint32_t p) {
  return view_record(table.view, table.record_count, p, table.view_mapping == 1);
}

int install_record_view(Table& table, RecordView view) {
  if (!view_fits(view, table.record_count)) return 0;
  table.view = std::move(view);
  return 1;
}

int read_record(Table& table, uint32_t p) {
  uint32_t q = physical_record(table, p);
  return q == kNoRecord ? 0 : read_at(table, q);
}

int write_record(Table& table, uint32_t p) {
  uint32_t q = physical_record(table, p);
  return q == kNoRecord ? 0 : write_at(table, q);
}

int write_record_at(Table& table, uint32_t q) { return write_at(table, q); }

int read_delete_flag(Table& table, uint32_t p) {
  uint32_t q = physical_record(table, p);
  if (q == kNoRecord || table.fd < 0) return 0;
  int ok = read_exact(table.fd, &table.delete_flag, 1, record_offset(table, q)) ? 1 : 0;
  if (table.encoding.after_read_flag) table.encoding.after_read_flag(table, ok);
  return ok;
}

int write_delete_flag(Table& table, uint32_t p) {
  uint32_t q = physical_record(table, p);
  if (q == kNoRecord || table.fd < 0 || table.read_only) return 0;
  backup_if_due(table);
  uint8_t plain = table.delete_flag;
  if (table.encoding.before_write_flag) table.encoding.before_write_flag(table);
  int ok = write_exact(table.fd, &table.delete_flag, 1, record_offset(table, q)) ? 1 : 0;
  table.delete_flag = plain;
  return ok;
}

// The encoding hooks transform the whole record buffer position by position,
// so a single field is deciphered and enciphered in its place within Record
// and the rest of Record is kept as it was.
int read_field(Table& table, uint32_t p, int i) {
  uint32_t q = physical_record(table, p);
  size_t offset = 0, length = 0;
  if (q == kNoRecord || !has_record_buffer(table) || !field_span(table, i, offset, length)) return 0;
  std::vector<uint8_t> kept;
  if (table.encoding.after_read) kept.assign(table.record.begin(), table.record.begin() + table.record_size);
  uint8_t* place = table.record.data() + offset;
  int ok = read_exact(table.fd, place, length, record_offset(table, q) + offset) ? 1 : 0;
  if (table.encoding.after_read) {
    table.encoding.after_read(table, table.record.data(), ok, table.record_size);
    std::vector<uint8_t> field(place, place + length);
    std::copy(kept.begin(), kept.end(), table.record.begin());
    if (ok) std::copy(field.begin(), field.end(), place);
  }
  return ok;
}

int write_field(Table& table, uint32_t p, int i) {
  uint32_t q = physical_record(table, p);
  size_t offset = 0, length = 0;
  if (q == kNoRecord || !has_record_buffer(table) || table.read_only || !field_span(table, i, offset, length)) return 0;
  backup_if_due(table);
  std::vector<uint8_t> plain;
  if (table.encoding.before_write) {
    plain.assign(table.record.begin(), table.record.begin() + table.record_size);
    table.encoding.before_write(table, table.record.data(), table.record_size);
  }
  int ok = write_exact(table.fd, table.record.data() + offset, length, record_offset(table, q) + offset) ? 1 : 0;
  if (!plain.empty()) std::copy(plain.begin(), plain.end(), table.record.begin());
  return ok;
}

// A flag that cannot be read is a failure (0), not a record already in the
// wanted state.
int mark_deleted(Table& table, uint32_t p) {
  if (!read_delete_flag(table, p)) return 0;
  if (table.delete_flag == kDeletedMark) return 1;
  table.delete_flag = kDeletedMark;
  return write_delete_flag(table, p);
}

int recall_record(Table& table, uint32_t p) {
  if (!read_delete_flag(table, p)) return 0;
  if (table.delete_flag != kDeletedMark) return 1;
  table.delete_flag = kLiveMark;
  return write_delete_flag(table, p);
}

int toggle_deleted(Table& table, uint32_t p) {
  if (!read_delete_flag(table, p)) return 0;
  table.delete_flag = table.delete_flag == kDeletedMark ? kLiveMark : kDeletedMark;
  return write_delete_flag(table, p);
}

// The new record goes to the physical end of the file whatever the view, and
// joins a filtered or sorted view at its end.
int append_record(Table& table, bool blank) {
  if (!has_record_buffer(table) || table.read_only || table.record_count == kNoRecord - 1) return 0;
  if (blank) blank_record(table);
  if (!write_at(table, table.record_count)) return 0;
  extend_view_for_append(table.view, table.record_count);
  table.record_count += 1;
  return write_header(table);
}

// Opens a slot at view position p (counted from the end when the view is
// reversed) and writes Record into it. Refused while a filter or sort order
// is set, where a view position does not name a place in the file.
int insert_record(Table& table, uint32_t p, bool blank) {
  if (table.view.has_list()) return 0;
  if (!has_record_buffer(table) || table.read_only || table.record_count == kNoRecord - 1) return 0;
  uint32_t count = table.record_count;
  uint32_t target = p;
  if (table.view.reverse) target = p < count ? count - p - 1 : 0;
  if (target > count) return 0;
  backup_if_due(table);

  long long size = current_file_size(table.fd);
  uint64_t from = record_offset(table, target);
  uint64_t length = uint64_t(count - target) * table.record_size;
  if (size < 0 || uint64_t(size) < from + length) return 0;
  if (uint64_t(size) > from + length) length += 1;  // the end-of-file byte
  if (!move_up(table.fd, from, from + table.record_size, length)) return 0;

  if (blank) blank_record(table);
  if (!write_at(table, target)) return 0;
  table.record_count += 1;
  return write_header(table);
}

int remove_record(Table& table, uint32_t q) {
  if (view_is_arranged(table) || q >= table.record_count || table.fd < 0 || table.read_only) return 0;
  backup_if_due(table);
  uint64_t to = record_offset(table, q);
  uint64_t length = uint64_t(table.record_count - q - 1) * table.record_size;
  // A file shortened from outside would stop the move half-way.
  long long size = current_file_size(table.fd);
  if (size < 0 || uint64_t(size) < to + table.record_size + length) return 0;
  if (!move_down(table.fd, to + table.record_size, to, length)) return 0;
  return truncate_table(table, table.record_count - 1);
}

int truncate_table(Table& table, uint32_t n) {
  if (view_is_arranged(table) || n > table.record_count || table.fd < 0 || table.read_only) return 0;
  backup_if_due(table);
  if (!file_truncate(table.fd, record_offset(table, n))) return 0;
  table.record_count = n;
  return write_header(table);
}

int zap_table(Table& table) { return truncate_table(table, 0); }

int pack_table(Table& table, int mode) {
  if (table.view.has_list() || mode < 0 || mode > 2) return 0;
  PhysicalView physical(table);
  int result = 1;
  if (mode != 2) {
    result = compact_records(table);
    if (!result) return 0;
  }
  if (mode == 0 || mode == 2) {
    if (!rebuild_memo_file(table)) return 0;
  }
  return result;
}

void paste_clipboard_record(Table& table, const std::vector<uint8_t>& clipboard) {
  if (clipboard.empty()) return;
  size_t length = std::min({clipboard.size(), size_t(table.record_size), table.record.size()});
  std::copy(clipboard.begin(), clipboard.begin() + long(length), table.record.begin());
}

void backup_if_due(Table& table) {
  if (table.bak_mode == 0 || table.bak_done || table.bak_file_name.empty() || table.fd < 0) return;
  table.bak_done = true;
  // A table that is itself named like its backup would be destroyed.
  if (same_file(table.fd, table.bak_file_name)) return;
  file_unlink(table.bak_file_name);
  int out = file_open(table.bak_file_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) return;
  bool copied = copy_table_to(table.fd, out);
  close(out);
  if (!copied) file_unlink(table.bak_file_name);  // no half copy passes for a backup
}

void set_bak_mode(Table& table, int mode) {
  table.bak_mode = mode;
  const std::string& path = table.file_name;
  size_t slash = path.rfind('/');
  if (mode == 2) {
    table.bak_file_name = "/tmp/" + (slash == std::string::npos ? path : path.substr(slash + 1));
    return;
  }
  size_t dot = path.rfind('.');
  size_t base_end = (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? dot : path.size();
  table.bak_file_name = path.substr(0, base_end) + ".bak";
}

}  // namespace kora
