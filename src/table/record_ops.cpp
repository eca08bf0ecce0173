#include "table/record_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "table/byte_order.h"
#include "table/dbf_layouts.h"
#include "table/file_io.h"
#include "table/journal.h"
#include "table/memo_file.h"
#include "table/pending_file.h"
#include "table/record_scanner.h"
#include "table/undo_log.h"
#include "table/value_codec.h"

namespace kora {

namespace {

constexpr uint8_t kDeletedMark = '*';
constexpr uint8_t kLiveMark = ' ';
constexpr uint8_t kEndOfFile = 0x1A;

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

// Under a lock: records another program added since the count was read are
// counted, so that nothing is written over them and a move takes them
// along. A file shorter than the count was cut by a program that takes no
// locks; the count stays, and the operations find the file short and stop.
void adopt_appends_of_others(Table& table) {
  uint32_t known = table.record_count;
  std::array<uint8_t, 4> stated{};
  std::copy(table.header_bytes.begin() + 4, table.header_bytes.begin() + 8, stated.begin());
  if (refresh_record_count(table) && table.record_count < known) {
    table.record_count = known;
    std::copy(stated.begin(), stated.end(), table.header_bytes.begin() + 4);
  }
}

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
  RecordLock lock(table, q);
  if (!lock.ok()) return 0;
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

// The journal entry of an insert or remove of record q, before it starts.
JournalEntry move_entry(const Table& table, JournalOp op, uint32_t q, uint64_t file_size) {
  JournalEntry entry;
  entry.op = op;
  entry.record = q;
  entry.count = table.record_count;
  entry.header_size = table.header_size;
  entry.record_size = table.record_size;
  entry.file_size = file_size;
  return entry;
}

// Record as the file will hold it (the encoding applied).
std::vector<uint8_t> stored_image(Table& table) {
  std::vector<uint8_t> image(table.record.begin(), table.record.begin() + table.record_size);
  if (table.encoding.before_write) table.encoding.before_write(table, image.data(), table.record_size);
  return image;
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

bool has_deleted_records(const Table& table) {
  RecordScanner scan(table, ScanOrder::kPhysical);
  ScannedRecord r;
  while (scan.next(r)) {
    if (r.image[0] == kDeletedMark) return true;
  }
  return false;
}

// Copies the memos of Record from the table's memo file into `into`,
// pointing Record's memo fields at their new blocks.
bool copy_record_memos(Table& table, const std::vector<int>& fields, const std::string& into) {
  const std::string from = table.memo_file_name;
  std::string text;
  bool ok = true;
  for (int k : fields) {
    uint32_t type = 1;  // pictures of general fields keep theirs
    bool found = read_memo(table, k, text, true, &type);
    table.memo_file_name = into;
    // The full byte length goes across, zero bytes of binary memos included.
    if (found && (!text.empty() || type != 1)) {
      ok = write_memo(table, k, text, type);
    } else {
      blank_field(table, k);
    }
    table.memo_file_name = from;
    if (!ok) return false;
  }
  return true;
}

// Writes the packed table into `dbf`: the header as stored with the new
// count, the records kept (all when not compacting) with their memos copied
// into `memo` when it is named, and the end mark. The number of records kept.
bool write_packed(Table& table, PendingFile& dbf, const std::string& memo, bool compact, uint32_t& kept) {
  std::vector<uint8_t> head(table.header_size);
  if (file_read_at(table.fd, head.data(), head.size(), 0) != ssize_t(head.size())) return false;
  std::vector<int> fields = memo_fields(table);
  std::vector<uint8_t> out;
  uint64_t at = table.header_size;
  kept = 0;
  RecordScanner scan(table, ScanOrder::kPhysical);
  ScannedRecord r;
  while (scan.next(r)) {
    if (compact && r.image[0] == kDeletedMark) continue;
    std::memcpy(table.record.data(), r.image, table.record_size);
    if (!memo.empty() && !copy_record_memos(table, fields, memo)) return false;
    std::vector<uint8_t> image = stored_image(table);
    out.insert(out.end(), image.begin(), image.end());
    ++kept;
    if (out.size() >= kMoveChunkSize) {
      if (dbf.write_at(at, out.data(), out.size()) != Status::kOk) return false;
      at += out.size();
      out.clear();
    }
  }
  if (scan.status() != Status::kOk) return false;
  out.push_back(kEndOfFile);
  put_le32(head.data() + 4, kept);
  return dbf.write_at(at, out.data(), out.size()) == Status::kOk && dbf.write_at(0, head.data(), head.size()) == Status::kOk;
}

// The empty memo file's header, with the block size of the old one.
bool write_memo_header(Table& table, PendingFile& file) {
  std::vector<uint8_t> header = memo_header_bytes(table.kind, memo_block_size(table));
  return !header.empty() && file.write_at(0, header.data(), header.size()) == Status::kOk;
}

// The old memo file stays on disk under the '~' name, as a second name.
void keep_old_memo(const std::string& memo) {
  std::string old_name = old_memo_name(memo);
  if (old_name.empty()) return;
  file_unlink(old_name);
  file_link(memo, old_name);
}

// A file reached through a symbolic link is replaced where it lies.
std::string resolved(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string name = real;
  free(real);
  return name;
}

// The table's descriptor again after its file was replaced by a rename.
int reopen_table_file(Table& table) {
  int fd = file_open(table.file_name, O_RDWR | O_CLOEXEC);
  if (fd < 0) return 0;
  ::close(table.fd);
  table.fd = fd;
  return 1;
}

// Pack as a rewrite: the table without its deleted records (compact) and a
// memo file holding only the memos its records point to (memos) are made
// beside the old files and put in their place together under the journal,
// so that the old files stay whole until the new ones are.
int rewrite_packed(Table& table, bool compact, bool memos) {
  memos = memos && !memo_fields(table).empty() && memo_layout(table.version()) != MemoLayout::kNone &&
          !table.memo_file_name.empty() && access(table.memo_file_name.c_str(), F_OK) == 0;
  if (!compact && !memos) return 1;
  // A table whose own descriptor may not write is not replaced either.
  struct stat info;
  int access_mode = fcntl(table.fd, F_GETFL) & O_ACCMODE;
  if (table.read_only || access_mode == O_RDONLY || fstat(table.fd, &info) != 0) return 0;
  mode_t mode = info.st_mode;
  struct stat memo_info;
  if (memos && stat(table.memo_file_name.c_str(), &memo_info) != 0) return 0;
  backup_if_due(table);

  PendingFile dbf, memo;
  std::vector<SwapFile> swap = {{&dbf, resolved(table.file_name), &mode}};
  if (memos) swap.insert(swap.begin(), {&memo, resolved(table.memo_file_name), &memo_info.st_mode});
  Journal journal;
  if (begin_file_swap(journal, table.file_name, swap) != Status::kOk) return 0;
  if (memos && !write_memo_header(table, memo)) return 0;
  std::vector<PendingFile*> files;
  for (const SwapFile& f : swap) files.push_back(f.file);
  uint32_t kept = 0;
  if (!write_packed(table, dbf, memos ? memo.path() : std::string(), compact, kept)) return 0;
  if (memos) keep_old_memo(table.memo_file_name);
  if (commit_file_swap(journal, files) != Status::kOk || !reopen_table_file(table)) return 0;
  table.record_count = kept;
  return write_header(table);
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
  RecordLock lock(table, q);
  if (!lock.ok()) return 0;
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
  RecordLock lock(table, q);
  if (!lock.ok()) return 0;
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

namespace {

// A deletion mark as the file holds it: under a password every record's
// mark meets the same key-stream byte, so one table each way serves all.
struct StoredMarks {
  std::array<uint8_t, 256> plain{};
  uint8_t deleted = kDeletedMark;
  uint8_t live = kLiveMark;
};

StoredMarks stored_marks(Table& table) {
  StoredMarks marks;
  const uint8_t kept = table.delete_flag;
  for (int b = 0; b < 256; ++b) {
    table.delete_flag = uint8_t(b);
    if (table.encoding.after_read_flag) table.encoding.after_read_flag(table, 1);
    marks.plain[size_t(b)] = table.delete_flag;
  }
  for (uint8_t* mark : {&marks.deleted, &marks.live}) {
    table.delete_flag = *mark;
    if (table.encoding.before_write_flag) table.encoding.before_write_flag(table);
    *mark = table.delete_flag;
  }
  table.delete_flag = kept;
  return marks;
}

}  // namespace

namespace {

// Records written back as the file stores them, neighbours gathered into
// one write of up to a scan chunk; a run none of whose records changed is
// not written at all.
class RunWriter {
 public:
  explicit RunWriter(const Table& table) : table_(table), size_(table.record_size) {}

  // The stored bytes of physical record q, about to be written back; false
  // when writing the run before it failed.
  bool add(uint32_t q, const uint8_t* bytes, bool changed) {
    bool neighbour = !run_.empty() && q == first_ + run_.size() / size_;
    if ((!neighbour || run_.size() >= kScanChunkBytes) && !flush()) return false;
    if (run_.empty()) first_ = q;
    run_.insert(run_.end(), bytes, bytes + size_);
    dirty_ = dirty_ || changed;
    return true;
  }
  bool flush() {
    bool ok = !dirty_ || write_exact(table_.fd, run_.data(), run_.size(), record_offset(table_, first_));
    run_.clear();
    dirty_ = false;
    return ok;
  }

 private:
  const Table& table_;
  size_t size_;
  std::vector<uint8_t> run_;
  uint32_t first_ = 0;
  bool dirty_ = false;
};

}  // namespace

Status change_all_marks(Table& table, MarkChange change, const ProgressCallback& progress, uint64_t* changed) {
  if (changed) *changed = 0;
  if (table.fd < 0 || table.read_only) return Status::kReadOnly;
  FileLock lock(table, "Mark all");
  if (!lock.ok()) return lock.status();
  backup_if_due(table);
  const StoredMarks marks = stored_marks(table);
  std::vector<uint8_t> record(table.record_size);
  RunWriter writer(table);
  RecordScanner scan(table, ScanOrder::kVisibleList, progress);
  scan.set_raw();
  ScannedRecord r;
  while (scan.next(r)) {
    std::copy(r.image, r.image + record.size(), record.begin());
    bool deleted = marks.plain[record[0]] == kDeletedMark;
    bool wanted = change == MarkChange::kDelete ? true : change == MarkChange::kRecall ? false : !deleted;
    if (wanted != deleted) {
      record[0] = wanted ? marks.deleted : marks.live;
      if (changed) ++*changed;
    }
    if (!writer.add(r.record, record.data(), wanted != deleted)) return Status::kWriteError;
  }
  if (!writer.flush()) return Status::kWriteError;
  return scan.status();
}

Status rewrite_records(Table& table, uint32_t first, uint32_t last, const std::function<void(Table&)>& change,
                       const ProgressCallback& progress) {
  return rewrite_records(table, first, last, [&change](Table& t, uint32_t) { change(t); }, progress);
}

Status rewrite_records(Table& table, uint32_t first, uint32_t last,
                       const std::function<void(Table&, uint32_t position)>& change, const ProgressCallback& progress) {
  if (table.fd < 0 || table.read_only || !has_record_buffer(table)) return Status::kReadOnly;
  FileLock lock(table, "Change records");
  if (!lock.ok()) return lock.status();
  backup_if_due(table);
  const size_t size = table.record_size;
  std::vector<uint8_t> kept(table.record.begin(), table.record.begin() + size);
  RunWriter writer(table);
  RecordScanner scan(table, ScanOrder::kView, progress);
  scan.set_range(first, last == UINT32_MAX ? last : last + 1);
  ScannedRecord r;
  Status status = Status::kOk;
  while (status == Status::kOk && scan.next(r)) {
    std::copy(r.image, r.image + size, table.record.begin());
    change(table, r.position);
    if (table.encoding.before_write) table.encoding.before_write(table, table.record.data(), int(size));
    if (!writer.add(r.record, table.record.data(), true)) status = Status::kWriteError;
  }
  if (status == Status::kOk && !writer.flush()) status = Status::kWriteError;
  std::copy(kept.begin(), kept.end(), table.record.begin());
  return status == Status::kOk ? scan.status() : status;
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
  // Another program may have added records since the count was read: the
  // new one goes after theirs, never over them.
  AppendLock lock(table);
  if (!lock.ok()) return 0;
  adopt_appends_of_others(table);
  if (blank) blank_record(table);
  // One record at a time (a pasted block is many): the journal is not
  // flushed, which a kill does not need.
  backup_if_due(table);
  if (!number_new_record(table)) return 0;
  Journal journal;
  if (begin_append(journal, table, false) != Status::kOk) return 0;
  if (!write_at(table, table.record_count)) return 0;
  extend_view_for_append(table.view, table.record_count);
  table.record_count += 1;
  return write_header(table) && journal.finish(-1) == Status::kOk;
}

// Opens a slot at view position p (counted from the end when the view is
// reversed) and writes Record into it. Refused while a filter or sort order
// is set, where a view position does not name a place in the file.
int insert_record(Table& table, uint32_t p, bool blank) {
  if (table.view.has_list()) return 0;
  if (!has_record_buffer(table) || table.read_only) return 0;
  FileLock lock(table, "Insert");
  if (!lock.ok()) return 0;
  adopt_appends_of_others(table);
  uint32_t count = table.record_count;
  if (count == kNoRecord - 1) return 0;
  uint32_t target = p;
  if (table.view.reverse) target = p < count ? count - p - 1 : 0;
  if (target > count) return 0;
  backup_if_due(table);
  if (blank) blank_record(table);
  if (!number_new_record(table)) return 0;
  std::vector<uint8_t> image = stored_image(table);
  // The undo history keeps the move as one record added, not as the bytes it shifts.
  UndoShift shift(table, true, target);
  return shift.done(insert_stored_record(table, target, image), image);
}

int insert_stored_record(Table& table, uint32_t target, const std::vector<uint8_t>& image) {
  uint32_t count = table.record_count;
  if (table.fd < 0 || target > count || image.size() != table.record_size) return 0;
  long long size = current_file_size(table.fd);
  uint64_t from = record_offset(table, target);
  uint64_t length = uint64_t(count - target) * table.record_size;
  if (size < 0 || uint64_t(size) < from + length) return 0;
  if (uint64_t(size) > from + length) length += 1;  // the end-of-file byte

  // The journal holds the new record, so that a move cut short can be
  // finished with it on the next open.
  JournalEntry entry = move_entry(table, JournalOp::kInsert, target, uint64_t(size));
  entry.image = image;
  Journal journal;
  if (journal.begin(table.file_name, entry, kMoveChunkSize) != Status::kOk) return 0;
  if (move_bytes(table.fd, from, from + table.record_size, length, kMoveChunkSize, &journal) != Status::kOk) return 0;
  if (!write_exact(table.fd, image.data(), image.size(), from)) return 0;
  table.record_count += 1;
  return write_header(table) && journal.finish(table.fd) == Status::kOk;
}

int remove_record(Table& table, uint32_t q) {
  if (view_is_arranged(table) || q >= table.record_count || table.fd < 0 || table.read_only) return 0;
  FileLock lock(table, "Remove record");
  if (!lock.ok()) return 0;
  // Records another program added stay behind the ones moved down.
  adopt_appends_of_others(table);
  backup_if_due(table);
  UndoShift shift(table, false, q);
  return shift.done(remove_stored_record(table, q), {});
}

int remove_stored_record(Table& table, uint32_t q) {
  if (q >= table.record_count || table.fd < 0) return 0;
  uint64_t to = record_offset(table, q);
  uint64_t length = uint64_t(table.record_count - q - 1) * table.record_size;
  // A file shortened from outside would stop the move half-way.
  long long size = current_file_size(table.fd);
  if (size < 0 || uint64_t(size) < to + table.record_size + length) return 0;
  Journal journal;
  if (journal.begin(table.file_name, move_entry(table, JournalOp::kRemove, q, uint64_t(size)), kMoveChunkSize) !=
      Status::kOk)
    return 0;
  if (move_bytes(table.fd, to + table.record_size, to, length, kMoveChunkSize, &journal) != Status::kOk) return 0;
  if (!file_truncate(table.fd, record_offset(table, table.record_count - 1))) return 0;
  table.record_count -= 1;
  return write_header(table) && journal.finish(table.fd) == Status::kOk;
}

int truncate_table(Table& table, uint32_t n) {
  if (view_is_arranged(table) || n > table.record_count || table.fd < 0 || table.read_only) return 0;
  FileLock lock(table, n == 0 ? "Zap" : "Truncate");
  if (!lock.ok()) return 0;
  backup_if_due(table);
  Journal journal;
  JournalEntry entry = move_entry(table, JournalOp::kTruncate, n, 0);
  if (journal.begin(table.file_name, entry, 0) != Status::kOk) return 0;
  if (!file_truncate(table.fd, record_offset(table, n))) return 0;
  table.record_count = n;
  return write_header(table) && journal.finish(table.fd) == Status::kOk;
}

int zap_table(Table& table) { return truncate_table(table, 0); }

int pack_table(Table& table, int mode) {
  if (table.view.has_list() || mode < 0 || mode > 2) return 0;
  FileLock lock(table, "Pack");
  if (!lock.ok()) return 0;
  // Records another program added before the lock are packed with the rest.
  adopt_appends_of_others(table);
  PhysicalView physical(table);
  bool compact = mode != 2 && has_deleted_records(table);
  return rewrite_packed(table, compact, mode != 1);
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
  // The copy may be read by whoever may read the table, and by no one else.
  struct stat info;
  bool copied = fstat(table.fd, &info) == 0 && fchmod(out, info.st_mode & 07777) == 0 && copy_table_to(table.fd, out);
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
