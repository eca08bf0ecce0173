// The state of the running program once a table is open: the open tables and
// which one is shown, what the next paint has to redraw, the option values,
// and the hooks through which cell editing joins the main loop.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "table/dbf_file.h"
#include "table/outside_changes.h"
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
  // Commits the current cell; with record_change the pending record is
  // written. False when the cell's text was refused: the cursor stays.
  bool (*leave_cell)(bool record_change) = nullptr;
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

// The positions the browse and fields views keep per table.
struct ViewState {
  int view_mode = 0;  // 0 browse, 1 fields view
  long current_record = 0;
  int current_column = 0;  // a display column (fields view: a row)
  long top_record = 0;
  int first_column = 0;
  int memo_field = -1;
};

// What the program keeps per open table beside the engine's Table: only the
// screen needs it. It is made when the table is first shown and goes with
// the table when that is closed.
struct TableState {
  const Table* table = nullptr;  // the table it belongs to
  ViewState view;
  // EditBuffer: the working copy of the current record in edit mode; empty
  // while no record image is held.
  std::vector<uint8_t> edit_buffer;
  std::vector<uint8_t> record_clipboard;  // RecordClipboard: empty until a record is copied
  std::vector<uint32_t> selection;        // SelectionList: physical record numbers, ascending
  int search_field = 0;  // the display column "By field" searches
  bool literal_brackets = false;  // parentheses in the filter expression are data
  std::string goto_number;        // the last number given to Go to record
  // When and how the file was last seen, for following other programs.
  time_t outside_look = 0;
  FileStamp outside_seen;
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
  // Shown on the status line until the next key: what the user should know
  // of the start (a setting kora.ini holds that kora could not read).
  std::string notice;
  // The program's state of each open table, in step with `tables`.
  std::array<std::unique_ptr<TableState>, kMaxTables> states;
  EditState edit;
  BlockMark block;
  int captions_ansi = 0;  // field names are converted from Windows-1251 for display
  KeybarSet keybar;
  int clock_second = -1;  // the second the clock was last drawn in

  Table* table() const { return tables.at(current); }
};
extern AppState g_app;

// The program's state of an open table; a table outside the list (none is
// shown that way) gets a state of its own that lasts until another asks.
TableState& table_state(const Table& table);
// The state of the shown table. Only while a table is open.
TableState& current_state();
inline ViewState& view_of(const Table& table) { return table_state(table).view; }
// add_table and remove_table of the open-table list, keeping the states in step.
int add_open_table(const std::string& path, Status* why = nullptr);
int add_open_table(const std::string& path, OpenFailure* why);
int remove_open_table(int index);

// Starts from a fresh state: no tables, default settings and labels.
void reset_app_state();

}  // namespace kora
