#include "table/table_locks.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "table/dbf_file.h"

namespace kora {

namespace {

// Where the dialects put their locks. All lie beyond the end of any table
// they can hold, so a lock never stops anyone's reads, and each dialect
// takes exclusive (write) locks on one or more bytes:
//
// - Clipper, and the dBase III-compatible programs that share its scheme:
//   record n (from 1) at 1,000,000,000 + n; the file lock covers the
//   1,000,000,000 bytes after 1,000,000,000; an append or header lock is the
//   byte 1,000,000,000 itself.
// - FoxPro (and Visual FoxPro on a table without a structural index): the
//   record's own offset in the file plus 0x40000000; the file lock covers
//   0x40000001 up to 0x7FFFFFFD; the header lock is the byte 0x40000000.
// - Visual FoxPro on a table with a structural index: record n at
//   0x7FFFFFFE - n, counting down; the file lock covers the 0x07FFFFFF bytes
//   below 0x7FFFFFFE; the header lock is 0x7FFFFFFE.
//
// A table may be shared with a program of any of them, whatever program
// made it, so kora takes the bytes of all three. The three record bytes of
// one record never meet for tables below a gigabyte and 73 million records;
// past that the FoxPro byte is left out (FoxPro cannot open such a table).
// kora's file lock is one range from the lowest of these bytes to the
// highest, which covers every dialect's record, header and file locks.
constexpr off_t kClipperBase = 1000000000;
constexpr off_t kFoxBase = 0x40000000;
constexpr off_t kVfpBase = 0x7FFFFFFE;
constexpr off_t kFileLockStart = kClipperBase;
constexpr off_t kFileLockLength = kVfpBase - kClipperBase + 1;
// Bytes that only a file lock covers in practice: inside the Clipper and
// FoxPro file locks (2,000,000,000) and the Visual FoxPro one (0x77FFFFFF),
// and a record's only in tables of over 900 MB (a one-byte lock, told apart).
constexpr off_t kFileLockProbes[] = {2000000000, 0x77FFFFFF};

// Open file description locks belong to the descriptor kora opened, not
// to the process: closing another descriptor of the same file (the memo,
// a backup copy, Append from the table itself) does not drop them, as it
// would drop a classic POSIX lock. They conflict with the classic locks
// other programs take through fcntl or lockf, which is what sharing needs.
#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
constexpr int kGetLock = F_OFD_GETLK;
#else
constexpr int kSetLock = F_SETLK;
constexpr int kGetLock = F_GETLK;
#endif

struct Range {
  off_t start = 0;
  off_t length = 0;
};

struct flock lock_request(short type, const Range& range) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = range.start;
  lock.l_len = range.length;
  lock.l_pid = 0;  // open file description locks require it
  return lock;
}

// A file system without byte-range locks (some network and user-space
// ones) cannot hold anybody's locks: there is nobody to wait for.
bool locks_unsupported(int error) { return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP; }

int set_lock(int fd, short type, const Range& range) {
  struct flock lock = lock_request(type, range);
  if (fcntl(fd, kSetLock, &lock) == 0) return 0;
  return locks_unsupported(errno) ? 0 : errno;
}

std::vector<Range> record_ranges(const Table& table, uint32_t q) {
  off_t number = off_t(q) + 1;
  std::vector<Range> ranges{{kClipperBase + number, 1}};
  uint64_t offset = uint64_t(table.header_size) + uint64_t(q) * table.record_size;
  if (offset < uint64_t(kVfpBase - kFoxBase - number)) ranges.push_back({kFoxBase + off_t(offset), 1});
  if (number < kVfpBase - kClipperBase - kClipperBase) ranges.push_back({kVfpBase - number, 1});
  return ranges;
}

std::vector<Range> append_ranges() { return {{kClipperBase, 1}, {kFoxBase, 1}, {kVfpBase, 1}}; }

bool is_append_byte(off_t at) { return at == kClipperBase || at == kFoxBase || at == kVfpBase; }

// Takes every range or none: 0, or the error with `blocked` the range that
// failed (EAGAIN or EACCES: another holds a lock on it).
int take_ranges(int fd, const std::vector<Range>& ranges, Range& blocked) {
  for (size_t k = 0; k < ranges.size(); ++k) {
    int error = set_lock(fd, F_WRLCK, ranges[k]);
    if (error == 0) continue;
    for (size_t j = 0; j < k; ++j) set_lock(fd, F_UNLCK, ranges[j]);
    blocked = ranges[k];
    return error;
  }
  return 0;
}

void release_ranges(int fd, const std::vector<Range>& ranges) {
  for (const Range& range : ranges) set_lock(fd, F_UNLCK, range);
}

// What holds a lock over `range`, seen from this descriptor.
LockKind lock_in_way(int fd, const Range& range, pid_t* holder) {
  struct flock lock = lock_request(F_WRLCK, range);
  if (fcntl(fd, kGetLock, &lock) != 0 || lock.l_type == F_UNLCK) return LockKind::kNone;
  if (holder) *holder = lock.l_pid > 0 ? lock.l_pid : 0;
  if (lock.l_len != 1) return LockKind::kFile;
  return is_append_byte(lock.l_start) ? LockKind::kAppend : LockKind::kRecord;
}

Status allow_change(Table& table) {
  if (table.fd < 0 || table.read_only) return Status::kReadOnly;
  HeldLocks& held = table.locks;
  if (held.change_allowed || !held.first_change) return Status::kOk;
  if (!held.first_change(table)) return Status::kReadOnly;
  held.change_allowed = true;
  return Status::kOk;
}

// Another program's pack or restructure may have put a new file in the
// table's place; what is written through the old descriptor would be lost.
bool still_named_file(const Table& table) {
  struct stat open_file, named;
  if (table.file_name.empty()) return true;
  return fstat(table.fd, &open_file) == 0 && stat(table.file_name.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

Status acquire(Table& table, const std::vector<Range>& ranges, LockConflict conflict) {
  // A lock released between the try and the look is simply tried again,
  // a few times: one taken and let go that fast is somebody's busy loop.
  constexpr int kQuietRetries = 100;
  for (int quiet = 0;;) {
    Range blocked;
    int error = take_ranges(table.fd, ranges, blocked);
    if (error == 0) {
      if (still_named_file(table)) return Status::kOk;
      release_ranges(table.fd, ranges);
      return Status::kReplaced;
    }
    // A descriptor open only for reading takes no write lock; nothing can
    // be written through it either, and the write says so itself.
    if (error == EBADF) return Status::kOk;
    if (error != EAGAIN && error != EACCES) return Status::kReadOnly;
    conflict.holder = 0;
    conflict.held = lock_in_way(table.fd, blocked, &conflict.holder);
    if (conflict.held == LockKind::kNone && ++quiet < kQuietRetries) continue;
    if (!table.locks.ask || !table.locks.ask(conflict)) return Status::kLocked;
  }
}

bool holds_record(const HeldLocks& held, uint32_t q) {
  return std::find(held.records.begin(), held.records.end(), q) != held.records.end();
}

}  // namespace

Status lock_record(Table& table, uint32_t q) {
  Status allowed = allow_change(table);
  if (allowed != Status::kOk) return allowed;
  HeldLocks& held = table.locks;
  if (held.file_depth == 0 && !holds_record(held, q)) {
    LockConflict conflict;
    conflict.wanted = LockKind::kRecord;
    conflict.record = q;
    Status status = acquire(table, record_ranges(table, q), conflict);
    if (status != Status::kOk) return status;
  }
  held.records.push_back(q);
  return Status::kOk;
}

void unlock_record(Table& table, uint32_t q) {
  HeldLocks& held = table.locks;
  auto at = std::find(held.records.begin(), held.records.end(), q);
  if (at == held.records.end()) return;
  held.records.erase(at);
  if (held.file_depth == 0 && !holds_record(held, q) && table.fd >= 0) release_ranges(table.fd, record_ranges(table, q));
}

Status lock_append(Table& table) {
  Status allowed = allow_change(table);
  if (allowed != Status::kOk) return allowed;
  HeldLocks& held = table.locks;
  if (held.file_depth == 0 && held.append_depth == 0) {
    LockConflict conflict;
    conflict.wanted = LockKind::kAppend;
    conflict.record = table.record_count;
    Status status = acquire(table, append_ranges(), conflict);
    if (status != Status::kOk) return status;
  }
  ++held.append_depth;
  return Status::kOk;
}

void unlock_append(Table& table) {
  HeldLocks& held = table.locks;
  if (held.append_depth == 0) return;
  if (--held.append_depth == 0 && held.file_depth == 0 && table.fd >= 0) release_ranges(table.fd, append_ranges());
}

Status lock_file(Table& table, const std::string& command) {
  Status allowed = allow_change(table);
  if (allowed != Status::kOk) return allowed;
  HeldLocks& held = table.locks;
  if (held.file_depth == 0) {
    LockConflict conflict;
    conflict.wanted = LockKind::kFile;
    conflict.command = command;
    Status status = acquire(table, {{kFileLockStart, kFileLockLength}}, conflict);
    if (status != Status::kOk) return status;
  }
  ++held.file_depth;
  return Status::kOk;
}

void unlock_file(Table& table) {
  HeldLocks& held = table.locks;
  if (held.file_depth == 0 || --held.file_depth > 0 || table.fd < 0) return;
  release_ranges(table.fd, {{kFileLockStart, kFileLockLength}});
  // The file lock's range swallowed the smaller locks held before it; they
  // are taken again, nobody could have had them in between.
  Range blocked;
  for (uint32_t q : held.records) take_ranges(table.fd, record_ranges(table, q), blocked);
  if (held.append_depth > 0) take_ranges(table.fd, append_ranges(), blocked);
}

LockKind foreign_file_lock(const Table& table, pid_t* holder) {
  if (table.fd < 0) return LockKind::kNone;
  for (off_t probe : kFileLockProbes) {
    if (lock_in_way(table.fd, {probe, 1}, holder) == LockKind::kFile) return LockKind::kFile;
  }
  return LockKind::kNone;
}

}  // namespace kora
