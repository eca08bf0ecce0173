// Moving records in place under a journal, and finishing on open what a
// journal says was interrupted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "table/byte_order.h"
#include "table/dbf_file.h"
#include "table/file_guards.h"
#include "table/file_io.h"
#include "table/journal.h"
#include "table/pending_file.h"

namespace kora {

namespace {

constexpr uint8_t kEndOfFile = 0x1A;
constexpr size_t kSwapNamesRoom = 32768;

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

struct Move {
  uint64_t from = 0, to = 0, length = 0;
};

// The move an insert or remove makes, from what it recorded before starting.
Move move_of(const JournalEntry& e) {
  uint64_t at = uint64_t(e.header_size) + uint64_t(e.record) * e.record_size;
  if (e.op == JournalOp::kInsert) {
    uint64_t length = uint64_t(e.count - e.record) * e.record_size;
    if (e.file_size > at + length) length += 1;  // the end-of-file byte moves too
    return {at, at + e.record_size, length};
  }
  return {at + e.record_size, at, uint64_t(e.count - e.record - 1) * e.record_size};
}

// The count in the header and the end mark after the last record.
bool write_count(int fd, const JournalEntry& e, uint32_t count) {
  uint8_t head[32];
  if (file_read_at(fd, head, 32, 0) != 32) return false;
  put_le32(head + 4, count);
  uint8_t end = kEndOfFile;
  return file_write_at(fd, head, 32, 0) &&
         file_write_at(fd, &end, 1, uint64_t(e.header_size) + uint64_t(count) * e.record_size);
}

// Redoes the chunk the journal last recorded, then moves what is left.
bool finish_move(int fd, const JournalEntry& e) {
  Move m = move_of(e);
  size_t chunk = std::max<size_t>(e.step_bytes.size(), 1 << 20);
  if (e.step == JournalStep::kMoved) return true;
  if (e.step == JournalStep::kBegun) return move_bytes(fd, m.from, m.to, m.length, chunk, nullptr) == Status::kOk;
  if (e.step_offset < m.to || e.step_offset + e.step_bytes.size() > m.to + m.length) return false;
  if (!file_write_at(fd, e.step_bytes.data(), e.step_bytes.size(), e.step_offset)) return false;
  uint64_t at = e.step_offset - m.to;
  if (m.to > m.from) return move_bytes(fd, m.from, m.to, at, chunk, nullptr) == Status::kOk;
  uint64_t done = at + e.step_bytes.size();
  return move_bytes(fd, m.from + done, m.to + done, m.length - done, chunk, nullptr) == Status::kOk;
}

bool finish_in_place(int fd, const JournalEntry& e, std::string& note) {
  char text[160];
  switch (e.op) {
    case JournalOp::kInsert:
      if (e.record > e.count || e.image.size() != e.record_size || !finish_move(fd, e)) return false;
      if (!file_write_at(fd, e.image.data(), e.image.size(), uint64_t(e.header_size) + uint64_t(e.record) * e.record_size))
        return false;
      if (!write_count(fd, e, e.count + 1)) return false;
      std::snprintf(text, sizeof text, "The insertion of record %u was interrupted; it has been finished.", e.record + 1);
      break;
    case JournalOp::kRemove:
      if (e.record >= e.count || !finish_move(fd, e)) return false;
      if (!file_truncate(fd, uint64_t(e.header_size) + uint64_t(e.count - 1) * e.record_size)) return false;
      if (!write_count(fd, e, e.count - 1)) return false;
      std::snprintf(text, sizeof text, "The removal of record %u was interrupted; it has been finished.", e.record + 1);
      break;
    case JournalOp::kTruncate:
      if (e.record > e.count || !file_truncate(fd, uint64_t(e.header_size) + uint64_t(e.record) * e.record_size))
        return false;
      if (!write_count(fd, e, e.record)) return false;
      std::snprintf(text, sizeof text, "Cutting the table to %u records was interrupted; it has been finished.",
                    e.record);
      break;
    case JournalOp::kAppend:
      if (e.image.size() < 32 || !file_truncate(fd, e.file_size)) return false;
      if (!file_write_at(fd, e.image.data(), 32, 0)) return false;
      if (!file_write_at(fd, e.image.data() + 32, e.image.size() - 32,
                         uint64_t(e.header_size) + uint64_t(e.count) * e.record_size))
        return false;
      std::snprintf(text, sizeof text, "Adding records was interrupted; the table has its %u records of before.",
                    e.count);
      break;
    default:
      return false;
  }
  note = text;
  return file_sync(fd);
}

bool finish_renames(const JournalEntry& e, std::string& note) {
  bool committed = e.step == JournalStep::kCommitted;
  for (const auto& [from, to] : e.renames) {
    if (!exists(from)) continue;
    if (committed ? !file_rename(from, to) : !file_unlink(from)) return false;
  }
  note = committed ? "Replacing the table with its rewritten copy was interrupted; it has been finished."
                   : "A rewrite of the table was interrupted; the table is as it was before it.";
  return true;
}

}  // namespace

Status move_bytes(int fd, uint64_t from, uint64_t to, uint64_t length, size_t chunk, Journal* journal) {
  std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(chunk, std::max<uint64_t>(length, 1))));
  auto one = [&](uint64_t at, size_t size) {
    if (file_read_at(fd, buffer.data(), size, from + at) != ssize_t(size)) return Status::kReadError;
    // Against power loss as well as a kill: the chunks written before are
    // on disk before the slot that may replace the one able to redo them,
    // and the slot is on disk before the chunk overwrites what it saves.
    if (journal) {
      if (!file_sync(fd)) return Status::kWriteError;
      if (Status s = journal->step(JournalStep::kChunk, to + at, buffer.data(), size, true); s != Status::kOk) return s;
    }
    return file_write_at(fd, buffer.data(), size, to + at) ? Status::kOk : Status::kWriteError;
  };
  if (to > from) {
    for (uint64_t end = length; end > 0;) {
      size_t size = size_t(std::min<uint64_t>(end, chunk));
      if (Status s = one(end - size, size); s != Status::kOk) return s;
      end -= size;
    }
  } else {
    for (uint64_t at = 0; at < length; at += chunk) {
      if (Status s = one(at, size_t(std::min<uint64_t>(length - at, chunk))); s != Status::kOk) return s;
    }
  }
  if (journal && !file_sync(fd)) return Status::kWriteError;
  if (journal) return journal->step(JournalStep::kMoved, 0, nullptr, 0, true);
  return Status::kOk;
}

