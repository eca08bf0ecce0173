#include "app/status_text.h"

#include "app/main_loop.h"
#include "ui/keys.h"

namespace kora {

namespace {

struct StatusText {
  Status status;
  const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {Status::kOk, ""},
    {Status::kNotFound, "No such file"},
    {Status::kNoPermission, "Permission denied"},
    {Status::kCannotOpen, ""},
    {Status::kNotATable, "Not a table"},
    {Status::kShortHeader, "The file is shorter than a table header"},
    {Status::kBadHeaderSize, "The header is too small for the field list"},
    {Status::kNoDescriptors, "No field descriptors follow the header"},
    {Status::kBadFieldTypes, "Most field types are unknown"},
    {Status::kRecordTooLong, "A record would be longer than 65535 bytes"},
    {Status::kRecordSizeMismatch, "The record size disagrees with the fields"},
    {Status::kHeaderSizeMismatch, "The header size disagrees with the field list"},
    {Status::kListFull, "100 tables are open already"},
    {Status::kReadOnly, "The table is read-only"},
    {Status::kReadError, "Read error"},
    {Status::kWriteError, "Write error"},
    {Status::kTooManyRecords, "Too many records"},
    {Status::kOutOfMemory, "Not enough memory"},
    {Status::kAborted, "Stopped"},
    {Status::kFileExists, "The file exists already"},
    {Status::kFileInUse, "The file is open in kora"},
    {Status::kInvalidStructure, "The structure is not valid"},
    {Status::kNoCommonField, "The tables have no field name in common"},
    {Status::kNotStructureTable, "Incorrect structure of the DBF file."},
    {Status::kInterrupted, "A change to the table was interrupted; open it with write access to finish it"},
    {Status::kOtherColumns, "The table in the database has other columns"},
    {Status::kNotInCodePage, "A text holds a character its code page cannot"},
    {Status::kLocked, "Another program holds a lock on the table"},
    {Status::kReplaced, "Another program replaced the table; it is read again"},
};

constexpr const char* kCannotOpenFile = "Cannot open file";

}  // namespace

const char* status_cause_text(Status status) {
  for (const StatusText& entry : kStatusTexts) {
    if (entry.status == status) return entry.text;
  }
  return "";
}

std::string failure_text(const OpenFailure& failure) {
  std::string text = status_cause_text(failure.status);
  if (!failure.detail.empty()) {
    if (!text.empty()) text += ": ";
    text += failure.detail;
  }
  return text;
}

std::string open_failure_text(const OpenFailure& failure) {
  std::string text = kCannotOpenFile;
  std::string cause = failure_text(failure);
  if (!cause.empty()) text.append(": ").append(cause);
  return text;
}

std::string open_failure_text(Status status) { return open_failure_text(OpenFailure{status, {}}); }

ProgressScope::ProgressScope(uint64_t total, Stop stop) : stop_(stop) {
  if (stop_ == Stop::kOnEscape) hold_typed_keys();
  progress_open(long(total));
}

ProgressScope::~ProgressScope() { progress_close(); }

ProgressCallback ProgressScope::callback() const {
  bool stoppable = stop_ == Stop::kOnEscape;
  return [stoppable](uint64_t done, uint64_t total) {
    progress_show(long(done), long(total));
    return !stoppable || !escape_pressed();
  };
}

}  // namespace kora
