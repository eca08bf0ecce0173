// The undo history of a table: every change kora makes to a table and its
// memo file, kept as what it overwrote, so that it can be taken back and
// made again, back to the table's opening.
//
// A change is a step, made while an UndoStep is in scope. The file calls
// (table/file_io.h) tell the log of every write, cut and rename about to
// reach the table or its memo file; before it happens the log keeps
//   - an image: the bytes a write overwrites or a cut removes, and the
//     file's size before it; of a write within the file that changes only
//     some of its bytes, just the runs that differ;
//   - a kept file: a file about to be replaced by a rename (pack, a new
//     structure, a new encoding) stays under a second name, no copy made;
//   - a shift: a record added or removed in the middle, kept as that
//     record rather than as the bytes the move shifts.
// The log is a file beside the table named like its journal ("-undo"), with
// the kept files named after it ("-undo.3"); all go when the table closes.
//
// Undo applies a step's parts backwards; what it overwrites becomes the
// step that redoes it. Before the first write the log says which step is
// being applied and is flushed, so that an open after a kill finishes the
// undo (the journal finishing a shift first): the table is then as it was
// before the step, never between.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "table/status.h"

namespace kora {

struct Table;
class UndoLog;

constexpr uint64_t kDefaultUndoCap = 1ull << 30;

std::string undo_log_path(const std::string& table_path);

// The changes made to `table` while it is in scope are one step named
// `name` ("Replace"). A step begun inside another that has already changed
// something is part of that one. Unrecorded, the step clears the history
// instead: what it changes cannot be undone, nor anything before it. A step
// that grows the log past `cap` bytes is dropped with the history.
class UndoStep {
 public:
  UndoStep(Table& table, std::string name, uint64_t cap = kDefaultUndoCap, bool recorded = true);
  ~UndoStep();
  UndoStep(const UndoStep&) = delete;
  UndoStep& operator=(const UndoStep&) = delete;

 private:
  bool own_ = false;
  void* outer_ = nullptr;
};

enum class UndoOutcome {
  kDone,
  kNothing,          // no step to take back (or to make again)
  kChangedOutside,   // the files differ from what kora last wrote
  kTooLarge,         // the last change was larger than the cap
  kFailed,           // a read or write failed; the open will finish it
};

// Takes back the table's last step (or makes the last one taken back
// again); `text` is the step's name, or the reason when refused. The table's
// record count and header are read again; a table whose file was replaced
// is opened again, and the program should read its structure anew.
UndoOutcome undo_change(Table& table, std::string& text);
UndoOutcome redo_change(Table& table, std::string& text);
bool can_undo(const Table& table);
bool can_redo(const Table& table);
// Whether a change of about `bytes` fits under the cap with the history.
bool undo_fits(const Table& table, uint64_t bytes, uint64_t cap);
// The bytes the history takes in its log.
uint64_t undo_log_size(const Table& table);

// Removes the log and the kept files: the table is closed.
void drop_undo_history(Table& table);
// The history goes with the table to `to`, the same file opened again.
void move_undo_history(Table& from, Table& to);

// On opening a table: a log no session holds is left from a kill. An undo
// it says was under way is finished; then the log and its kept files go.
// `note` says what was done. Without write access an unfinished undo makes
// the answer kInterrupted.
Status recover_undo(const std::string& table_path, bool may_write, std::string& note);

// A record added (insert) or removed at physical q, moved by the caller
// between construction and done(): the history keeps it as one shift.
// `image` is the added record as stored.
class UndoShift {
 public:
  UndoShift(Table& table, bool insert, uint32_t q);
  ~UndoShift();
  UndoShift(const UndoShift&) = delete;
  UndoShift& operator=(const UndoShift&) = delete;
  int done(int ok, const std::vector<uint8_t>& image);

 private:
  Table& table_;
  bool insert_;
  uint32_t q_;
  bool watched_ = false;
  uint32_t count_ = 0;
  uint64_t size_ = 0;
  std::vector<uint8_t> header_;
  std::vector<uint8_t> removed_;
};

}  // namespace kora
