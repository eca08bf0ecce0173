#include "table/journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "table/byte_order.h"
#include "table/side_records.h"
#include "table/file_io.h"

namespace kora {

namespace {

constexpr char kHeadMagic[8] = {'K', 'O', 'R', 'A', 'J', 'R', 'N', 'L'};
constexpr char kSlotMagic[8] = {'K', 'O', 'R', 'A', 'S', 'L', 'O', 'T'};
constexpr size_t kHeadSize = 16;
constexpr size_t kSlotHeadSize = 24;
constexpr uint32_t kMaxSpan = 64u << 20;  // a bound on what a damaged journal may make us read

uint64_t checksum(const uint8_t* bytes, size_t length) { return fnv1a(bytes, length); }

std::vector<uint8_t> entry_payload(const JournalEntry& e) {
  std::vector<uint8_t> out;
  append_le32(out, uint32_t(e.op));
  append_le32(out, e.record);
  append_le32(out, e.count);
  append_le32(out, e.header_size);
  append_le32(out, e.record_size);
  append_le64(out, e.file_size);
  put_bytes(out, e.image.data(), e.image.size());
  append_le32(out, uint32_t(e.renames.size()));
  for (const auto& [from, to] : e.renames) {
    put_text(out, from);
    put_text(out, to);
  }
  return out;
}

bool parse_payload(const uint8_t* bytes, size_t length, JournalEntry& e) {
  SideRecordReader r{bytes, bytes + length};
  e.op = JournalOp(r.u32());
  e.record = r.u32();
  e.count = r.u32();
  e.header_size = r.u32();
  e.record_size = r.u32();
  e.file_size = r.u64();
  e.image = r.bytes();
  uint32_t renames = r.u32();
  e.renames.clear();
  for (uint32_t i = 0; r.ok && i < renames; ++i) {
    std::string from = r.text();
    std::string to = r.text();
    e.renames.emplace_back(from, to);
  }
  e.step = JournalStep(r.u32());
  e.step_offset = r.u64();
  e.step_bytes = r.bytes();
  return r.ok && r.at == r.end && e.op >= JournalOp::kInsert && e.op <= JournalOp::kRenames;
}

std::vector<uint8_t> slot_bytes(const std::vector<uint8_t>& entry, uint32_t sequence, JournalStep kind,
                                uint64_t offset, const uint8_t* bytes, size_t length) {
  std::vector<uint8_t> slot(kSlotHeadSize);
  slot.reserve(kSlotHeadSize + entry.size() + length + 16);
  slot.insert(slot.end(), entry.begin(), entry.end());
  append_le32(slot, uint32_t(kind));
  append_le64(slot, offset);
  put_bytes(slot, bytes, length);
  size_t payload = slot.size() - kSlotHeadSize;
  std::memcpy(slot.data(), kSlotMagic, 8);
  put_le32(slot.data() + 8, sequence);
  put_le32(slot.data() + 12, uint32_t(payload));
  put_le64(slot.data() + 16, checksum(slot.data() + kSlotHeadSize, payload));
  return slot;
}

// The slot at `offset` when it is whole: its sequence number, else 0.
uint32_t read_slot(int fd, uint64_t offset, uint32_t span, JournalEntry& entry) {
  uint8_t head[kSlotHeadSize];
  if (file_read_at(fd, head, kSlotHeadSize, offset) != ssize_t(kSlotHeadSize)) return 0;
  if (std::memcmp(head, kSlotMagic, 8) != 0) return 0;
  uint32_t length = get_le32(head + 12);
  if (length + kSlotHeadSize > span) return 0;
  std::vector<uint8_t> payload(length);
  if (file_read_at(fd, payload.data(), length, offset + kSlotHeadSize) != ssize_t(length)) return 0;
  if (checksum(payload.data(), length) != get_le64(head + 16)) return 0;
  if (!parse_payload(payload.data(), length, entry)) return 0;
  return get_le32(head + 8);
}

}  // namespace

std::string journal_path(const std::string& table_path) { return table_path + "-journal"; }

Journal::~Journal() {
  if (fd_ < 0) return;
  ::close(fd_);
  if (entry_.op == JournalOp::kRenames && last_ != JournalStep::kCommitted) file_unlink(path_);
}

Status Journal::begin(const std::string& table_path, const JournalEntry& entry, size_t step_capacity, bool sync) {
  entry_ = entry;
  last_ = entry.step;
  path_ = journal_path(table_path);
  std::vector<uint8_t> payload = entry_payload(entry);
  span_ = uint32_t(kSlotHeadSize + payload.size() + 16 + step_capacity);
  fd_ = file_open(path_, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd_ < 0) return Status::kWriteError;
  std::vector<uint8_t> bytes(kHeadSize);
  std::memcpy(bytes.data(), kHeadMagic, 8);
  put_le32(bytes.data() + 8, span_);
  put_le32(bytes.data() + 12, uint32_t(checksum(bytes.data(), 12)));
  sequence_ = 1;
  std::vector<uint8_t> slot = slot_bytes(payload, sequence_, entry.step, entry.step_offset, entry.step_bytes.data(),
                                         entry.step_bytes.size());
  bytes.insert(bytes.end(), slot.begin(), slot.end());
  // The journal is on disk before the first change to the table is.
  if (!file_write_at(fd_, bytes.data(), bytes.size(), 0) || (sync && !file_sync(fd_))) return Status::kWriteError;
  return Status::kOk;
}

Status Journal::step(JournalStep kind, uint64_t offset, const uint8_t* bytes, size_t length, bool sync) {
  if (fd_ < 0) return Status::kWriteError;
  ++sequence_;
  last_ = kind;
  std::vector<uint8_t> slot = slot_bytes(entry_payload(entry_), sequence_, kind, offset, bytes, length);
  if (slot.size() > span_) return Status::kWriteError;
  uint64_t at = kHeadSize + uint64_t((sequence_ - 1) % 2) * span_;
  return file_write_at(fd_, slot.data(), slot.size(), at) && (!sync || file_sync(fd_)) ? Status::kOk
                                                                                    : Status::kWriteError;
}

Status Journal::finish(int table_fd) {
  if (fd_ < 0) return Status::kWriteError;
  // The table's changes reach the disk before the journal that could redo them goes.
  if (table_fd >= 0 && !file_sync(table_fd)) return Status::kWriteError;
  ::close(fd_);
  fd_ = -1;
  return file_unlink(path_) ? Status::kOk : Status::kWriteError;
}

bool read_journal(const std::string& path, JournalEntry& entry) {
  int fd = file_open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t head[kHeadSize];
  bool ok = file_read_at(fd, head, kHeadSize, 0) == ssize_t(kHeadSize) && std::memcmp(head, kHeadMagic, 8) == 0 &&
            get_le32(head + 12) == uint32_t(checksum(head, 12));
  uint32_t span = ok ? get_le32(head + 8) : 0;
  uint32_t best = 0;
  if (ok && span <= kMaxSpan) {
    for (int slot = 0; slot < 2; ++slot) {
      JournalEntry candidate;
      uint32_t sequence = read_slot(fd, kHeadSize + uint64_t(slot) * span, span, candidate);
      if (sequence > best) {
        best = sequence;
        entry = std::move(candidate);
      }
    }
  }
  ::close(fd);
  return best > 0;
}

}  // namespace kora
