// The state of the running program once a table is open: the open tables and
// which one is shown, what the next paint has to redraw, the option values,
// and the hooks through which cell editing joins the main loop.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "table/dbf_file.h"
#include "ui/settings.h"

namespace kora {

// Bits of AppState::redraw: what the next paint has to redraw.
enum RedrawFlags : int {
  kRedrawRows = 0x0001,     // data rows and the status counters
  kRedrawLayout = 0x0002,   // header (browse) or name column (fields view)
  kRedrawScrolled = 0x0004,  // the window scrolled; always with kRedrawRows
  kRedrawEditOn = 0x0010,   // edit mode was just switched on
  kRedrawClear = 0x0080,    // clear the inner window first
  kRedrawEdges = 0x4000,    // frame edges where the scroll bars live
  kRedrawAll = 0x8000,      // frame, status line and key bar too
};

// The option values (Settings, g_settings) live in ui/settings.h.

// Cell editing plugs in here; every hook may be null, and then the main loop
// behaves as if edit mode could never be switched on.
struct CellEditHooks {
  // Commits the current cell; with record_change the pending record is written.
  void (*leave_cell)(bool record_change) = nullptr;
  // Offers a key to the cell editor: 1 when it consumed it.
  int (*offer_key)(int key) = nullptr;
  // Shows the editor's text and cursor again after a paint.
  void (*refresh)() = nullptr;
  // Opens the editor on the current cell again after the grid was painted.
  void (*reopen)() = nullptr;
  // Leaves edit mode, writing the record or dropping its changes.
  void (*leave_edit)(bool write) = nullptr;
  // 1 when the current record has changes not yet written.
  int (*has_changes)() = nullptr;
};
extern CellEditHooks g_cell_edit_hooks;

struct EditState {
  int mode = 0;           // EditMode: 0 off, 1 on
  int pending_reload = 0;  // reload the edit buffer from the record before painting
};

// A rectangle of cells marked with '*': from the anchor to the current cell.
struct BlockMark {
  bool on = false;
  long anchor_record = 0;
  int anchor_column = 0;
};

// Labels of the function-key bar: plain, Shift, Ctrl and Alt sets, F1..F12,
// six characters each.
enum KeybarState { kKeysPlain = 0, kKeysShift = 1, kKeysCtrl = 2, kKeysAlt = 3 };
struct KeybarSet {
  std::array<std::array<std::string, 12>, 4> labels;
};

struct AppState {
  TableList tables;
  int current = 0;  // position of the table on the screen
  int redraw = 0;   // RedrawFlags
  int hex_panel = 0;  // height of the hex panel: 0 or 4
  bool quit = false;
  int auto_correct = 0;  // the /a mode, also for tables opened later
  EditState edit;
  BlockMark block;
  std::vector<uint32_t> selection;  // SelectionList: physical record numbers
  int captions_ansi = 0;  // field names are converted from Windows-1251 for display
  KeybarSet keybar;
  int clock_second = -1;  // the second the clock was last drawn in

  Table* table() const { return tables.at(current); }
};
extern AppState g_app;

// Starts from a fresh state: no tables, default settings and labels.
void reset_app_state();

}  // namespace kora
