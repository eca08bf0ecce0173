// The byte-range locks xBase programs take on a shared table, so that kora
// and they (and two kora processes) never write the same record at once.
//
// A lock is advisory: it lies on bytes far past the end of any real table,
// so nobody's reads are blocked, and a program that takes no locks is not
// stopped by them. kora takes, at once, the lock bytes of the three dialects
// a table may be shared with (the offsets and why are in table_locks.cpp):
// a record lock while a record is being edited or written, an append lock
// while a record is added at the end, and a file lock for a change of the
// whole table. A lock that cannot be had is a question for the program
// (Table::locks.ask): retry or give up, and then nothing is written.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "table/status.h"

namespace kora {

struct Table;

enum class LockKind { kNone, kRecord, kAppend, kFile };

// A lock kora wanted and could not have, and what stands in its way.
struct LockConflict {
  LockKind wanted = LockKind::kNone;
  uint32_t record = 0;   // physical record number (0-based) of a record lock
  std::string command;   // the whole-table change a file lock was for
  LockKind held = LockKind::kNone;  // the kind of the lock in the way, as far as it shows
  pid_t holder = 0;      // its process when known (another program's lock), else 0
};

// Asked when a lock cannot be had: true to try again, false to give up.
using LockAsker = std::function<bool(const LockConflict&)>;
// Asked once, before the first change of a session: false refuses it.
using ChangeAsker = std::function<bool(Table&)>;

// What a table holds and whom it asks; kept in the Table.
struct HeldLocks {
  int file_depth = 0;   // nested whole-table changes under one file lock
  int append_depth = 0;
  std::vector<uint32_t> records;  // record locks held, one entry per taker
  LockAsker ask;
  ChangeAsker first_change;
  bool change_allowed = false;  // the first-change question was answered yes
};

// The locks; kOk, kLocked when another holds one in the way and the asker
// (if any) gave up, kReadOnly when the first change was refused. A lock
// already held by this table is taken again at no cost and released by
// its last holder; under the file lock every other lock is held already.
Status lock_record(Table& table, uint32_t q);
void unlock_record(Table& table, uint32_t q);
Status lock_append(Table& table);
void unlock_append(Table& table);
Status lock_file(Table& table, const std::string& command);
void unlock_file(Table& table);

// The lock a whole-table change of another program holds on the file, as
// seen without taking it: kFile, or kNone when there is none.
LockKind foreign_file_lock(const Table& table, pid_t* holder = nullptr);

// Holds a lock for a scope; ok() says whether it was had.
class RecordLock {
 public:
  RecordLock(Table& table, uint32_t q) : table_(table), q_(q), status_(lock_record(table, q)) {}
  ~RecordLock() {
    if (ok()) unlock_record(table_, q_);
  }
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;
  bool ok() const { return status_ == Status::kOk; }
  Status status() const { return status_; }

 private:
  Table& table_;
  uint32_t q_;
  Status status_;
};

class AppendLock {
 public:
  explicit AppendLock(Table& table) : table_(table), status_(lock_append(table)) {}
  ~AppendLock() {
    if (ok()) unlock_append(table_);
  }
  AppendLock(const AppendLock&) = delete;
  AppendLock& operator=(const AppendLock&) = delete;
  bool ok() const { return status_ == Status::kOk; }
  Status status() const { return status_; }

 private:
  Table& table_;
  Status status_;
};

class FileLock {
 public:
  FileLock(Table& table, const std::string& command) : table_(table), status_(lock_file(table, command)) {}
  ~FileLock() {
    if (ok()) unlock_file(table_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool ok() const { return status_ == Status::kOk; }
  Status status() const { return status_; }

 private:
  Table& table_;
  Status status_;
};

}  // namespace kora
