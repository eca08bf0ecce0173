#include "table/status.h"

#include <cerrno>

namespace kora {

Status status_from_open_errno(int error_number) {
  switch (error_number) {
    case ENOENT:
    case ENOTDIR: return Status::kNotFound;
    case EACCES:
    case EPERM: return Status::kNoPermission;
    default: return Status::kCannotOpen;
  }
}

}  // namespace kora
