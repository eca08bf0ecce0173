// The binding of every command to its function, and the keys of the main
// loop. A command that is not built yet has a null function: its keys and
// menu items do nothing until the function is filled in here.
#include "app/commands.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "app/about.h"
#include "app/app_state.h"
#include "app/append_from_command.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/check_command.h"
#include "app/column_setup.h"
#include "app/column_stats_view.h"
#include "app/command_support.h"
#include "app/encoding_commands.h"
#include "app/export_command.h"
#include "app/favorites.h"
#include "app/field_info.h"
#include "app/filter_commands.h"
#include "app/header_editor.h"
#include "app/help.h"
#include "app/main_loop.h"
#include "app/menu_tree.h"
#include "app/navigation.h"
#include "app/record_commands.h"
#include "app/search_commands.h"
#include "app/sort_fill_commands.h"
#include "app/sql_command.h"
#include "app/structure_dialog.h"
#include "app/tool_commands.h"
#include "app/undo_commands.h"
#include "table/text_code_page.h"
#include "ui/key_codes.h"
#include "ui/menu.h"
#include "ui/settings.h"

namespace kora {

namespace {

// ---- commands that are a condition around another one ----------------------------------

void view_browse() {
  Table* table = g_app.table();
  if (table && view_of(*table).view_mode != 0) switch_view();
}

void view_fields() {
  Table* table = g_app.table();
  if (table && view_of(*table).view_mode != 1) switch_view();
}

void ansi_charset() {
  Table* table = g_app.table();
  if (table && !table->ansi_text) toggle_code_page();
}

void oem_charset() {
  Table* table = g_app.table();
  if (table && table->ansi_text) toggle_code_page();
}

constexpr int kCodePageHelp = 72;

// Every code page kora knows, the table's own chosen; the choice is the
// view's and never written into the file.
void choose_code_page_command() {
  Table* table = g_app.table();
  if (!table) return;
  if (g_app.edit.mode && !resolve_unsaved_edit()) return;
  if (g_app.edit.mode && g_cell_edit_hooks.leave_edit) g_cell_edit_hooks.leave_edit(false);
  std::vector<std::string> names = known_code_pages();
  std::string current = table->code_page ? table->code_page->name() : "";
  int at = int(std::find(names.begin(), names.end(), current) - names.begin());
  int chosen = pick_list(names, at < int(names.size()) ? at : 0, kCodePageHelp);
  if (chosen < 0) return;
  set_code_page(*table, CodePage::find(names[size_t(chosen)]));
  update_keybar_labels();
  g_app.redraw |= kRedrawAll;
}

void add_favorite() {
  Table* table = g_app.table();
  if (table) favorites_add(table->file_name);
}

template <int Pulldown>
void open_pulldown() {
  open_menu(Pulldown);
}

void run_options() { options_dialog(); }

template <ExportFormat Format>
void quick_export_as() {
  quick_export(Format);
}

// Help topics of the commands' own windows and dialogs.
constexpr int kGoToFieldHelp = 8;
constexpr int kFilterHelp = 21;
constexpr int kGoToRecordHelp = 22;
constexpr int kGroupHelp = 23;
constexpr int kSumHelp = 24;
constexpr int kEncodingHelp = 25;
constexpr int kDefinePasswordHelp = 26;
constexpr int kSearchHelp = 27;
constexpr int kSortHelp = 28;
constexpr int kCalculatorHelp = 29;
constexpr int kFillHelp = 30;
constexpr int kDatabaseInfoHelp = 31;
constexpr int kAppendFromHelp = 32;
constexpr int kReadMeHelp = 33;
constexpr int kManualPageHelp = 34;
constexpr int kReplaceHelp = 38;
constexpr int kExportHelp = 39;
constexpr int kAboutHelp = 67;
constexpr int kHeaderEditorHelp = 70;
constexpr int kSqlHelp = 71;
constexpr int kOptionsHelp = 20;

// One row per command, in the order of Cmd.
constexpr CommandBinding kCommands[] = {
    {Cmd::None, nullptr, 0},

    {Cmd::Quit, quit_request, kMainHelpTopic},
    {Cmd::Open, open_with_panel, 0},
    {Cmd::RecentFiles, recent_files, kRecentFilesHelp},
    {Cmd::Close, close_current_table, 0},
    {Cmd::CreateTable, create_table_command, kStructureHelp},
    {Cmd::ModifyStructure, modify_structure_command, kStructureHelp},
    {Cmd::Refresh, cmd_refresh, 0},
    {Cmd::SaveAsText, quick_export_as<ExportFormat::kText>, 0},
    {Cmd::SaveAsPrg, quick_export_as<ExportFormat::kClipper>, 0},
    {Cmd::SaveAsSql, quick_export_as<ExportFormat::kSql>, 0},
    {Cmd::SaveAsHtml, quick_export_as<ExportFormat::kHtml>, 0},
    {Cmd::SaveAsDbf, quick_export_as<ExportFormat::kDbf>, 0},
    {Cmd::SaveAsXml, quick_export_as<ExportFormat::kXml>, 0},
    {Cmd::SaveAsCsv, quick_export_as<ExportFormat::kCsv>, 0},
    {Cmd::FieldsInfo, fields_info, kFieldInfoHelp},
    {Cmd::DatabaseInfo, database_info_command, kDatabaseInfoHelp},
    {Cmd::SaveSetup, settings_save_setup, 0},
    {Cmd::NextTable, next_table, 0},
    {Cmd::PreviousTable, previous_table, 0},
    {Cmd::ChooseTable, choose_table, 0},
    {Cmd::BackupNow, cmd_backup_now, 0},
    {Cmd::Options, run_options, kOptionsHelp},

    {Cmd::MenuFile, open_pulldown<0>, 0},
    {Cmd::MenuView, open_pulldown<1>, 0},
    {Cmd::MenuEdit, open_pulldown<2>, 0},
    {Cmd::MenuCommands, open_pulldown<3>, 0},
    {Cmd::MenuTools, open_pulldown<4>, 0},
    {Cmd::MenuFavorites, open_pulldown<5>, 0},
    {Cmd::MenuHelp, open_pulldown<6>, 0},
    {Cmd::MenuLast, open_pulldown<-1>, 0},

    {Cmd::Up, nav_up, 0},
    {Cmd::Down, nav_down, 0},
    {Cmd::Left, nav_left, 0},
    {Cmd::Right, nav_right, 0},
    {Cmd::Home, nav_home, 0},
    {Cmd::End, nav_end, 0},
    {Cmd::PageUp, nav_page_up, 0},
    {Cmd::PageDown, nav_page_down, 0},
    {Cmd::NextColumn, nav_tab, 0},
    {Cmd::PreviousColumn, nav_shift_tab, 0},
    {Cmd::CtrlUp, nav_ctrl_up, 0},
    {Cmd::CtrlDown, nav_ctrl_down, 0},
    {Cmd::CtrlLeft, nav_ctrl_left, 0},
    {Cmd::CtrlRight, nav_ctrl_right, 0},
    {Cmd::CtrlHome, nav_ctrl_home, 0},
    {Cmd::CtrlEnd, nav_ctrl_end, 0},
    {Cmd::CtrlPageUp, nav_ctrl_page_up, 0},
    {Cmd::CtrlPageDown, nav_ctrl_page_down, 0},
    {Cmd::GoToField, go_to_field, kGoToFieldHelp},
    {Cmd::GoToRecord, go_to_record_command, kGoToRecordHelp},

    {Cmd::SwitchView, switch_view, 0},
    {Cmd::ViewBrowse, view_browse, 0},
    {Cmd::ViewFields, view_fields, 0},
    {Cmd::Reverse, toggle_reverse, 0},
    {Cmd::Aliases, toggle_aliases, 0},
    {Cmd::ColumnSetup, column_setup_command, kColumnSetupHelp},
    {Cmd::HideDeleted, cmd_hide_deleted, 0},
    {Cmd::ReadOnly, cmd_read_only, 0},
    {Cmd::Select, cmd_select, 0},
    {Cmd::ShowSelected, cmd_show_selected, 0},
    {Cmd::ClearSelection, nullptr, 0},
    {Cmd::CancelViews, cmd_cancel_views, 0},
    {Cmd::ToggleCodePage, toggle_code_page, 0},
    {Cmd::AnsiCharset, ansi_charset, 0},
    {Cmd::OemCharset, oem_charset, 0},
    {Cmd::ChooseCodePage, choose_code_page_command, kCodePageHelp},
    {Cmd::ToggleCaptionCodePage, toggle_caption_code_page, 0},
    {Cmd::HexPanel, toggle_hex_panel, 0},
    {Cmd::ColumnStats, column_stats_command, kColumnStatsHelp},
    {Cmd::ValueFrequencies, value_frequencies_command, kFrequencyHelp},

    {Cmd::EditMode, toggle_edit_mode, 0},
    {Cmd::EnterAction, enter_action, 0},
    {Cmd::SpaceKey, space_key, 0},
    {Cmd::Memo, memo_editor, kMemoEditorHelpTopic},
    {Cmd::BlockMark, block_mark_toggle, 0},
    {Cmd::Undo, undo_command, 0},
    {Cmd::Redo, redo_command, 0},
    {Cmd::Cut, block_cut, 0},
    {Cmd::Copy, block_copy, 0},
    {Cmd::Paste, block_paste, 0},
    {Cmd::DeleteValue, block_delete, 0},

    {Cmd::Append, cmd_append, 0},
    {Cmd::AppendCopy, cmd_append_copy, 0},
    {Cmd::AppendNow, cmd_append_now, 0},
    {Cmd::AppendCopyNow, cmd_append_copy_now, 0},
    {Cmd::Insert, cmd_insert, 0},
    {Cmd::InsertCopy, cmd_insert_copy, 0},
    {Cmd::InsertNow, cmd_insert_now, 0},
    {Cmd::InsertCopyNow, cmd_insert_copy_now, 0},
    {Cmd::Delete, cmd_delete, 0},
    {Cmd::DeleteNow, cmd_delete_now, 0},
    {Cmd::MarkDeleted, cmd_mark_deleted, 0},
    {Cmd::Pack, cmd_pack, 0},
    {Cmd::PackTable, cmd_pack_table, 0},
    {Cmd::PackMemo, cmd_pack_memo, 0},
    {Cmd::Zap, cmd_zap, 0},
    {Cmd::Truncate, cmd_truncate, 0},
    {Cmd::CopyRecord, cmd_copy_record, 0},
    {Cmd::PasteRecord, cmd_paste_record, 0},
    {Cmd::DeleteAll, cmd_delete_all, 0},
    {Cmd::RecallAll, cmd_recall_all, 0},
    {Cmd::InverseAll, cmd_inverse_all, 0},
    {Cmd::GroupDelete, group_delete_command, kGroupHelp},
    {Cmd::GroupRecall, group_recall_command, kGroupHelp},
    {Cmd::GroupInverse, group_inverse_command, kGroupHelp},

    {Cmd::Search, search_command, kSearchHelp},
    {Cmd::SearchOn, search_up_command, kSearchHelp},
    {Cmd::FindNext, find_next_command, 0},
    {Cmd::Replace, replace_command, kReplaceHelp},
    {Cmd::Filter, filter_command, kFilterHelp},
    {Cmd::QuickFilter, quick_filter_command, 0},
    {Cmd::QuickFilterAdd, quick_filter_add_command, 0},
    {Cmd::Sort, sort_command, kSortHelp},
    {Cmd::DropSort, drop_sort_command, 0},
    {Cmd::Sum, sum_command, kSumHelp},
    {Cmd::Calculator, calculator_command, kCalculatorHelp},
    {Cmd::Fill, fill_command, kFillHelp},
    {Cmd::SqlStatement, sql_statement_command, kSqlHelp},
    {Cmd::Export, export_command, kExportHelp},
    {Cmd::EncodeDatabase, encode_database, kEncodingHelp},
    {Cmd::DecodeDatabase, decode_database, kEncodingHelp},
    {Cmd::DefinePassword, define_password, kDefinePasswordHelp},
    {Cmd::RemovePassword, remove_password, kEncodingHelp},
    {Cmd::AppendFrom, append_from_command, kAppendFromHelp},
    {Cmd::HeaderEditor, header_editor, kHeaderEditorHelp},
    {Cmd::CheckTable, check_table_command, kCheckTableHelp},

    {Cmd::AddFavorite, add_favorite, 0},
    {Cmd::OrganizeFavorites, favorites_organize, kOrganizeFavoritesHelp},
    {Cmd::HelpContents, help_contents, 0},
    {Cmd::ReadMe, show_readme, kReadMeHelp},
    {Cmd::ManualPage, show_manual_page, kManualPageHelp},
    {Cmd::About, show_about, kAboutHelp},

    {Cmd::SaveAsMenu, nullptr, 0},
    {Cmd::SelectionMenu, nullptr, 0},
    {Cmd::DuplicateMenu, nullptr, 0},
    {Cmd::PackMenu, nullptr, 0},
    {Cmd::EncodingMenu, nullptr, 0},
    {Cmd::AllMenu, nullptr, 0},
    {Cmd::GroupMenu, nullptr, 0},
};

constexpr bool rows_in_command_order() {
  for (size_t i = 0; i < std::size(kCommands); ++i) {
    if (command_id(kCommands[i].command) != int(i)) return false;
  }
  return std::size(kCommands) == size_t(Cmd::Count);
}
static_assert(rows_in_command_order(), "kCommands must have one row per Cmd, in its order");

// The keys, by the tables of the main loop: keys with a character first,
// then the keys without one.
constexpr KeyBinding kKeys[] = {
    {kKeyEsc, Cmd::Quit},
    {kKeyTab, Cmd::NextColumn},
    {kKeyEnter, Cmd::EnterAction},
    {kKeyCtrlB, Cmd::BackupNow},
    {kKeyCtrlD, Cmd::HideDeleted},
    {kKeyCtrlE, Cmd::QuickFilter},
    {kKeyQuickFilterAdd, Cmd::QuickFilterAdd},
    {kKeyCtrlQ, Cmd::SqlStatement},
    {kKeyCtrlR, Cmd::Refresh},
    {kKeyCtrlS, Cmd::Sort},
    {kKeyCtrlG, Cmd::CopyRecord},
    {kKeyCtrlZ, Cmd::Undo},
    {kKeyCtrlY, Cmd::Redo},
    {kKeyCtrlRightBracket, Cmd::PasteRecord},
    {kKeyAltTab, Cmd::PreviousTable},
    {' ', Cmd::SpaceKey, kMatchCharacter},
    {'*', Cmd::BlockMark, kMatchCharacter},

    {kKeyShiftTab, Cmd::PreviousColumn},
    {kKeyAltF, Cmd::MenuFile},
    {kKeyAltV, Cmd::MenuView},
    {kKeyAltE, Cmd::MenuEdit},
    {kKeyAltM, Cmd::MenuCommands},
    {kKeyAltT, Cmd::MenuTools},
    {kKeyAltO, Cmd::MenuFavorites},
    {kKeyAltH, Cmd::MenuHelp},
    {kKeyAltA, Cmd::Aliases},
    {kKeyAltS, Cmd::DropSort},
    {kKeyF2, Cmd::SwitchView},
    {kKeyF3, Cmd::Open},
    {kKeyF4, Cmd::EditMode},
    {kKeyF5, Cmd::Append},
    {kKeyF6, Cmd::Insert},
    {kKeyF7, Cmd::Search},
    {kKeyF8, Cmd::Delete},
    {kKeyF9, Cmd::MenuLast},
    {kKeyF10, Cmd::Quit},
    {kKeyHome, Cmd::Home},
    {kKeyUp, Cmd::Up},
    {kKeyPgUp, Cmd::PageUp},
    {kKeyLeft, Cmd::Left},
    {kKeyRight, Cmd::Right},
    {kKeyEnd, Cmd::End},
    {kKeyDown, Cmd::Down},
    {kKeyPgDn, Cmd::PageDown},
    {kKeyIns, Cmd::Select},
    {kKeyDel, Cmd::MarkDeleted},
    {kKeyShiftF1, Cmd::HelpContents},
    {kKeyShiftF2, Cmd::FieldsInfo},
    {kKeyShiftF4, Cmd::Calculator},
    {kKeyShiftF5, Cmd::AppendCopy},
    {kKeyShiftF6, Cmd::InsertCopy},
    {kKeyShiftF7, Cmd::SearchOn},
    {kKeyShiftF8, Cmd::DeleteNow},
    {kKeyShiftF9, Cmd::SaveSetup},
    {kKeyCtrlF2, Cmd::Sum},
    {kKeyCtrlF3, Cmd::CreateTable},
    {kKeyCtrlF4, Cmd::ModifyStructure},
    {kKeyCtrlF5, Cmd::AppendNow},
    {kKeyCtrlF6, Cmd::InsertNow},
    {kKeyCtrlF7, Cmd::Replace},
    {kKeyCtrlF8, Cmd::Zap},
    {kKeyCtrlF9, Cmd::Export},
    {kKeyCtrlF10, Cmd::Truncate},
    {kKeyAltF1, Cmd::Options},
    {kKeyAltF2, Cmd::DatabaseInfo},
    {kKeyAltF3, Cmd::Filter},
    {kKeyAltF4, Cmd::GoToField},
    {kKeyAltF5, Cmd::ColumnStats},
    {kKeyAltF6, Cmd::GoToRecord},
    {kKeyAltF7, Cmd::FindNext},
    {kKeyAltF8, Cmd::Pack},
    {kKeyAltF9, Cmd::ColumnSetup},
    {kKeyCtrlLeft, Cmd::CtrlLeft},
    {kKeyCtrlRight, Cmd::CtrlRight},
    {kKeyCtrlEnd, Cmd::CtrlEnd},
    {kKeyCtrlPgDn, Cmd::CtrlPageDown},
    {kKeyCtrlHome, Cmd::CtrlHome},
    {kKeyAlt1, Cmd::CancelViews},
    {kKeyAlt0, Cmd::ChooseTable},
    {kKeyCtrlPgUp, Cmd::CtrlPageUp},
    {kKeyF12, Cmd::ToggleCodePage},
    {kKeyShiftF12, Cmd::ToggleCaptionCodePage},
    {kKeyCtrlUp, Cmd::CtrlUp},
    {kKeyCtrlDown, Cmd::CtrlDown},
    {kKeyCtrlTab, Cmd::NextTable},
    {kKeyAltTabSequence, Cmd::PreviousTable},
};

bool matches(const KeyBinding& row, int key) {
  if (row.match == kMatchCharacter) return !is_extended_key(key) && key_char(key) == key_char(row.key);
  if (is_extended_key(row.key)) return is_extended_key(key) && scan_code(key) == scan_code(row.key);
  return key == row.key;
}

}  // namespace

const CommandBinding& command_binding(Cmd command) {
  int index = command_id(command);
  if (index <= 0 || index >= command_id(Cmd::Count)) return kCommands[0];
  return kCommands[index];
}

void run_command(Cmd command) {
  CommandFunction run = command_binding(command).run;
  if (run) run_as_undo_step(command, run);
}

namespace {
bool g_from_menu = false;
}  // namespace

void run_menu_command(Cmd command) {
  g_from_menu = true;
  run_command(command);
  g_from_menu = false;
}

bool command_from_menu() { return g_from_menu; }

std::span<const KeyBinding> key_bindings() { return kKeys; }

Cmd command_for_key(int key) {
  if (key == 0) return Cmd::None;
  for (const KeyBinding& row : kKeys) {
    if (matches(row, key)) return row.command;
  }
  return Cmd::None;
}

}  // namespace kora
