// A file being made to take another file's place: it is written under a
// unique name in the same folder, flushed to disk, and only then put where
// it belongs, so that a run that fails or stops leaves the old file as it
// was and no half-made file behind.
//
//   PendingFile out;
//   if (Status s = out.open(target, keep_mode_of_target); s != Status::kOk) return s;
//   ... write through out.fd() ...
//   return out.commit(Placement::kReplace);  // or kNew: never over an existing file
//
// A pending file not committed is removed when it goes out of scope.
#pragma once

#include <sys/types.h>

#include <string>

#include "table/status.h"

namespace kora {

enum class Placement {
  kNew,      // the target must not exist; kFileExists when it does
  kReplace,  // the target is replaced in one rename
};

class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Makes the new file beside `target`. Its mode is `mode` when given
  // (a rebuilt file keeps its old one), otherwise 0666 less the umask.
  Status open(const std::string& target, const mode_t* mode = nullptr);
  // The same under a name chosen beforehand (fresh_name), so that a journal
  // can name the file before it exists; kFileExists when the name is taken.
  Status open_as(const std::string& target, const std::string& path, const mode_t* mode = nullptr);
  static std::string fresh_name(const std::string& target);
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  const std::string& target() const { return target_; }

  // Writes every byte at the offset; kWriteError when one did not go.
  Status write_at(uint64_t offset, const void* bytes, size_t length);
  // Flushes the file to disk and closes it; a failure is kWriteError.
  Status flush();
  // Flushes and puts the file in its place.
  Status commit(Placement placement);
  // Removes the file now (nothing happens once it is committed).
  void discard();
  // Leaves the file where it is whatever becomes of this object: a journal
  // names it, and the next open of the table puts it in place.
  void keep() { placed_ = true; }

 private:
  int fd_ = -1;
  std::string path_;
  std::string target_;
  bool placed_ = false;
};

// The folder part of a path ("." when it has none), for flushing renames.
std::string folder_of(const std::string& path);
// Flushes a folder's entries, so that a rename in it survives a crash.
void sync_folder(const std::string& folder);

}  // namespace kora
