// The Help pull-down's own boxes: the README and the manual page kora is
// installed with, and About. kora names no address of its own anywhere:
// what to read, and where to report, is in the README.
#pragma once

#include <string>

namespace kora {

// The README: beside the program or its source folder (a build), else in
// <prefix>/share/doc/kora; empty when it is in neither place.
std::string readme_path(const std::string& program_path);

void show_readme();       // "&Read me": the README, read-only
void show_manual_page();  // "&Manual page": the manual page as text, read-only
void show_about();

}  // namespace kora
