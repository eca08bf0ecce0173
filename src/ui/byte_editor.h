// A byte-level editor: a block of bytes shown as a hex dump with an ASCII
// column, each byte changed either as two hexadecimal digits or as a
// character. The program runs it on the header of a table file; the editor
// itself knows only bytes and leaves reading and writing them to its caller.
//
// The movement and the storing of a typed cell are plain functions over
// ByteEditState, so that they can be checked without a screen.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kora {

constexpr int kBytesPerRow = 16;

// Where the box goes on a screen of rows x cols for a block of `length`
// bytes: as few rows as the bytes need, centred, never more than the
// screen holds.
struct ByteEditorGeometry {
  int left = 0, top = 0, right = 0, bottom = 0;
  int visible_rows = 0;  // rows of 16 bytes inside the box
};
// Absent when the screen is too small for the box and one row of bytes.
std::optional<ByteEditorGeometry> byte_editor_geometry(int rows, int cols, int length);

enum class ByteMode : int { kHex = 0, kAscii = 1 };

struct ByteEditState {
  std::vector<uint8_t> bytes;
  int offset = 0;  // the byte under the cursor
  int first = 0;   // the first byte of the top row shown, a multiple of 16
  int visible_rows = 1;
  ByteMode mode = ByteMode::kHex;
  bool changed = false;  // a stored byte differed from the one it replaced

  int length() const { return int(bytes.size()); }
};

enum class ByteMove {
  kUp,
  kDown,
  kPageUp,
  kPageDown,
  kFirstRow,  // Ctrl+Home, Ctrl+PgUp: the top row, same column
  kLastRow,   // Ctrl+End, Ctrl+PgDn: the lowest row that has a byte in this column
  kPrevious,  // the byte before
  kNext,      // the byte after
};

// Moves the cursor (the top row follows it); false when it cannot move that
// way (already on the first or last row or byte).
bool move_byte_cursor(ByteEditState& state, ByteMove move);

// Stores the text of the cursor's cell as the byte under the cursor: hex
// mode reads hexadecimal digits (0 when none), ASCII mode takes the first
// character (0 when empty).
void commit_byte_cell(ByteEditState& state, std::string_view text);

// How a run of the editor reaches its caller.
struct ByteEditorRun {
  std::string title;
  int help_topic = 0;
  // Only shows the bytes: nothing can be typed and leaving never asks.
  bool view_only = false;
  // Writes the bytes; false when they could not be written (the callback
  // has said why), and the editor then stays open.
  std::function<bool(std::span<const uint8_t> bytes)> save;
};

// What the user did with the bytes.
enum class ByteEditorResult { kTooSmall, kLeft, kSaved };

// Runs the editor over `bytes` until the user leaves it. On a screen too
// small for the box it only says so.
ByteEditorResult run_byte_editor(std::vector<uint8_t> bytes, const ByteEditorRun& run);

}  // namespace kora
