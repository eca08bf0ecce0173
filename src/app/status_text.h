// The user's texts for what the engine and the tools report, and the
// progress box driven by their progress calls.
#pragma once

#include <cstdint>
#include <string>

#include "table/dbf_file.h"
#include "table/status.h"

namespace kora {

// The cause in the user's words; empty for kOk and for a failure to open
// whose cause the system did not tell.
const char* status_cause_text(Status status);

// The cause and its detail in one line ("Not a table: byte 0 holds 0x74");
// empty when neither is known.
std::string failure_text(const OpenFailure& failure);

// "Cannot open file", with the cause after a colon on the same line when it
// is known.
std::string open_failure_text(const OpenFailure& failure);
std::string open_failure_text(Status status);

// The progress box for one long walk: opened with its total, moved by the
// walk's progress calls, closed (the screen restored) when it goes out of
// scope. A stoppable box asks the walk to stop when the user presses Esc
// (keys typed before it opened wait for the next command); others never do.
enum class Stop { kNever, kOnEscape };

class ProgressScope {
 public:
  explicit ProgressScope(uint64_t total, Stop stop = Stop::kNever);
  ~ProgressScope();
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

  ProgressCallback callback() const;

 private:
  Stop stop_;
};

}  // namespace kora
