// The program's commands: one identifier per command, whatever reaches it (a
// key, a menu item, a macro). Three tables say the rest, each with one row
// per entry: the binding of an identifier to its function and help topic
// (commands.cpp), the keys (kKeys, commands.cpp) and the menu items
// with their state rules (menu_tree.cpp).
//
// A command not built yet already has its identifier, its row in kCommands
// with a null function, its keys and its menu items: building it means
// writing the function and naming it in that row (and taking the command
// off the test's list of commands left empty). A new command gets an
// identifier here, a row in kCommands at the same place, and rows for its
// keys (kKeys) and items (menu_tree.cpp) as it has them.
#pragma once

#include <span>

namespace kora {

enum class Cmd : int {
  None = 0,

  // ---- tables and the program
  Quit,             // Esc, F10, File "E&xit"
  Open,             // F3, File "&Open"
  RecentFiles,      // File "Recent &files"
  Close,            // File "C&lose"
  CreateTable,      // Ctrl+F3, File "&Create new"
  ModifyStructure,  // Ctrl+F4, File "&Modify structure"
  Refresh,          // Ctrl+R, File "&Refresh"
  SaveAsText,       // File, Save as: the quick export of each format
  SaveAsPrg,
  SaveAsSql,
  SaveAsHtml,
  SaveAsDbf,
  SaveAsXml,
  SaveAsCsv,
  FieldsInfo,       // Shift+F2, File "Fields &info"
  DatabaseInfo,     // Alt+F2, File "&Database info"
  SaveSetup,        // Shift+F9, File "Save setup"
  NextTable,        // Ctrl+Tab
  PreviousTable,    // Alt+Tab
  ChooseTable,      // Alt+0
  BackupNow,        // Ctrl+B
  Options,          // Alt+F1, View "&Options"

  // ---- the menu bar
  MenuFile,  // Alt+F .. Alt+H: one pull-down
  MenuView,
  MenuEdit,
  MenuCommands,
  MenuTools,
  MenuFavorites,
  MenuHelp,
  MenuLast,  // F9: the pull-down used last

  // ---- moving
  Up,
  Down,
  Left,
  Right,
  Home,
  End,
  PageUp,
  PageDown,
  NextColumn,      // Tab
  PreviousColumn,  // Shift+Tab
  CtrlUp,
  CtrlDown,
  CtrlLeft,
  CtrlRight,
  CtrlHome,
  CtrlEnd,
  CtrlPageUp,
  CtrlPageDown,
  GoToField,   // Alt+F4, Edit "G&o to field"
  GoToRecord,  // Alt+F6, Edit "&Go to record"

  // ---- the view
  SwitchView,        // F2
  ViewBrowse,        // View "&Browse": only when not browsing
  ViewFields,        // View "&Fields": only when not in the fields view
  Reverse,           // View "&Reverse"
  Aliases,           // Alt+A, View "&Aliases"
  ColumnSetup,       // Alt+F9, View "Col&umns"
  HideDeleted,       // Ctrl+D, View "&Hide deleted records"
  ReadOnly,          // View "Read onl&y"
  Select,            // Ins, View, Selection "&Select/Unselect"
  ShowSelected,      // View, Selection "Show selected &only"
  ClearSelection,    // View, Selection "&Clear selection"
  CancelViews,       // Alt+1
  ToggleCodePage,    // F12
  AnsiCharset,       // View "ANSI &charset": only when not ANSI
  OemCharset,        // View "O&EM charset": only when not OEM
  ChooseCodePage,    // View "Code &page...": every code page kora knows
  ToggleCaptionCodePage,  // Shift+F12
  HexPanel,          // Tools "He&x panel"
  ColumnStats,       // Alt+F5, View "Column s&tatistics"
  ValueFrequencies,  // View "Value fre&quencies"

  // ---- editing values
  EditMode,     // F4
  EnterAction,  // Enter
  SpaceKey,     // Space: the memo editor
  Memo,         // View "&Memo"
  BlockMark,    // '*'
  Undo,         // Ctrl+Z, Edit "&Undo"
  Redo,         // Ctrl+Y, Edit "Redo"
  Cut,          // Edit "Cu&t"
  Copy,         // Edit "&Copy"
  Paste,        // Edit "&Paste"
  DeleteValue,  // Edit "&Delete"

