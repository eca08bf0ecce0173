// Creating tables and changing the structure of an open one: the structure
// editor (a list of fields edited cell by cell), the commands that run it
// and what its function keys do (saving and loading the list as a small
// structure table, optimal widths, the memo type).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "table/dbf_file.h"
#include "table/restructure.h"
#include "table/table_create.h"

namespace kora {

constexpr int kStructureHelp = 69;

// The list the editor works on.
struct StructureDraft {
  std::vector<StructureField> fields;
};

// The editor on the open table (modify mode) or on none (create mode).
// True when it was confirmed with a structure a table may have.
bool edit_structure(Table* table, StructureDraft& draft, const char* title);

// Asks for a table's name: ".dbf" is added when it has no extension, and
// the name made absolute. None when the box was cancelled or left empty.
std::optional<std::string> ask_dbf_name();

// The kind the MemoType setting chooses (F9); with "As is" the open
// table's own kind, dBase III when there is none.
TableKind memo_setting_kind(const Table* table);
// The kind a structure is checked and made with: a table with memo fields
// keeps its own kind (its memo file must still fit), others follow MemoType.
TableKind structure_kind(const Table* table);

// What the editor's function keys do: F2 true when the list was saved,
// F3 and F4 true when the list changed.
bool save_structure_list(const StructureDraft& draft);                 // F2
bool load_structure_list(StructureDraft& draft);                       // F3
bool set_optimal_widths(const Table& table, StructureDraft& draft);     // F4
// F9: the memo type dialog; its choice (the MemoType setting) is the kind
// the table is made with.
void choose_memo_type(const Table* table);

// Runs the editor and makes or rebuilds the table: in create mode an empty
// path is asked for and the final path given back. 1 when done; a rebuild
// then tells how in `report` (when given).
int structure_dialog(Table* table, std::string& path, const char* title, RestructureReport* report = nullptr);

// Ctrl+F3 and Ctrl+F4.
void create_table_command();
void modify_structure_command();

// The editor as start-up runs it for /cr and /ms (see startup.h).
int start_up_structure_editor(std::string& name, const char* title, int create);

}  // namespace kora
