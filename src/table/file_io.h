// The one way the engine and the data tools touch files: every read, write,
// cut, flush, rename, creation and removal of a table, memo or side file goes
// through these calls. Keeping the surface this small lets a test stand
// between the program and the disk: a fault plan counts the calls and makes
// one fail, or refuses every change after the k-th, which is what the disk
// sees when the process is killed at that moment.
//
// Without a plan each call costs one test of a global pointer.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kora {

// Opens like open(2); a call that may create or empty a file counts as a change.
int file_open(const std::string& path, int flags, mode_t mode = 0666);
// Reads up to `length` bytes at `offset`, retrying short reads; the bytes
// read (fewer only at the end of the file) or -1.
ssize_t file_read_at(int fd, void* buffer, size_t length, uint64_t offset);
// Writes every byte at `offset`, or says it did not.
bool file_write_at(int fd, const void* bytes, size_t length, uint64_t offset);
// Writes every byte at the descriptor's position (streams, O_APPEND files).
bool file_write(int fd, std::string_view bytes);
long long file_size(int fd);  // -1 when it cannot be known
bool file_truncate(int fd, uint64_t size);
bool file_sync(int fd);
bool file_rename(const std::string& from, const std::string& to);
bool file_link(const std::string& from, const std::string& to);
bool file_unlink(const std::string& path);

// Told of every change about to be made through the calls above, before
// it is made (and before a fault plan sees it), so that what it overwrites,
// cuts or replaces can be kept first; a call it refuses fails as a write
// error. The undo log (table/undo_log.h) is the one observer. A write
// comes with the bytes it will put there, so that only what differs need
// be kept.
struct FileObserver {
  bool (*before_write)(int fd, uint64_t offset, const void* bytes, size_t length) = nullptr;
  bool (*before_truncate)(int fd, uint64_t size) = nullptr;
  // A rename or link about to put another file at `to`.
  bool (*before_replace)(const std::string& to) = nullptr;
};
void set_file_observer(const FileObserver* observer);

// What a test asks of the calls above. Calls are numbered from 1 in the
// order made; `changes` counts only the calls that alter the disk (writes,
// cuts, flushes, renames, links, removals, creating opens).
struct FaultPlan {
  long fail_call = 0;      // this call fails (0: none)
  long fail_change = 0;    // this change fails, as a full disk would make it (0: none)
  long stop_after = -1;    // after this many changes every later change is refused
  long calls = 0;          // counted so far
  long changes = 0;
  long refused = 0;        // changes refused, failed or after the stop
  // When set, every write ('w') and flush ('s') let through, with its
  // descriptor, in the order made: for tests of the order of flushes.
  std::vector<std::pair<char, int>>* trace = nullptr;
};

// Puts a plan in force for its lifetime; plans do not nest.
class ScopedFaultPlan {
 public:
  explicit ScopedFaultPlan(FaultPlan& plan);
  ~ScopedFaultPlan();
  ScopedFaultPlan(const ScopedFaultPlan&) = delete;
  ScopedFaultPlan& operator=(const ScopedFaultPlan&) = delete;
};

}  // namespace kora
