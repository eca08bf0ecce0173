// The record scanner: how every walk over many records reads them. It reads
// large chunks with one pread per run of neighbouring records, maps view
// positions through the table's RecordView in memory, applies the table's
// after-read encoding hook to each record it hands out, and calls the
// progress callback once per chunk (which may stop the walk). The table's
// own record buffer and the screen's current record are left alone.
//
// Walking the table's view in the order the screen shows it:
//
//   RecordScanner scan(table, ScanOrder::kView, progress);
//   ScannedRecord r;
//   while (scan.next(r)) {
//     // r.position: view position; r.record: physical record number;
//     // r.image: record_size bytes, deletion flag first, valid until the
//     // next call of next().
//     std::string name = field_text(table, RecordImage(r.image, table.record_size), name_field);
//   }
//   if (scan.status() != Status::kOk) ...  // kReadError, or kAborted when stopped
//
// set_backward() walks the same positions from the last to the first (a
// search upwards); progress then counts the positions from the end.
//
// A caller that has found what it looks for simply stops calling next().
// The table's file and view must not change while a scan is under way
// (records may be rewritten in place).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "table/dbf_file.h"
#include "table/status.h"

namespace kora {

// Bytes read per chunk, and how far apart two records of one chunk may lie
// in the file and still be read with one pread (the bytes between are read
// and skipped: cheaper than another call).
constexpr size_t kScanChunkBytes = 512 * 1024;
constexpr size_t kScanGapBytes = 32 * 1024;

// Which records a scan walks, in what order, and what its positions count.
enum class ScanOrder {
  kView,         // the view as shown: reverse, sort order, visible list
  kVisibleList,  // the visible list in file order (every record without one);
                 // positions are indices into the list
  kPhysical,     // every record in file order; positions are record numbers
};

struct ScannedRecord {
  uint32_t position = 0;  // in the scan's order
  uint32_t record = 0;    // physical record number
  const uint8_t* image = nullptr;
};

class RecordScanner {
 public:
  RecordScanner(const Table& table, ScanOrder order = ScanOrder::kView, ProgressCallback progress = {},
                size_t chunk_bytes = kScanChunkBytes);
  RecordScanner(const RecordScanner&) = delete;
  RecordScanner& operator=(const RecordScanner&) = delete;

  // Limits the walk to the positions first..end-1 (end is clamped to the
  // count); call before the first next().
  void set_range(uint32_t first, uint32_t end);
  // Walks the range from its last position down to its first; call before
  // the first next().
  void set_backward();
  // Hands out the records as stored, without the table's encoding hook
  // (a walk that writes them back as they were).
  void set_raw() { raw_ = true; }
  // Positions in the walk, as the progress callback's total counts them.
  uint32_t count() const { return end_ - first_; }

  // The next record; false at the end, after an error or when stopped.
  // Positions whose list entry names no record of the file are skipped.
  bool next(ScannedRecord& out);
  Status status() const { return status_; }

 private:
  struct Entry {
    uint32_t position;
    uint32_t record;
    size_t offset;  // of the image within the buffer
  };
  // A run of records read with one pread: records lo..hi at buffer offset `at`.
  struct Run {
    uint32_t lo;
    uint32_t hi;
    size_t at;
  };

  uint32_t map(uint32_t position) const;
  // The walk's cursor: whether positions remain, taking the next one, and
  // how many positions were taken.
  bool more() const { return backward_ ? next_position_ > first_ : next_position_ < end_; }
  uint32_t take() { return backward_ ? --next_position_ : next_position_++; }
  uint32_t taken() const { return backward_ ? end_ - next_position_ : next_position_ - first_; }
  bool load_chunk();
  bool read_run(const Run& run);

  // A sorted view visits the records out of file order: they are copied
  // from a read-only map of the file instead of one pread each.
  struct FileMap;
  struct Unmap {
    void operator()(FileMap* map) const;
  };
  std::unique_ptr<FileMap, Unmap> map_;

  const Table& table_;
  ScanOrder order_;
  ProgressCallback progress_;
  size_t record_size_;
  std::vector<uint8_t> buffer_;
  std::vector<Entry> entries_;
  size_t served_ = 0;  // entries of the chunk handed out
  uint32_t first_ = 0;
  uint32_t end_ = 0;
  uint32_t next_position_ = 0;  // forward: the next one; backward: one past it
  bool backward_ = false;
  bool raw_ = false;
  Status status_ = Status::kOk;
};

}  // namespace kora
