// Tools / Append from: the dialog that names the source and how a text
// source is cut, and the append into the current table under a progress
// box that Esc stops.
#pragma once

namespace kora {

void append_from_command();

}  // namespace kora
