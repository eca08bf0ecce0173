// The batch appender: how every run that adds many records to a table writes
// them (append-from, export to a table, restructure). Records are gathered
// and written with one pwrite per chunk; the memo file stays open for the
// run; the header, the end-of-file mark and the view lists are brought up to
// date once, when the run finishes. A run that fails or is left early
// (the appender goes out of scope) finishes too, so the header counts
// exactly the records that are whole on disk and the end mark follows them.
//
//   BatchAppender out(table);
//   while (more) {
//     std::vector<uint8_t>& image = ...;  // record_size bytes, deletion flag first
//     out.write_memo(image.data(), notes_field, text);  // memo fields, if any
//     if (out.append(image.data()) != Status::kOk) break;
//   }
//   Status status = out.finish();  // kOk, kReadOnly, kWriteError, kTooManyRecords
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "table/dbf_file.h"
#include "table/journal.h"
#include "table/memo_file.h"
#include "table/status.h"

namespace kora {

constexpr size_t kAppendChunkBytes = 512 * 1024;

class BatchAppender {
 public:
  // A journaled run (table/journal.h) is undone whole by the next open when
  // it is cut short; a new table not yet in its place needs none.
  explicit BatchAppender(Table& table, size_t chunk_bytes = kAppendChunkBytes, bool journaled = true);
  ~BatchAppender();
  BatchAppender(const BatchAppender&) = delete;
  BatchAppender& operator=(const BatchAppender&) = delete;

  // Adds one record image of record_size bytes; the image itself is not
  // changed (the before-write encoding hook works on the copy written).
  Status append(const uint8_t* image);
  // Appends the text to the memo file and stores its block number in field i
  // of the image, which is then appended as usual.
  Status write_memo(uint8_t* image, int i, std::string_view text);
  // Writes what is gathered, the header and the end mark, and makes the new
  // records the last ones of the table's view; the run's first failure, or
  // kOk. Later calls only answer it again.
  Status finish();

  Status status() const { return status_; }
  // Records added so far, written or still gathered.
  uint32_t appended() const { return written_ + pending_; }

 private:
  bool flush();
  bool start_journal();

  Table& table_;
  uint32_t first_;         // the table's record count when the run began
  uint32_t written_ = 0;   // records whole on disk
  uint32_t pending_ = 0;   // records gathered in the buffer
  size_t capacity_;        // records per chunk
  std::vector<uint8_t> buffer_;
  std::unique_ptr<MemoWriter> memo_;
  Status status_ = Status::kOk;
  bool finished_ = false;
  bool journaled_;
  Journal journal_;
};

}  // namespace kora
