// Edit Undo and Redo, and the undo step every other command's changes make.
#pragma once

#include <cstdint>

#include "app/commands.h"

namespace kora {

void undo_command();
void redo_command();

// Runs a command as one step of the current table's undo history, named for
// the user after the command. A command that may rewrite the whole table
// asks first when that would not fit under the undo limit.
void run_as_undo_step(Cmd command, void (*run)());

// The undo limit of the settings, in bytes.
uint64_t undo_limit();

}  // namespace kora