  // ---- records
  Append,         // F5
  AppendCopy,     // Shift+F5
  AppendNow,      // Ctrl+F5, Commands "&Append"
  AppendCopyNow,  // Commands, Duplicate "&Append"
  Insert,         // F6
  InsertCopy,     // Shift+F6
  InsertNow,      // Ctrl+F6, Commands "&Insert"
  InsertCopyNow,  // Commands, Duplicate "&Insert"
  Delete,         // F8
  DeleteNow,      // Shift+F8, Commands "&Delete"
  MarkDeleted,    // Del
  Pack,           // Alt+F8, Commands "&Pack"
  PackTable,      // Commands, Pack "Pack &DBF only"
  PackMemo,       // Commands, Pack "Pack &memo only"
  Zap,            // Ctrl+F8, Commands "&Zap"
  Truncate,       // Ctrl+F10, Commands "&Truncate"
  CopyRecord,     // Ctrl+G, Edit "Cop&y record"
  PasteRecord,    // Ctrl+], Edit "Past&e record"
  DeleteAll,      // Tools, All
  RecallAll,
  InverseAll,
  GroupDelete,    // Tools, Group
  GroupRecall,
  GroupInverse,

  // ---- data tools
  Search,          // F7, Edit "&Find"
  SearchOn,        // Shift+F7
  FindNext,        // Alt+F7, Edit "Find &next"
  Replace,         // Ctrl+F7, Edit "&Replace"
  Filter,          // Alt+F3, Tools "Fi&lter"
  QuickFilter,     // Ctrl+E: field = current value
  QuickFilterAdd,  // the same added to the filter
  Sort,            // Ctrl+S, Tools "&Sort"
  DropSort,        // Alt+S
  Sum,             // Ctrl+F2, Tools "S&um"
  Calculator,      // Shift+F4, Tools "&Calculator"
  Fill,            // Tools "&Fill"
  SqlStatement,    // Ctrl+Q
  Export,          // Ctrl+F9, Tools "&Export", File "&Print"
  EncodeDatabase,  // Tools, Encoding
  DecodeDatabase,
  DefinePassword,
  RemovePassword,
  AppendFrom,      // Tools "A&ppend from"
  HeaderEditor,    // Tools "&Header editor"
  CheckTable,      // Tools "Chec&k table"

  // ---- favourites and help
  AddFavorite,        // Favorites "&Add to favorites"
  OrganizeFavorites,  // Favorites "&Organize favorites"
  HelpContents,       // Shift+F1, Help "&Contents"
  ReadMe,             // Help "&Read me"
  ManualPage,         // Help "&Manual page"
  About,              // Help "&About"

  // ---- items that open a submenu: identified for their state rules only
  SaveAsMenu,
  SelectionMenu,
  DuplicateMenu,
  PackMenu,
  EncodingMenu,
  AllMenu,
  GroupMenu,

  Count
};

constexpr int command_id(Cmd command) { return static_cast<int>(command); }

// What a command runs. Null: the command is known but not built yet; its
// keys and menu items do nothing.
using CommandFunction = void (*)();

struct CommandBinding {
  Cmd command;
  CommandFunction run;
  int help_topic;  // of the command's own window or dialog, 0 none
};

// The row of a command (Cmd::None and out-of-range values: a row without
// function).
const CommandBinding& command_binding(Cmd command);

// Runs a command on the current table; one without a function does nothing.
void run_command(Cmd command);
// The same for a command chosen in the menu bar; while it runs,
// command_from_menu() is true (a few commands open preset differently).
void run_menu_command(Cmd command);
bool command_from_menu();

// How a row of the key table matches a KeyCode.
enum KeyMatch : int {
  // A key with a character by its whole code, a key without one by its scan
  // code (any KeyCode without a character and with that scan code).
  kMatchKey = 0,
  // Any key with a character by that character (Space from the keypad or
  // the main block alike).
  kMatchCharacter = 1,
};

struct KeyBinding {
  int key;
  Cmd command;
  KeyMatch match = kMatchKey;
};

// The keys of the main loop, after the cell editor has declined a key.
std::span<const KeyBinding> key_bindings();

// The command of the first row that matches the key, Cmd::None when none.
Cmd command_for_key(int key);

}  // namespace kora
