// The journal kept beside a table while an operation changes it, so that a
// process killed at any moment leaves a table that the next open finishes
// or rolls back: never a mix of old and new records, never a lost one.
//
// The journal is named after the table with "-journal" appended (people.dbf
// -> people.dbf-journal), a name no backup, memo or header file takes. It
// holds a 16-byte head and two slots written in turn; each slot carries the
// whole description of the operation and of its latest step, a sequence
// number and a checksum, so a slot cut short by the kill is ignored and the
// other one is used:
//
//   head:  "KORAJRNL" | slot span u32 | checksum of the first 12 bytes u32
//   slot:  "KORASLOT" | sequence u32 | payload length u32 | checksum u64
//          | payload: operation, counts and sizes, record image, renames,
//            step kind, step offset, step bytes
//
// Operations and what an open does with them:
//   insert, remove  records moved in place: the step holds the chunk about
//                   to be written and where; the open writes it again and
//                   finishes the move, the new record and the header.
//   truncate        the open cuts the file to the new count and writes the header.
//   append          the open cuts the file back to its old size and puts
//                   the old header and end mark back (appended memos stay
//                   in the memo file, unreferenced).
//   renames         new files made beside the table under temporary names:
//                   "building" removes them, "committed" finishes the renames.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "table/status.h"

namespace kora {

enum class JournalOp : uint32_t { kInsert = 1, kRemove = 2, kTruncate = 3, kAppend = 4, kRenames = 5 };

enum class JournalStep : uint32_t {
  kBegun = 0,      // nothing of the operation has reached the table yet
  kChunk = 1,      // the step's bytes are being written at its offset
  kMoved = 2,      // the move is done; what remains is the record and header
  kCommitted = 3,  // renames: every new file is whole
};

struct JournalEntry {
  JournalOp op = JournalOp::kTruncate;
  uint32_t record = 0;   // insert, remove: the record; truncate: the new count
  uint32_t count = 0;    // the record count before the operation
  uint32_t header_size = 0;
  uint32_t record_size = 0;
  uint64_t file_size = 0;       // the table's size before the operation
  std::vector<uint8_t> image;   // insert: the new record as stored; append: the old header's
                                // 32 bytes, then the bytes that followed the records
  std::vector<std::pair<std::string, std::string>> renames;  // temporary name, final name
  JournalStep step = JournalStep::kBegun;
  uint64_t step_offset = 0;
  std::vector<uint8_t> step_bytes;
};

std::string journal_path(const std::string& table_path);

// An open journal; removed by finish(), left on disk by everything else
// (which is the point: an operation that stops midway leaves it behind),
// except new files not yet committed: their journal goes with them.
class Journal {
 public:
  Journal() = default;
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Creates the journal for `entry` with room for steps of `step_capacity`
  // bytes; flushed to disk unless `sync` is false (a kill loses no written
  // page; only a power cut would).
  Status begin(const std::string& table_path, const JournalEntry& entry, size_t step_capacity, bool sync = true);
  // Records the next step in the other slot.
  // With `sync` the slot is flushed to disk before this returns.
  Status step(JournalStep kind, uint64_t offset, const uint8_t* bytes, size_t length, bool sync = false);
  // Renames added to the entry, recorded with the next step.
  JournalEntry& entry() { return entry_; }
  // Flushes the table (fd) and removes the journal: the operation is over.
  Status finish(int table_fd);
  bool active() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
  JournalEntry entry_;
  uint32_t span_ = 0;
  uint32_t sequence_ = 0;
  JournalStep last_ = JournalStep::kBegun;
};

// Moves `length` bytes at `from` to `to` in chunks of `chunk` bytes, so
// that no byte is overwritten before it is copied (from the end when moving
// up, from the front when moving down). With a journal each chunk is
// recorded in it before it is written.
Status move_bytes(int fd, uint64_t from, uint64_t to, uint64_t length, size_t chunk, Journal* journal);

// New files made beside a table under temporary names (PendingFile) and put
// in place together: the journal names them before they are filled, so that
// an open after a kill removes them while they may be unfinished and
// finishes the renames once they are whole. The files are placed in the
// order given.
class PendingFile;
struct SwapFile {
  PendingFile* file;
  std::string target;
  const mode_t* mode = nullptr;
};
// Opens the files after naming them in the journal; a later call adds more.
Status begin_file_swap(Journal& journal, const std::string& table_path, const std::vector<SwapFile>& files);
Status commit_file_swap(Journal& journal, const std::vector<PendingFile*>& files);

// The journal of records about to be added after the table's last: the old
// header and size, and the bytes after the records that the new ones cover.
struct Table;
Status begin_append(Journal& journal, const Table& table, bool sync);

// Files already whole renamed into place (temporary name, final name) under
// a committed journal, so that a kill between two renames is finished by
// the next open of the table.
Status commit_renames(const std::string& table_path, const std::vector<std::pair<std::string, std::string>>& renames);

// Reads the journal's latest whole slot; false when there is none to use.
bool read_journal(const std::string& path, JournalEntry& entry);

// Finishes or rolls back what a journal beside the table says was
// interrupted. `note` says what was done, for the user; empty when there
// was no journal. When the table may not be written, nothing is touched and
// a journal that matters makes the answer kInterrupted.
Status recover_table(const std::string& table_path, bool may_write, std::string& note);

}  // namespace kora
