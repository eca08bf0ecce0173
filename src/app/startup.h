// The run of the program from the command line to the exit status: the
// table named on the command line is opened, the screen started, the header
// repaired if need be, and the main loop run until the user quits.
#pragma once

#include <string>

namespace kora {

// How the screen is started and ended; tests start the headless screen.
struct ScreenStarter {
  int (*open)() = nullptr;   // null: the terminal
  int (*close)() = nullptr;  // null: the terminal
};
extern ScreenStarter g_screen_starter;

// The structure editor, in create mode (create = 1) or modify mode, on the
// table's name, which it may change (kept whole, however long); 1 when it
// made the table, 0 when cancelled. Tests may replace it; null counts as
// cancelled.
using StructureEditor = int (*)(std::string& name, const char* title, int create);
extern StructureEditor g_structure_editor;

// The exit status when the table named on the command line cannot be
// opened, none was named, or /a+ passed over a file: a failure is never
// reported as success (0). A cancelled header repair ends with 1.
constexpr int kExitNotOpened = 2;

// The whole program; returns the exit status. argv[0] is replaced by the
// program's own full path.
int run_program(int argc, char** argv);

}  // namespace kora
