// Word wrap in the text editor window: a line longer than the window is
// shown on as many rows as it needs, broken after the last blank that
// fits (or within a word that has none). Only the screen changes; the
// line's bytes stay as they are.
#pragma once

#include <string_view>
#include <vector>

#include "ui/text_editor.h"

namespace kora {

// Where the rows of a line start, as byte indexes: 0 first. A line whose
// last row is full gets one more, empty row, for the cursor after its end.
std::vector<size_t> wrap_starts(const TextEditor& editor, std::string_view text);

// The cells the bytes take on the screen (a tab one, as it is drawn).
int wrap_cells(const TextEditor& editor, std::string_view bytes);

struct WrapPlace {
  int row = 0;     // of the line's rows
  int column = 0;  // cells from the row's start
};

// The row and column of byte index pos.
WrapPlace wrap_place(const TextEditor& editor, std::string_view text, const std::vector<size_t>& starts,
                     size_t pos);

// The byte index nearest to the column on the row, never past the row: a
// row's end is the next one's start, so the cursor stays on its last
// character.
size_t wrap_position(const TextEditor& editor, std::string_view text, const std::vector<size_t>& starts,
                     int row, int column);

}  // namespace kora
