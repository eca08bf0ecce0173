#include "table/record_scanner.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "table/file_io.h"

namespace kora {

namespace {

uint32_t positions_in(const Table& table, ScanOrder order) {
  return order == ScanOrder::kPhysical ? table.record_count : view_record_count(table.view, table.record_count);
}

// Reads all `length` bytes at `offset`; false on an error or a short read.
bool read_fully(int fd, uint8_t* buffer, size_t length, uint64_t offset) {
  ssize_t got = file_read_at(fd, buffer, length, offset);
  return got >= 0 && size_t(got) == length;
}

// A file another program shortens under a map makes reading the lost pages
// a bus error; the copy then fails as a short read would, instead of ending
// the program.
// Volatile, with fences around the copy: the compiler must neither drop the
// store before the copy nor move the copy out from between the stores.
thread_local sigjmp_buf* volatile t_copy_fault = nullptr;

void on_bus_error(int signal_number) {
  if (t_copy_fault) siglongjmp(*t_copy_fault, 1);
  ::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

bool copy_mapped(uint8_t* to, const uint8_t* from, size_t length) {
  static const bool guarded = [] {
    struct sigaction action {};
    action.sa_handler = on_bus_error;
    action.sa_flags = SA_NODEFER;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, nullptr) == 0;
  }();
  if (!guarded) return false;
  sigjmp_buf here;
  if (sigsetjmp(here, 1) != 0) {
    t_copy_fault = nullptr;
    return false;
  }
  t_copy_fault = &here;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(to, from, length);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_copy_fault = nullptr;
  return true;
}

}  // namespace

struct RecordScanner::FileMap {
  const uint8_t* bytes = nullptr;
  size_t size = 0;
};

void RecordScanner::Unmap::operator()(FileMap* map) const {
  if (map->bytes) munmap(const_cast<uint8_t*>(map->bytes), map->size);
  delete map;
}

RecordScanner::RecordScanner(const Table& table, ScanOrder order, ProgressCallback progress, size_t chunk_bytes)
    : table_(table), order_(order), progress_(std::move(progress)), record_size_(table.record_size) {
  end_ = positions_in(table, order);
  if (table.fd < 0 || record_size_ == 0) {
    end_ = 0;
    status_ = Status::kReadError;
  }
  size_t per_chunk = std::max<size_t>(1, chunk_bytes / std::max<size_t>(1, record_size_));
  buffer_.reserve(std::min<size_t>(per_chunk, std::max<uint32_t>(1, end_)) * record_size_);
  // A sorted view of many records would cost a pread per record.
  if (order == ScanOrder::kView && table.view.sort_order && end_ > 0) {
    long long size = file_size(table.fd);
    void* bytes = size > 0 ? mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, table.fd, 0) : MAP_FAILED;
    if (bytes != MAP_FAILED) {
      madvise(bytes, size_t(size), MADV_WILLNEED);
      map_.reset(new FileMap{static_cast<const uint8_t*>(bytes), size_t(size)});
    }
  }
}

void RecordScanner::set_range(uint32_t first, uint32_t end) {
  end_ = std::min(end, positions_in(table_, order_));
  if (status_ != Status::kOk) end_ = 0;
  first_ = std::min(first, end_);
  next_position_ = backward_ ? end_ : first_;
}

void RecordScanner::set_backward() {
  backward_ = true;
  next_position_ = end_;
}

uint32_t RecordScanner::map(uint32_t position) const {
  const RecordView& view = table_.view;
  switch (order_) {
    case ScanOrder::kView:
      return view_record(view, table_.record_count, position, table_.view_mapping == 1);
    case ScanOrder::kVisibleList: {
      if (!view.visible_list) return position;
      uint32_t q = (*view.visible_list)[position];
      return q < table_.record_count ? q : kNoRecord;
    }
    case ScanOrder::kPhysical:
      break;
  }
  return position;
}

bool RecordScanner::read_run(const Run& run) {
  size_t length = size_t(run.hi - run.lo + 1) * record_size_;
  uint64_t offset = uint64_t(table_.header_size) + uint64_t(run.lo) * record_size_;
  if (map_) {
    if (offset + length > map_->size || !copy_mapped(buffer_.data() + run.at, map_->bytes + offset, length)) {
      status_ = Status::kReadError;
      return false;
    }
    return true;
  }
  if (!read_fully(table_.fd, buffer_.data() + run.at, length, offset)) {
    status_ = Status::kReadError;
    return false;
  }
  return true;
}

// Fills the buffer with the next positions' records. Records that lie close
// together in the file (in either direction, as a reversed view walks them)
// share one run; each run is one pread.
bool RecordScanner::load_chunk() {
  entries_.clear();
  served_ = 0;
  size_t capacity = buffer_.capacity();
  // From a map only neighbours share a run: a gap would be copied for nothing.
  uint64_t gap = map_ ? 1 : std::max<size_t>(1, kScanGapBytes / record_size_);
  Run run{0, 0, 0};
  bool open = false;
  size_t run_entries = 0;  // index of the run's first entry
  size_t used = 0;

  auto close_run = [&]() {
    size_t span = size_t(run.hi - run.lo + 1) * record_size_;
    if (buffer_.size() < run.at + span) buffer_.resize(run.at + span);
    if (!read_run(run)) return false;
    for (size_t k = run_entries; k < entries_.size(); ++k) {
      Entry& entry = entries_[k];
      entry.offset = run.at + size_t(entry.record - run.lo) * record_size_;
      if (table_.encoding.after_read && !raw_)
        table_.encoding.after_read(table_, buffer_.data() + entry.offset, 1, int(record_size_));
    }
    used = run.at + span;
    open = false;
    return true;
  };

  while (more()) {
    uint32_t position = backward_ ? next_position_ - 1 : next_position_;
    uint32_t q = map(position);
    if (q == kNoRecord) {
      take();
      continue;
    }
    bool joined = false;
    if (open && uint64_t(q) + gap >= run.lo && q <= uint64_t(run.hi) + gap) {
      uint32_t lo = std::min(run.lo, q), hi = std::max(run.hi, q);
      if (size_t(hi - lo + 1) * record_size_ <= capacity - run.at) {
        run.lo = lo;
        run.hi = hi;
        joined = true;
      }
    }
    if (!joined) {
      if (open && !close_run()) return false;
      if (used + record_size_ > capacity) break;
      run = Run{q, q, used};
      open = true;
      run_entries = entries_.size();
    }
    entries_.push_back(Entry{take(), q, 0});
  }
  if (open && !close_run()) return false;

  if (progress_ && !entries_.empty() && !progress_(taken(), count())) {
    entries_.clear();
    status_ = Status::kAborted;
    return false;
  }
  return true;
}

bool RecordScanner::next(ScannedRecord& out) {
  while (served_ == entries_.size()) {
    if (status_ != Status::kOk || !more()) return false;
    if (!load_chunk()) return false;
  }
  const Entry& entry = entries_[served_++];
  out.position = entry.position;
  out.record = entry.record;
  out.image = buffer_.data() + entry.offset;
  return true;
}

}  // namespace kora
