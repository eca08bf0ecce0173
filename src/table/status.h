// What the engine and the data tools answer when they fail, and how a long
// walk reports how far it has come. The engine names the cause; the program
// turns it into the user's text and draws its progress box from the calls.
#pragma once

#include <cstdint>
#include <functional>

namespace kora {

enum class Status {
  kOk,
  // The file could not be opened at all.
  kNotFound,
  kNoPermission,
  kCannotOpen,
  // The file opens but is not a table, and why.
  kNotATable,       // the bytes are no table's (a detail names the first that is not)
  kShortHeader,     // shorter than the 32-byte header
  kBadHeaderSize,   // a header too small for its field list
  kNoDescriptors,   // no field descriptor follows the header
  kBadFieldTypes,   // more unknown field types than known ones
  kRecordTooLong,   // the fields add up to more than a record may hold
  kRecordSizeMismatch,  // the header's record size is not what the fields add up to
  kHeaderSizeMismatch,  // the header size fits neither the data nor where the field list ends
  // Other failures.
  kListFull,        // as many tables open as the list holds
  kReadOnly,        // the table could only be opened for reading
  kReadError,       // a read failed or came up short
  kWriteError,      // a write failed or came up short (disk full among them)
  kTooManyRecords,  // the record count would pass its 32-bit limit
  kOutOfMemory,
  kAborted,         // the progress callback asked to stop
  kFileExists,       // a new file would replace one that exists
  kFileInUse,        // the file is a table or memo file open in kora
  kInvalidStructure,  // a list of fields no table may have (see check_structure)
  kNotStructureTable,  // a structure table lacks FIELD_NAME, FIELD_TYPE, FIELD_LEN or FIELD_DEC
  kNoCommonField,   // records copied by field name between tables that share no name
  kInterrupted,     // a change the table's journal records cannot be finished here
  kOtherColumns,    // rows added to a database table whose columns are not the export's
  kNotInCodePage,   // a text holds a character the code page it is written in cannot
  kLocked,          // another program holds a lock on what was to be changed
  kReplaced,        // another program put a new file in the table's place
};

// Why a file failed to open, from the errno of the failed open().
Status status_from_open_errno(int error_number);

// Called once per chunk of a long walk with the units done so far and the
// total; returning false asks the walk to stop, which then ends kAborted.
using ProgressCallback = std::function<bool(uint64_t done, uint64_t total)>;

}  // namespace kora
