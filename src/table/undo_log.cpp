#include "table/undo_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "table/byte_order.h"
#include "table/side_records.h"
#include "table/dbf_file.h"
#include "table/file_guards.h"
#include "table/file_io.h"
#include "table/journal.h"
#include "table/memo_file.h"
#include "table/pending_file.h"
#include "table/record_ops.h"

namespace kora {

namespace {

constexpr char kMagic[4] = {'K', 'U', 'N', 'D'};
constexpr size_t kHeadSize = 24;  // magic | type u32 | payload length u64 | checksum u64
constexpr size_t kCopyChunk = 1 << 20;

enum RecordType : uint32_t {
  kBegin = 1,
  kImage = 2,
  kShift = 3,
  kKeep = 4,
  kEnd = 5,
  kApply = 6,
  kApplied = 7,
  kSparse = 8,
};
constexpr int kTableFile = 0;
constexpr int kMemoFile = 1;

struct Checksum {
  uint64_t hash = fnv1a(nullptr, 0);
  void add(const uint8_t* bytes, size_t length) { hash = fnv1a(bytes, length, hash); }
};

// One part of a step, in the order the change made them.
struct Event {
  RecordType kind = kImage;
  uint32_t file = kTableFile;
  uint64_t offset = 0;       // image: where the bytes were
  uint64_t size_before = 0;  // image, shift: the file's size before
  std::string path;          // image: the memo file; keep: the file replaced
  uint64_t bytes_at = 0;     // image: where its bytes lie in the log; sparse: where its record does
  uint64_t length = 0;       // image: the bytes kept; sparse: the bytes the write covered
  uint64_t logged = 0;       // sparse: the size of its record
  std::string keep;          // keep: the old file's second name, empty when there was none
  bool insert = false;       // shift: a record added (else removed)
  uint32_t record = 0;
  uint32_t count = 0;        // shift: the record count before
  uint64_t size_after = 0;
  std::vector<uint8_t> header;  // shift: the 32 header bytes before
  std::vector<uint8_t> image;   // shift: the record added or removed, as stored; sparse: its record until kept
};

struct Step {
  uint64_t serial = 0;
  std::string name;
  std::vector<Event> events;
  bool table_kept = false;
  bool memo_kept = false;
};

// What the files were after kora's last recorded change.
struct FileIdentity {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtime_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity identity_of(const struct stat& st) {
  return {true, st.st_dev, st.st_ino, st.st_size, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

FileIdentity path_identity(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 ? identity_of(st) : FileIdentity{};
}

FileIdentity fd_identity(int fd) {
  struct stat st;
  return fd >= 0 && fstat(fd, &st) == 0 ? identity_of(st) : FileIdentity{};
}

// The log file: records appended one after another, each written body
// first and head last, so that a record cut short by a kill never reads
// as whole.
class LogFile {
 public:
  LogFile() = default;
  ~LogFile() {
    if (fd >= 0) ::close(fd);
  }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  int fd = -1;
  uint64_t end = 0;

  // A record of `fixed` bytes followed by `length` bytes read from `from`
  // at `offset` (an image); where those bytes lie in the log, or nothing.
  std::optional<uint64_t> append(RecordType type, const std::vector<uint8_t>& fixed, int from = -1,
                                 uint64_t offset = 0, uint64_t length = 0) {
    uint64_t at = end + kHeadSize;
    Checksum sum;
    sum.add(fixed.data(), fixed.size());
    if (!file_write_at(fd, fixed.data(), fixed.size(), at)) return std::nullopt;
    uint64_t bytes_at = at + fixed.size();
    std::vector<uint8_t> buffer;
    for (uint64_t done = 0; done < length;) {
      size_t n = size_t(std::min<uint64_t>(length - done, kCopyChunk));
      buffer.resize(n);
      if (file_read_at(from, buffer.data(), n, offset + done) != ssize_t(n)) return std::nullopt;
      sum.add(buffer.data(), n);
      if (!file_write_at(fd, buffer.data(), n, bytes_at + done)) return std::nullopt;
      done += n;
    }
    uint8_t head[kHeadSize];
    std::memcpy(head, kMagic, 4);
    put_le32(head + 4, type);
    put_le64(head + 8, fixed.size() + length);
    put_le64(head + 16, sum.hash);
    if (!file_write_at(fd, head, kHeadSize, end)) return std::nullopt;
    end = bytes_at + length;
    return bytes_at;
  }
};

// A record read back: its type, payload and where the payload starts.
struct LogRecord {
  RecordType type;
  std::vector<uint8_t> payload;
  uint64_t payload_at;
};

bool read_record(int fd, uint64_t at, LogRecord& out, uint64_t& next) {
  uint8_t head[kHeadSize];
  if (file_read_at(fd, head, kHeadSize, at) != ssize_t(kHeadSize) || std::memcmp(head, kMagic, 4) != 0) return false;
  uint64_t length = get_le64(head + 8);
  struct stat st;
  if (fstat(fd, &st) != 0 || at + kHeadSize + length > uint64_t(st.st_size)) return false;
  out.type = RecordType(get_le32(head + 4));
  out.payload.resize(size_t(length));
  out.payload_at = at + kHeadSize;
  if (file_read_at(fd, out.payload.data(), size_t(length), out.payload_at) != ssize_t(length)) return false;
  Checksum sum;
  sum.add(out.payload.data(), out.payload.size());
  if (sum.hash != get_le64(head + 16)) return false;
  next = out.payload_at + length;
  return true;
}

// Event records: the fixed part written before an image's bytes.
std::vector<uint8_t> image_fixed(const Event& e) {
  std::vector<uint8_t> out;
  append_le32(out, e.file);
  append_le64(out, e.offset);
  append_le64(out, e.size_before);
  put_text(out, e.path);
  return out;
}

std::vector<uint8_t> shift_payload(const Event& e) {
  std::vector<uint8_t> out;
  append_le32(out, e.insert ? 1 : 0);
  append_le32(out, e.record);
  append_le32(out, e.count);
  append_le64(out, e.size_before);
  append_le64(out, e.size_after);
  put_bytes(out, e.header);
  put_bytes(out, e.image);
  return out;
}

std::vector<uint8_t> keep_payload(const Event& e) {
  std::vector<uint8_t> out;
  append_le32(out, e.file);
  put_text(out, e.path);
  put_text(out, e.keep);
  return out;
}

bool parse_event(const LogRecord& r, Event& e) {
  SideRecordReader in{r.payload.data(), r.payload.data() + r.payload.size()};
  e.kind = r.type;
  if (r.type == kImage) {
    e.file = in.u32();
    e.offset = in.u64();
    e.size_before = in.u64();
    e.path = in.text();
    e.bytes_at = r.payload_at + uint64_t(in.at - r.payload.data());
    e.length = uint64_t(in.end - in.at);
    return in.ok;
  }
  if (r.type == kSparse) {
    e.file = in.u32();
    e.offset = in.u64();
    e.size_before = in.u64();
    e.path = in.text();
    e.length = in.u64();
    e.bytes_at = r.payload_at;
    e.logged = r.payload.size();
    return in.ok;
  }
  if (r.type == kShift) {
    e.insert = in.u32() != 0;
    e.record = in.u32();
    e.count = in.u32();
    e.size_before = in.u64();
    e.size_after = in.u64();
    e.header = in.bytes();
    e.image = in.bytes();
    return in.ok && e.header.size() == 32;
  }
  if (r.type == kKeep) {
    e.file = in.u32();
    e.path = in.text();
    e.keep = in.text();
    return in.ok;
  }
  return false;
}

// A write that changes only some of the bytes it covers, all within the
// file, is kept as a sparse image: the runs that differ, each with the
// bytes it overwrote, rather than the whole range. Its record is the
// image's fixed part, then
//   covered length u64 | run count u32 |
//   per run: gap after the previous run u32, length u32 | the runs' bytes.
// Runs fewer than kRunGap bytes apart are kept as one, so that a change
// every few bytes does not cost a run each.
constexpr size_t kRunGap = 16;

size_t first_difference(const uint8_t* a, const uint8_t* b, size_t i, size_t n) {
  for (uint64_t x, y; i + 8 <= n; i += 8) {
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

size_t first_same(const uint8_t* a, const uint8_t* b, size_t i, size_t n) {
  while (i < n && a[i] != b[i]) ++i;
  return i;
}

// The part of a sparse record after the fixed part, for a write of `now`
// over `length` bytes at `offset`; left empty when the runs would save too
// little over the plain image. False when the file cannot be read.
bool diff_write(int fd, uint64_t offset, const uint8_t* now, uint64_t length, std::vector<uint8_t>& out) {
  out.clear();
  std::vector<uint8_t> table, old, window;
  uint32_t count = 0;
  uint64_t start = 0, end = 0, closed = 0;  // the open run; the end of the one before
  bool open = false;
  auto close = [&] {
    append_le32(table, uint32_t(start - closed));
    append_le32(table, uint32_t(end - start));
    closed = end;
    ++count;
  };
  for (uint64_t w = 0; w < length; w += window.size()) {
    window.resize(size_t(std::min<uint64_t>(length - w, kCopyChunk)));
    size_t n = window.size();
    if (file_read_at(fd, window.data(), n, offset + w) != ssize_t(n)) return false;
    const uint8_t* a = window.data();
    const uint8_t* b = now + w;
    for (size_t i = first_difference(a, b, 0, n); i < n; i = first_difference(a, b, i, n)) {
      size_t j = first_same(a, b, i + 1, n);
      if (open && end >= w && w + i - end < kRunGap) {
        old.insert(old.end(), a + (end - w), a + j);  // the gap goes with it
      } else {
        if (open) close();
        old.insert(old.end(), a + i, a + j);
        start = w + i;
        open = true;
      }
      end = w + j;
      i = j;
    }
    if (2 * (old.size() + table.size()) > w + n) return true;  // little saved: the plain image
  }
  if (open) close();
  append_le64(out, length);
  append_le32(out, count);
  out.insert(out.end(), table.begin(), table.end());
  out.insert(out.end(), old.begin(), old.end());
  return true;
}

// Appends an event's record; a plain image's bytes are read from `fd`.
bool append_event(LogFile& log, Event& e, int fd) {
  std::optional<uint64_t> at;
  if (e.kind == kImage) at = log.append(kImage, image_fixed(e), fd, e.offset, e.length);
  else if (e.kind == kSparse) at = log.append(kSparse, e.image);
  else if (e.kind == kShift) at = log.append(kShift, shift_payload(e));
  else at = log.append(kKeep, keep_payload(e));
  if (!at) return false;
  e.bytes_at = *at;
  if (e.kind == kSparse) {
    e.logged = e.image.size();
    e.bytes_at -= e.logged;
    e.image = {};
  }
  return true;
}

std::vector<uint8_t> serial_payload(uint64_t serial, const std::string& name = {}) {
  std::vector<uint8_t> out;
  append_le64(out, serial);
  if (!name.empty()) put_text(out, name);
  return out;
}

}  // namespace

// ---- the history of one table -------------------------------------------------------

class UndoLog {
 public:
  explicit UndoLog(Table& table) : table(&table), path(undo_log_path(table.file_name)) {}
  ~UndoLog();
  UndoLog(const UndoLog&) = delete;
  UndoLog& operator=(const UndoLog&) = delete;

  Table* table;
  std::string path;
  LogFile log;
  uint64_t next_serial = 1;
  uint64_t next_keep = 1;
  std::vector<Step> undo;
  std::vector<Step> redo;
  FileIdentity table_id, memo_id;
  std::string lost;  // why the history was dropped, told on the next undo

  // Opens the log on the first change; held locked so that no other open
  // of the table takes it for one left by a kill. Another session's log
  // (the table open in a second kora) is left alone: this one keeps none.
  bool open() {
    if (log.fd >= 0) return true;
    int fd = file_open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      busy = true;
      return false;
    }
    log.fd = fd;
    log.end = 0;
    return file_truncate(fd, 0);
  }
  bool busy = false;
  std::string keep_name() { return path + "." + std::to_string(next_keep++); }
  void remember_files() {
    table_id = fd_identity(table->fd);
    memo_id = path_identity(table->memo_file_name);
  }
  bool unchanged() const { return fd_identity(table->fd) == table_id && path_identity(table->memo_file_name) == memo_id; }
  void drop_steps(std::vector<Step>& steps);
  void clear(const std::string& why);
  // Leaves the log and its kept files on disk, unheld, for the next open
  // of the table to finish the undo that failed half-way.
  void abandon() {
    undo.clear();
    redo.clear();
    if (log.fd >= 0) ::close(log.fd);
    log.fd = -1;
  }
};

namespace {

void remove_kept_files(const Step& step) {
  for (const Event& e : step.events) {
    if (e.kind == kKeep && !e.keep.empty()) file_unlink(e.keep);
  }
}

}  // namespace

void UndoLog::drop_steps(std::vector<Step>& steps) {
  for (const Step& s : steps) remove_kept_files(s);
  steps.clear();
}

void UndoLog::clear(const std::string& why) {
  drop_steps(undo);
  drop_steps(redo);
  lost = why;
  if (log.fd >= 0 && file_truncate(log.fd, 0)) log.end = 0;
}

// ---- recording ----------------------------------------------------------------------

namespace {

// The step being recorded, and what it needs to know the files by.
struct ActiveStep {
  UndoLog* log = nullptr;
  Step step;
  bool recorded = true;
  bool begun = false;     // its BEGIN record is in the log
  bool overflow = false;  // it grew past the cap
  bool failed = false;    // a part could not be kept
  bool no_log = false;    // the folder takes no log: the change goes unrecorded
  uint64_t cap = kDefaultUndoCap;
  FileIdentity memo;
};

ActiveStep* g_active = nullptr;
int g_paused = 0;       // shifts and the undo's own writes
bool g_inside = false;  // the observer's own file calls

struct Inside {
  bool was = g_inside;
  Inside() { g_inside = true; }
  ~Inside() { g_inside = was; }
};

bool watching() {
  return g_active && g_active->log && g_active->recorded && !g_paused && !g_inside && !g_active->overflow;
}

// Which file of the step's table `fd` is, or -1.
int file_of(int fd) {
  const Table& t = *g_active->log->table;
  if (fd == t.fd) return g_active->step.table_kept ? -1 : kTableFile;
  if (fd == g_active->log->log.fd || g_active->step.memo_kept || !g_active->memo.exists) return -1;
  FileIdentity id = fd_identity(fd);
  return id.exists && id.dev == g_active->memo.dev && id.ino == g_active->memo.ino ? kMemoFile : -1;
}

// A part that could not be kept: the write is refused and the step dropped.
bool refuse(ActiveStep& a) {
  a.failed = true;
  return false;
}

bool begin_record(ActiveStep& a) {
  if (a.begun) return true;
  UndoLog& log = *a.log;
  if (!log.open()) return false;
  a.step.serial = log.next_serial++;
  a.begun = log.log.append(kBegin, serial_payload(a.step.serial, a.step.name)).has_value();
  return a.begun;
}

// Keeps an event, the image's bytes read from `fd`; false stops the write.
bool keep_event(Event e, int fd = -1) {
  ActiveStep& a = *g_active;
  Inside inside;
  // A step that would outgrow the cap keeps nothing more: it is dropped at its end.
  if (a.log->log.end + (e.kind == kSparse ? 0 : e.length) + e.image.size() > a.cap) {
    a.overflow = true;
    return true;
  }
  // A folder that takes no new file (the table alone may be written) keeps
  // no history; the change itself goes ahead.
  if (!a.log->open()) {
    a.no_log = a.overflow = true;
    return true;
  }
  if (!begin_record(a) || !append_event(a.log->log, e, fd)) return refuse(a);
  a.step.events.push_back(std::move(e));
  return true;
}

bool image_event(int fd, int file, uint64_t offset, uint64_t length, const void* bytes = nullptr) {
  long long size = file_size(fd);
  if (size < 0) return false;
  Event e;
  e.kind = kImage;
  e.file = uint32_t(file);
  e.offset = offset;
  e.size_before = uint64_t(size);
  e.length = offset < uint64_t(size) ? std::min<uint64_t>(length, uint64_t(size) - offset) : 0;
  if (file == kMemoFile) e.path = g_active->log->table->memo_file_name;
  if (bytes && length > 0 && e.length == length && length <= UINT32_MAX) {
    std::vector<uint8_t> tail;
    if (!diff_write(fd, offset, static_cast<const uint8_t*>(bytes), length, tail)) return refuse(*g_active);
    if (!tail.empty()) {
      e.kind = kSparse;
      e.image = image_fixed(e);
      e.image.insert(e.image.end(), tail.begin(), tail.end());
    }
  }
  return keep_event(std::move(e), fd);
}

bool observe_write(int fd, uint64_t offset, const void* bytes, size_t length) {
  if (!watching()) return true;
  int file = file_of(fd);
  return file < 0 || image_event(fd, file, offset, length, bytes);
}

bool observe_truncate(int fd, uint64_t size) {
  if (!watching()) return true;
  int file = file_of(fd);
  if (file < 0) return true;
  long long now = file_size(fd);
  return now < 0 ? false : image_event(fd, file, size, now > 0 && uint64_t(now) > size ? uint64_t(now) - size : 0);
}

// The memo file a table of this name may take: same folder and name, the
// extension of either memo layout in either case.
bool is_memo_name(const std::string& table_path, const std::string& path) {
  size_t dot = table_path.rfind('.'), slash = table_path.rfind('/');
  std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? table_path.substr(0, dot)
                                                                                             : table_path;
  if (path.size() != stem.size() + 4 || path.compare(0, stem.size(), stem) != 0) return false;
  std::string ext = path.substr(stem.size());
  for (char& c : ext) c = char(tolower(c));
  return ext == ".dbt" || ext == ".fpt";
}

bool observe_replace(const std::string& to) {
  if (!watching()) return true;
  ActiveStep& a = *g_active;
  const Table& t = *a.log->table;
  FileIdentity target = path_identity(to), table_id = fd_identity(t.fd);
  int file = -1;
  if (target.exists && target.dev == table_id.dev && target.ino == table_id.ino) file = kTableFile;
  else if (target.exists && a.memo.exists && target.dev == a.memo.dev && target.ino == a.memo.ino) file = kMemoFile;
  else if (!target.exists && is_memo_name(t.file_name, to)) file = kMemoFile;
  if (file < 0 || (file == kTableFile ? a.step.table_kept : a.step.memo_kept)) return true;
  Event e;
  e.kind = kKeep;
  e.file = uint32_t(file);
  e.path = to;
  if (target.exists) e.keep = a.log->keep_name();
  // Named in the log before it exists, so that an open after a kill removes it.
  if (!keep_event(e)) return false;
  if (a.overflow) return true;
  if (target.exists) {
    Inside inside;
    file_unlink(e.keep);
    if (!file_link(to, e.keep)) return refuse(a);
  }
  (file == kTableFile ? a.step.table_kept : a.step.memo_kept) = true;
  return true;
}

}  // namespace

UndoLog::~UndoLog() {
  if (g_active && g_active->log == this) g_active->log = nullptr;
}

void UndoLogDeleter::operator()(UndoLog* log) const { delete log; }

namespace {

constexpr FileObserver kObserver = {observe_write, observe_truncate, observe_replace};

}  // namespace

std::string undo_log_path(const std::string& table_path) { return table_path + "-undo"; }

UndoStep::UndoStep(Table& table, std::string name, uint64_t cap, bool recorded) {
  if (table.fd < 0 || table.read_only) return;
  if (g_active && g_active->log == table.undo.get() && !g_active->step.events.empty()) return;  // part of it
  if (!table.undo) table.undo.reset(new UndoLog(table));
  auto* step = new ActiveStep;
  step->log = table.undo.get();
  step->step.name = std::move(name);
  step->recorded = recorded;
  step->cap = cap;
  step->memo = path_identity(table.memo_file_name);
  if (!recorded) table.undo->clear(step->step.name + " could not be undone");
  outer_ = g_active;
  own_ = true;
  g_active = step;
  set_file_observer(&kObserver);
}

UndoStep::~UndoStep() {
  if (!own_) return;
  std::unique_ptr<ActiveStep> a(g_active);
  g_active = static_cast<ActiveStep*>(outer_);
  if (!g_active) set_file_observer(nullptr);
  if (!a->log) return;  // the table was closed under it
  UndoLog& log = *a->log;
  if (!a->recorded) {
    log.remember_files();
    return;
  }
  if (a->step.events.empty() && !a->overflow && !a->failed) return;
  Inside inside;
  if (a->overflow || a->failed) {
    remove_kept_files(a->step);
    log.clear(a->no_log && log.busy ? "Another kora keeps the undo history of this table"
              : a->no_log           ? "The table's folder takes no undo history"
              : a->overflow         ? a->step.name + " was too large to undo"
              : a->step.name + " could not be kept for undo");
  } else if (log.log.append(kEnd, serial_payload(a->step.serial))) {
    log.drop_steps(log.redo);
    log.undo.push_back(std::move(a->step));
    log.lost.clear();
  } else {
    log.clear(a->step.name + " could not be kept for undo");
  }
  log.remember_files();
}

UndoShift::UndoShift(Table& table, bool insert, uint32_t q) : table_(table), insert_(insert), q_(q) {
  watched_ = watching() && g_active->log == table.undo.get() && !g_active->step.table_kept;
  if (!watched_) return;
  Inside inside;
  count_ = table.record_count;
  long long size = file_size(table.fd);
  header_.resize(32);
  if (size < 0 || file_read_at(table.fd, header_.data(), 32, 0) != 32) watched_ = false;
  size_ = uint64_t(size);
  if (!insert) {
    removed_.resize(table.record_size);
    uint64_t at = uint64_t(table.header_size) + uint64_t(q) * table.record_size;
    if (file_read_at(table.fd, removed_.data(), removed_.size(), at) != ssize_t(removed_.size())) watched_ = false;
  }
  if (!watched_) g_active->failed = true;
  ++g_paused;
}

UndoShift::~UndoShift() {
  if (watched_) --g_paused;
}

int UndoShift::done(int ok, const std::vector<uint8_t>& image) {
  if (!watched_) return ok;
  --g_paused;
  watched_ = false;
  if (!ok) {
    g_active->failed = true;
    return ok;
  }
  Event e;
  e.kind = kShift;
  e.insert = insert_;
  e.record = q_;
  e.count = count_;
  e.size_before = size_;
  long long after = file_size(table_.fd);
  e.size_after = after < 0 ? 0 : uint64_t(after);
  e.header = header_;
  e.image = insert_ ? image : removed_;
  return keep_event(std::move(e)) ? ok : 0;
}

// ---- applying a step backwards ------------------------------------------------------

namespace {

// The files a step is applied to: the table through its descriptor, memo
// files opened by name as needed.
class StepFiles {
 public:
  explicit StepFiles(Table& table) : table_(table) {}
  int fd(const Event& e) {
    if (e.file == kTableFile) return table_.fd;
    auto found = memos_.find(e.path);
    if (found != memos_.end()) return found->second->fd;
    auto fd = std::make_unique<UniqueFd>(file_open(e.path, O_RDWR | O_CLOEXEC));
    int value = fd->fd;
    memos_[e.path] = std::move(fd);
    return value;
  }
  void forget(const std::string& path) { memos_.erase(path); }
  bool sync() {
    bool ok = table_.fd >= 0 && file_sync(table_.fd);
    for (auto& [path, fd] : memos_) ok = (fd->fd < 0 || file_sync(fd->fd)) && ok;
    return ok;
  }

 private:
  Table& table_;
  std::map<std::string, std::unique_ptr<UniqueFd>> memos_;
};

// Where the redo of what is applied goes; none while an open finishes an undo.
struct Capture {
  LogFile* log = nullptr;
  Step* step = nullptr;
  UndoLog* owner = nullptr;
  bool add(Event e, int fd = -1) {
    if (!log) return true;
    if (!append_event(*log, e, fd)) return false;
    step->events.push_back(std::move(e));
    return true;
  }
};

bool reopen_table_fd(Table& table) {
  int fd = file_open(table.file_name, O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  if (table.fd >= 0) ::close(table.fd);
  table.fd = fd;
  return true;
}

// The file's size before the image, what a cut removes kept for the redo.
bool restore_size(const Event& e, int fd, Capture& capture) {
  long long written = file_size(fd);
  if (written < 0) return false;
  if (uint64_t(written) == e.size_before) return true;
  Event cut;
  cut.kind = kImage;
  cut.file = e.file;
  cut.path = e.path;
  cut.offset = std::min<uint64_t>(e.size_before, uint64_t(written));
  cut.size_before = uint64_t(written);
  cut.length = uint64_t(written) > e.size_before ? uint64_t(written) - e.size_before : 0;
  return capture.add(cut, fd) && file_truncate(fd, e.size_before);
}

// Puts an image back: its bytes, then the file's size before it. What this
// overwrites and cuts is kept first for the redo.
bool apply_image(const Event& e, int log_fd, StepFiles& files, Capture& capture) {
  int fd = files.fd(e);
  if (fd < 0) return false;
  long long now = file_size(fd);
  if (now < 0) return false;
  Event over = e;
  over.size_before = uint64_t(now);
  over.length = e.offset < uint64_t(now) ? std::min<uint64_t>(e.length, uint64_t(now) - e.offset) : 0;
  if (!capture.add(over, fd)) return false;
  std::vector<uint8_t> buffer;
  for (uint64_t done = 0; done < e.length;) {
    size_t n = size_t(std::min<uint64_t>(e.length - done, kCopyChunk));
    buffer.resize(n);
    if (file_read_at(log_fd, buffer.data(), n, e.bytes_at + done) != ssize_t(n)) return false;
    if (!file_write_at(fd, buffer.data(), n, e.offset + done)) return false;
    done += n;
  }
  return restore_size(e, fd, capture);
}

// Puts back the runs of a sparse image with one write of the range it
// covers; the redo keeps the same runs with what they hold now.
bool apply_sparse(const Event& e, int log_fd, StepFiles& files, Capture& capture) {
  int fd = files.fd(e);
  long long now = fd < 0 ? -1 : file_size(fd);
  if (now < 0) return false;
  std::vector<uint8_t> record(size_t(e.logged)), range(size_t(e.length));
  if (file_read_at(log_fd, record.data(), record.size(), e.bytes_at) != ssize_t(record.size()) ||
      file_read_at(fd, range.data(), range.size(), e.offset) != ssize_t(range.size()))
    return false;
  SideRecordReader in{record.data(), record.data() + record.size()};
  in.u32();  // the fixed part and covered length, known from the event
  in.u64();
  in.u64();
  in.text();
  in.u64();
  uint32_t count = in.u32();
  if (!in.has(uint64_t(count) * 8)) return false;
  Event redo = e;
  redo.size_before = uint64_t(now);
  redo.image = image_fixed(redo);
  append_le64(redo.image, e.length);
  append_le32(redo.image, count);
  redo.image.insert(redo.image.end(), in.at, in.at + size_t(count) * 8);
  const uint8_t* old = in.at + size_t(count) * 8;
  for (uint64_t k = 0, at = 0; k < count; ++k) {
    uint64_t gap = get_le32(in.at + 8 * k), length = get_le32(in.at + 8 * k + 4);
    at += gap;
    if (at + length > range.size() || uint64_t(in.end - old) < length) return false;
    redo.image.insert(redo.image.end(), range.begin() + ptrdiff_t(at), range.begin() + ptrdiff_t(at + length));
    std::memcpy(range.data() + at, old, size_t(length));
    old += length;
    at += length;
  }
  return capture.add(std::move(redo)) && file_write_at(fd, range.data(), range.size(), e.offset) &&
         restore_size(e, fd, capture);
}

// Puts the kept file back in place (or removes the file that did not exist
// before); the file it replaces is kept in turn for the redo.
bool apply_keep(const Event& e, Table& table, UndoLog* owner, StepFiles& files, Capture& capture) {
  struct stat st;
  bool kept_there = !e.keep.empty() && lstat(e.keep.c_str(), &st) == 0;
  if (!e.keep.empty() && !kept_there) return true;  // put back before a kill
  Event now = e;
  now.keep.clear();
  bool exists = stat(e.path.c_str(), &st) == 0;
  if (exists && owner) now.keep = owner->keep_name();
  if (capture.log && !capture.add(now)) return false;
  if (capture.log && exists) {
    file_unlink(now.keep);
    if (!file_link(e.path, now.keep)) return false;
  }
  files.forget(e.path);
  if (kept_there ? !file_rename(e.keep, e.path) : exists && !file_unlink(e.path)) return false;
  sync_folder(folder_of(e.path));
  return e.file == kTableFile ? reopen_table_fd(table) : true;
}

// Takes back a record added or removed: the move the other way under the
// journal, then the header and size of before.
bool apply_shift(const Event& e, Table& table, bool moved, Capture& capture) {
  if (!moved) {
    Event back;
    back.kind = kShift;
    back.insert = !e.insert;
    back.record = e.record;
    back.count = e.insert ? e.count + 1 : e.count - 1;
    long long size = file_size(table.fd);
    if (size < 0) return false;
    back.size_before = uint64_t(size);
    back.size_after = e.size_before;
    back.header.resize(32);
    if (file_read_at(table.fd, back.header.data(), 32, 0) != 32) return false;
    if (e.insert) {
      back.image.resize(table.record_size);
      uint64_t at = uint64_t(table.header_size) + uint64_t(e.record) * table.record_size;
      if (file_read_at(table.fd, back.image.data(), back.image.size(), at) != ssize_t(back.image.size())) return false;
    } else {
      back.image = e.image;
    }
    if (!capture.add(back)) return false;
    table.record_count = back.count;
    int ok = e.insert ? remove_stored_record(table, e.record) : insert_stored_record(table, e.record, e.image);
    if (!ok) return false;
  }
  table.record_count = e.count;
  long long size = file_size(table.fd);
  return size >= 0 && file_write_at(table.fd, e.header.data(), 32, 0) &&
         (uint64_t(size) == e.size_before || file_truncate(table.fd, e.size_before));
}

// Applies the step's parts backwards. An open finishing an undo (no
// capture) finds a shift already made by its size and goes on after it.
bool apply_step(const Step& step, int log_fd, Table& table, UndoLog* owner, Capture& capture) {
  StepFiles files(table);
  size_t start = step.events.size();
  bool shift_done = false;
  if (!capture.log) {
    for (size_t i = step.events.size(); i-- > 0;) {
      const Event& e = step.events[i];
      long long size = file_size(table.fd);
      if (e.kind == kShift && size >= 0 && uint64_t(size) != e.size_after) {
        start = i + 1;
        shift_done = true;
      }
    }
  }
  for (size_t i = start; i-- > 0;) {
    const Event& e = step.events[i];
    bool ok = e.kind == kImage    ? apply_image(e, log_fd, files, capture)
              : e.kind == kSparse ? apply_sparse(e, log_fd, files, capture)
              : e.kind == kKeep   ? apply_keep(e, table, owner, files, capture)
                                : apply_shift(e, table, shift_done && i + 1 == start, capture);
    if (!ok) return false;
  }
  return files.sync();
}

// The table's header and count as the file now has them.
void reread_table(Table& table) {
  uint8_t head[32];
  if (file_read_at(table.fd, head, 32, 0) == 32) std::memcpy(table.header_bytes.data(), head, 32);
  table.record_count = get_le32(head + 4);
  refresh_record_count(table);
  table.memo_file_name = find_memo_file(table.file_name, table_kind_for_version(table.header_bytes[0]));
}

UndoOutcome take_back(Table& table, std::string& text, bool forward) {
  text.clear();
  UndoLog* log = table.undo.get();
  std::vector<Step>* from = log ? (forward ? &log->redo : &log->undo) : nullptr;
  if (!from || from->empty()) {
    if (log && !forward) text = log->lost;
    return log && !log->lost.empty() && !forward ? UndoOutcome::kTooLarge : UndoOutcome::kNothing;
  }
  if (!log->unchanged()) {
    text = "The table was changed since by another program";
    log->clear(text);
    return UndoOutcome::kChangedOutside;
  }
  Step step = std::move(from->back());
  from->pop_back();
  Step back;
  back.name = step.name;
  back.serial = log->next_serial++;
  Capture capture{&log->log, &back, log};
  ++g_paused;
  bool ok = log->log.append(kApply, serial_payload(step.serial)) && file_sync(log->log.fd) &&
            log->log.append(kBegin, serial_payload(back.serial, back.name)) &&
            apply_step(step, log->log.fd, table, log, capture) && log->log.append(kEnd, serial_payload(back.serial)) &&
            log->log.append(kApplied, serial_payload(step.serial));
  --g_paused;
  if (!ok) {
    log->abandon();
    table.undo.reset();
    text = step.name + " could not be taken back whole; the next open of the table finishes it";
    return UndoOutcome::kFailed;
  }
  reread_table(table);
  text = step.name;
  remove_kept_files(step);
  (forward ? log->undo : log->redo).push_back(std::move(back));
  log->remember_files();
  return UndoOutcome::kDone;
}

}  // namespace

UndoOutcome undo_change(Table& table, std::string& text) { return take_back(table, text, false); }
UndoOutcome redo_change(Table& table, std::string& text) { return take_back(table, text, true); }

bool can_undo(const Table& table) { return table.undo && !table.undo->undo.empty(); }
bool can_redo(const Table& table) { return table.undo && !table.undo->redo.empty(); }

uint64_t undo_log_size(const Table& table) { return table.undo ? table.undo->log.end : 0; }

bool undo_fits(const Table& table, uint64_t bytes, uint64_t cap) { return undo_log_size(table) + bytes <= cap; }

void drop_undo_history(Table& table) {
  if (!table.undo) return;
  UndoLog& log = *table.undo;
  if (g_active && g_active->log == &log) g_active->log = nullptr;
  log.drop_steps(log.undo);
  log.drop_steps(log.redo);
  if (log.log.fd >= 0) {
    ::close(log.log.fd);
    log.log.fd = -1;
    file_unlink(log.path);
  }
  table.undo.reset();
}

void move_undo_history(Table& from, Table& to) {
  if (!from.undo) return;
  to.undo = std::move(from.undo);
  to.undo->table = &to;
}

// ---- after a kill -------------------------------------------------------------------

namespace {

bool g_recovering = false;

struct LeftLog {
  std::map<uint64_t, Step> steps;
  std::vector<std::string> kept;
  std::optional<uint64_t> applying;
};

LeftLog read_left_log(int fd) {
  LeftLog left;
  uint64_t at = 0, next = 0, open = 0;
  LogRecord r;
  while (read_record(fd, at, r, next)) {
    at = next;
    SideRecordReader in{r.payload.data(), r.payload.data() + r.payload.size()};
    Event e;
    switch (r.type) {
      case kBegin:
        open = in.u64();
        left.steps[open].serial = open;
        break;
      case kEnd: open = 0; break;
      case kApply: left.applying = in.u64(); break;
      case kApplied: left.applying.reset(); break;
      default:
        if (!parse_event(r, e)) return left;
        if (e.kind == kKeep && !e.keep.empty()) left.kept.push_back(e.keep);
        if (open) left.steps[open].events.push_back(std::move(e));
    }
  }
  return left;
}

}  // namespace

Status recover_undo(const std::string& table_path, bool may_write, std::string& note) {
  note.clear();
  if (g_recovering) return Status::kOk;
  std::string path = undo_log_path(table_path);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Status::kOk;
  UniqueFd fd(file_open(path, (may_write ? O_RDWR : O_RDONLY) | O_CLOEXEC));
  if (fd.fd < 0) return Status::kOk;
  if (flock(fd.fd, LOCK_EX | LOCK_NB) != 0) return Status::kOk;  // a session holds it
  LeftLog left = read_left_log(fd.fd);
  bool pending = left.applying && left.steps.count(*left.applying);
  if (!may_write) return pending ? Status::kInterrupted : Status::kOk;
  if (pending) {
    g_recovering = true;
    std::unique_ptr<Table> table = open_table(table_path);
    g_recovering = false;
    Capture none;
    ++g_paused;
    bool ok = table && !table->read_only &&
              apply_step(left.steps[*left.applying], fd.fd, *table, nullptr, none);
    --g_paused;
    if (!ok) return Status::kInterrupted;
    note = "An undo was interrupted; it has been finished.";
  }
  for (const std::string& kept : left.kept) file_unlink(kept);
  file_unlink(path);
  return Status::kOk;
}

}  // namespace kora
