#include "table/batch_appender.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "table/file_io.h"
#include "table/record_ops.h"

namespace kora {

namespace {

// Writes as much of the bytes as the file takes; the number written, which
// after a failure is what the file's size says reached it.
size_t write_some(int fd, const uint8_t* bytes, size_t length, uint64_t offset) {
  if (file_write_at(fd, bytes, length, offset)) return length;
  long long size = file_size(fd);
  if (size < 0 || uint64_t(size) <= offset) return 0;
  return size_t(std::min<uint64_t>(length, uint64_t(size) - offset));
}

}  // namespace

BatchAppender::BatchAppender(Table& table, size_t chunk_bytes, bool journaled)
    : table_(table), first_(table.record_count), journaled_(journaled) {
  capacity_ = std::max<size_t>(1, chunk_bytes / std::max<size_t>(1, table.record_size));
  if (table.fd < 0 || table.record_size == 0) status_ = Status::kWriteError;
  if (table.read_only) status_ = Status::kReadOnly;
}

BatchAppender::~BatchAppender() { finish(); }

Status BatchAppender::append(const uint8_t* image) {
  if (finished_ && status_ == Status::kOk) return Status::kAborted;
  if (status_ != Status::kOk) return status_;
  if (uint64_t(first_) + appended() + 1 >= kNoRecord) {
    status_ = Status::kTooManyRecords;
    return status_;
  }
  size_t size = table_.record_size;
  if (buffer_.empty()) buffer_.resize(capacity_ * size);
  uint8_t* slot = buffer_.data() + pending_ * size;
  std::memcpy(slot, image, size);
  if (table_.encoding.before_write) table_.encoding.before_write(table_, slot, int(size));
  if (++pending_ == capacity_) flush();
  return status_;
}

Status BatchAppender::write_memo(uint8_t* image, int i, std::string_view text) {
  if (finished_ && status_ == Status::kOk) return Status::kAborted;
  if (status_ != Status::kOk || text.empty()) return status_;
  if (!memo_) {
    backup_if_due(table_);
    if (!start_journal()) return status_;
    memo_ = std::make_unique<MemoWriter>(table_);
  }
  if (!memo_->write(image, i, text)) status_ = Status::kWriteError;
  return status_;
}

// Before the first byte of the run reaches the table or its memo file: the
// old header and size, which the next open puts back if the run is cut short.
bool BatchAppender::start_journal() {
  if (!journaled_ || journal_.active()) return true;
  if (begin_append(journal_, table_, true) == Status::kOk) return true;
  status_ = Status::kWriteError;
  return false;
}

// Writes the gathered records; after a failure the records that reached the
// disk whole still count.
bool BatchAppender::flush() {
  if (pending_ == 0) return true;
  backup_if_due(table_);
  if (!start_journal()) return false;
  size_t size = table_.record_size;
  size_t length = size_t(pending_) * size;
  uint64_t offset = uint64_t(table_.header_size) + uint64_t(first_ + written_) * size;
  size_t done = write_some(table_.fd, buffer_.data(), length, offset);
  written_ += uint32_t(done / size);
  pending_ = 0;
  if (done == length) return true;
  status_ = Status::kWriteError;
  return false;
}

Status BatchAppender::finish() {
  if (finished_) return status_;
  finished_ = true;
  memo_.reset();
  if (status_ == Status::kReadOnly) return status_;
  bool failed = status_ != Status::kOk;
  flush();
  failed = failed || status_ != Status::kOk;
  if (written_ == 0 && !failed) {
    // Memos alone were written: the table itself never changed.
    if (journal_.active() && journal_.finish(-1) != Status::kOk) status_ = Status::kWriteError;
    return status_;
  }

  // A failed chunk may have left part of a record behind the last whole one.
  uint32_t count = first_ + written_;
  uint64_t end = uint64_t(table_.header_size) + uint64_t(count) * table_.record_size;
  if (!file_truncate(table_.fd, end) && status_ == Status::kOk) status_ = Status::kWriteError;
  table_.record_count = count;
  if (!write_header(table_) && status_ == Status::kOk) status_ = Status::kWriteError;
  if (journal_.active() && journal_.finish(table_.fd) != Status::kOk && status_ == Status::kOk)
    status_ = Status::kWriteError;
  extend_view_for_appends(table_.view, first_, count);
  return status_;
}

}  // namespace kora
