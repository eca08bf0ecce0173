// Replacing a small file's contents whole: the new bytes go to a new file
// beside it, which is then renamed over the old one, so that a write that
// fails or a program ended half-way leaves the old contents in place.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace kora {

// Replaces the file's contents with `bytes`. A new file gets `new_mode`; an
// existing one keeps its mode. A symbolic link, or a file in a folder that
// does not let new files be made, is rewritten in place. 1 on success; 0
// leaves the file as it was where the system allows.
int replace_file(const std::string& path, std::string_view bytes, mode_t new_mode = 0644);

}  // namespace kora
