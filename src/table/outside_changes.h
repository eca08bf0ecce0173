// What other programs did to an open table since kora last looked: the
// program looks at most once a second while it waits for a key.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>

namespace kora {

struct Table;

enum class OutsideChange {
  kNone,
  kRewritten,  // written in place: the records shown may differ
  kCount,      // records added or removed at the end (or the file cut)
  kReplaced,   // another file took its name, or its layout changed: open it again
};

// The file as last seen: a change of size or time is looked into.
struct FileStamp {
  off_t size = -1;
  timespec modified = {};
  uint64_t records = 0;  // the records the size made room for
};

// Compares the file with the stamp and the table; the stamp is updated
// except for kReplaced. The table itself is not changed.
OutsideChange outside_change(const Table& table, FileStamp& seen);

}  // namespace kora