Status begin_file_swap(Journal& journal, const std::string& table_path, const std::vector<SwapFile>& files) {
  std::vector<std::string> names;
  for (const SwapFile& f : files) names.push_back(PendingFile::fresh_name(f.target));
  Status named = Status::kOk;
  if (journal.active()) {
    for (size_t i = 0; i < files.size(); ++i) journal.entry().renames.emplace_back(names[i], files[i].target);
    named = journal.step(JournalStep::kBegun, 0, nullptr, 0);
  } else {
    JournalEntry entry;
    entry.op = JournalOp::kRenames;
    for (size_t i = 0; i < files.size(); ++i) entry.renames.emplace_back(names[i], files[i].target);
    // Room in the slots for the names of files added later.
    named = journal.begin(table_path, entry, kSwapNamesRoom);
  }
  if (named != Status::kOk) return named;
  for (size_t i = 0; i < files.size(); ++i) {
    if (Status s = files[i].file->open_as(files[i].target, names[i], files[i].mode); s != Status::kOk) return s;
  }
  return Status::kOk;
}

Status commit_file_swap(Journal& journal, const std::vector<PendingFile*>& files) {
  for (PendingFile* file : files) {
    if (file->fd() >= 0) {
      if (Status s = file->flush(); s != Status::kOk) return s;
    }
  }
  if (Status s = journal.step(JournalStep::kCommitted, 0, nullptr, 0); s != Status::kOk) return s;
  for (PendingFile* file : files) {
    if (Status s = file->commit(Placement::kReplace); s != Status::kOk) {
      for (PendingFile* left : files) left->keep();
      return s;
    }
  }
  return journal.finish(-1);
}

Status begin_append(Journal& journal, const Table& table, bool sync) {
  JournalEntry entry;
  entry.op = JournalOp::kAppend;
  entry.count = table.record_count;
  entry.header_size = table.header_size;
  entry.record_size = table.record_size;
  long long size = file_size(table.fd);
  uint64_t records_end = uint64_t(table.header_size) + uint64_t(table.record_count) * table.record_size;
  uint64_t tail = size > 0 && uint64_t(size) > records_end ? std::min<uint64_t>(uint64_t(size) - records_end, 65536) : 0;
  entry.image.resize(32 + tail);
  if (size < 0 || file_read_at(table.fd, entry.image.data(), 32, 0) != 32 ||
      file_read_at(table.fd, entry.image.data() + 32, tail, records_end) != ssize_t(tail))
    return Status::kReadError;
  entry.file_size = uint64_t(size);
  return journal.begin(table.file_name, entry, 0, sync);
}

Status commit_renames(const std::string& table_path, const std::vector<std::pair<std::string, std::string>>& renames) {
  Journal journal;
  JournalEntry entry;
  entry.op = JournalOp::kRenames;
  entry.step = JournalStep::kCommitted;
  entry.renames = renames;
  if (Status s = journal.begin(table_path, entry, 0); s != Status::kOk) return s;
  for (const auto& [from, to] : renames) {
    if (!file_rename(from, to)) return Status::kWriteError;
  }
  return journal.finish(-1);
}

Status recover_table(const std::string& table_path, bool may_write, std::string& note) {
  note.clear();
  std::string path = journal_path(table_path);
  if (!exists(path)) return Status::kOk;
  JournalEntry entry;
  if (!read_journal(path, entry)) {
    // Cut short while it was made: nothing of the operation reached the table.
    if (may_write) file_unlink(path);
    return Status::kOk;
  }
  // A rewrite that never reached its renames left the table as it was.
  bool harmless = entry.op == JournalOp::kRenames && entry.step != JournalStep::kCommitted;
  if (!may_write) return harmless ? Status::kOk : Status::kInterrupted;
  bool done = false;
  if (entry.op == JournalOp::kRenames) {
    done = finish_renames(entry, note);
  } else {
    UniqueFd fd(file_open(table_path, O_RDWR | O_CLOEXEC));
    done = fd.fd >= 0 && finish_in_place(fd.fd, entry, note);
  }
  if (!done) {
    note.clear();
    return Status::kInterrupted;
  }
  file_unlink(path);
  return Status::kOk;
}

}  // namespace kora
