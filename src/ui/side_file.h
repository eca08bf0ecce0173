// Small text files kept beside the program (macros, recent files,
// favourites): read whole, and replaced whole so that a write that fails
// leaves the old contents in place.
#pragma once

#include <string>
#include <string_view>

namespace kora {

// The file's bytes in `out`; 1, or 0 (out empty) when it cannot be read.
int read_side_file(const std::string& path, std::string& out);

// Replaces the file's contents with `text`: written to a new file beside it
// and renamed over it, or, when the folder does not allow that, written in
// place. 1 on success; 0 leaves the file as it was where the system allows.
int write_side_file(const std::string& path, std::string_view text);

}  // namespace kora
