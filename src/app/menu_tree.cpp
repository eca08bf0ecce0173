// The menu bar's seven pull-downs and their submenus, with the command of
// each item; the rules that disable and mark items before a pull-down opens,
// keyed by command; and the Help pull-down's boxes.
#include "app/menu_tree.h"

#include "app/favorites.h"

#include <string>
#include <vector>

#include "ui/message_box.h"

namespace kora {

namespace {

constexpr MenuItem item(const char* label, Cmd command) { return {label, 0, 0, command_id(command), nullptr}; }
constexpr MenuItem disabled(const char* label, Cmd command) {
  return {label, 0, kItemDisabled, command_id(command), nullptr};
}
constexpr MenuItem separator() { return {"-", 0, kItemDisabled, 0, nullptr}; }
constexpr MenuItem submenu(const char* label, Cmd opener, Menu* menu) {
  return {label, 0, 0, command_id(opener), menu};
}
constexpr MenuItem end() { return {nullptr, 0, 0, 0, nullptr}; }

// ---- submenus -------------------------------------------------------------------

MenuItem g_save_as_items[] = {
    item("&Text file (*.txt)", Cmd::SaveAsText), item("&PRG file (*.prg)", Cmd::SaveAsPrg),
    item("&SQL file (*.sql)", Cmd::SaveAsSql),   item("&HTML file (*.htm)", Cmd::SaveAsHtml),
    item("&DBF file (*.dbf)", Cmd::SaveAsDbf),   item("&XML file (*.xml)", Cmd::SaveAsXml),
    item("CS&V file (*.csv)", Cmd::SaveAsCsv),   end(),
};
Menu g_save_as_menu{.items = g_save_as_items};

MenuItem g_selection_items[] = {
    item("&Select/Unselect", Cmd::Select), item("Show selected &only", Cmd::ShowSelected),
    disabled("&Clear selection", Cmd::ClearSelection), end(),
};
Menu g_selection_menu{.items = g_selection_items};

MenuItem g_duplicate_items[] = {item("&Append", Cmd::AppendCopyNow), item("&Insert", Cmd::InsertCopyNow), end()};
Menu g_duplicate_menu{.items = g_duplicate_items};

MenuItem g_pack_items[] = {item("Pack &DBF only", Cmd::PackTable), item("Pack &memo only", Cmd::PackMemo), end()};
Menu g_pack_menu{.items = g_pack_items};

MenuItem g_encoding_items[] = {
    item("&Encode database", Cmd::EncodeDatabase), item("&Decode database", Cmd::DecodeDatabase),
    item("Define &password", Cmd::DefinePassword), item("&Remove password", Cmd::RemovePassword), end(),
};
Menu g_encoding_menu{.items = g_encoding_items};

MenuItem g_all_items[] = {
    item("&Delete", Cmd::DeleteAll), item("&Recall", Cmd::RecallAll), item("&Inverse", Cmd::InverseAll), end(),
};
Menu g_all_menu{.items = g_all_items};

MenuItem g_group_items[] = {
    item("&Delete", Cmd::GroupDelete), item("&Recall", Cmd::GroupRecall), item("&Inverse", Cmd::GroupInverse), end(),
};
Menu g_group_menu{.items = g_group_items};

// ---- pull-downs -----------------------------------------------------------------

MenuItem g_file_items[] = {
    item("&Open", Cmd::Open),
    item("Recent &files", Cmd::RecentFiles),
    item("C&lose", Cmd::Close),
    item("&Create new", Cmd::CreateTable),
    item("&Modify structure", Cmd::ModifyStructure),
    item("&Refresh", Cmd::Refresh),
    submenu("Save &as...", Cmd::SaveAsMenu, &g_save_as_menu),
    separator(),
    item("Fields &info", Cmd::FieldsInfo),
    item("&Database info", Cmd::DatabaseInfo),
    item("Save setup", Cmd::SaveSetup),
    item("&Print", Cmd::Export),
    separator(),
    // Exit goes through the same question as F10, so typed changes are
    // never dropped without the user's word.
    item("E&xit", Cmd::Quit),
    end(),
};

MenuItem g_view_items[] = {
    item("&Browse", Cmd::ViewBrowse),
    item("&Fields", Cmd::ViewFields),
    separator(),
    item("&Reverse", Cmd::Reverse),
    item("&Aliases", Cmd::Aliases),
    item("Col&umns", Cmd::ColumnSetup),
    item("&Memo", Cmd::Memo),
    item("&Hide deleted records", Cmd::HideDeleted),
    item("Read onl&y", Cmd::ReadOnly),
    submenu("&Selection...", Cmd::SelectionMenu, &g_selection_menu),
    separator(),
    item("ANSI &charset", Cmd::AnsiCharset),
    item("O&EM charset", Cmd::OemCharset),
    item("Code &page...", Cmd::ChooseCodePage),
    separator(),
    item("&Options", Cmd::Options),
    separator(),
    item("Column s&tatistics", Cmd::ColumnStats),
    item("Value fre&quencies", Cmd::ValueFrequencies),
    end(),
};

MenuItem g_edit_items[] = {
    item("&Undo", Cmd::Undo),
    item("Redo", Cmd::Redo),
    separator(),
    disabled("Cu&t", Cmd::Cut),
    disabled("&Copy", Cmd::Copy),
    disabled("&Paste", Cmd::Paste),
    disabled("&Delete", Cmd::DeleteValue),
    separator(),
    item("&Find", Cmd::Search),
    item("Find &next", Cmd::FindNext),
    item("&Replace", Cmd::Replace),
    separator(),
    item("&Go to record", Cmd::GoToRecord),
    item("G&o to field", Cmd::GoToField),
    separator(),
    item("Cop&y record", Cmd::CopyRecord),
    disabled("Past&e record", Cmd::PasteRecord),
    end(),
};

MenuItem g_commands_items[] = {
    item("&Append", Cmd::AppendNow),
    item("&Insert", Cmd::InsertNow),
    item("&Delete", Cmd::DeleteNow),
    item("&Pack", Cmd::Pack),
    item("&Zap", Cmd::Zap),
    item("&Truncate", Cmd::Truncate),
    separator(),
    submenu("Duplicate current &record...", Cmd::DuplicateMenu, &g_duplicate_menu),
    submenu("Pac&k...", Cmd::PackMenu, &g_pack_menu),
    end(),
};

MenuItem g_tools_items[] = {
    item("S&um", Cmd::Sum),
    item("&Calculator", Cmd::Calculator),
    item("&Sort", Cmd::Sort),
    item("&Fill", Cmd::Fill),
    item("Fi&lter", Cmd::Filter),
    item("&Export", Cmd::Export),
    submenu("E&ncoding...", Cmd::EncodingMenu, &g_encoding_menu),
    separator(),
    submenu("&All...", Cmd::AllMenu, &g_all_menu),
    submenu("&Group...", Cmd::GroupMenu, &g_group_menu),
    separator(),
    item("A&ppend from", Cmd::AppendFrom),
    item("&Header editor", Cmd::HeaderEditor),
    item("He&x panel", Cmd::HexPanel),
    item("Chec&k table", Cmd::CheckTable),
    end(),
};

MenuItem g_favorites_fixed[] = {
    item("&Add to favorites", Cmd::AddFavorite), item("&Organize favorites", Cmd::OrganizeFavorites), end(),
};

MenuItem g_help_items[] = {
    item("&Contents", Cmd::HelpContents),
    separator(),
    item("&Read me", Cmd::ReadMe),
    item("&Manual page", Cmd::ManualPage),
    separator(),
    item("&About", Cmd::About),
    end(),
};

Menu g_file_menu{.top = 1, .items = g_file_items};
Menu g_view_menu{.left = 6, .top = 1, .items = g_view_items};
Menu g_edit_menu{.left = 12, .top = 1, .items = g_edit_items};
Menu g_commands_menu{.left = 18, .top = 1, .items = g_commands_items};
Menu g_tools_menu{.left = 28, .top = 1, .items = g_tools_items};
Menu g_favorites_menu{.left = 35, .top = 1, .items = g_favorites_fixed};
Menu g_help_menu{.left = 46, .top = 1, .items = g_help_items};

}  // namespace

const Pulldown kMenuBar[kPulldownCount] = {
    {" File ", 0, &g_file_menu},           {" View ", 6, &g_view_menu},
    {" Edit ", 12, &g_edit_menu},          {" Commands ", 18, &g_commands_menu},
    {" Tools ", 28, &g_tools_menu},        {" Favorites ", 35, &g_favorites_menu},
    {" Help ", 46, &g_help_menu},
};

// ---- item states ----------------------------------------------------------------

namespace {

using Fact = bool (*)(const MenuFacts&);

struct StateRule {
  Cmd command;
  int flag;  // kItemDisabled or kItemMarked, set while the fact holds
  Fact holds;
};

bool read_only(const MenuFacts& f) { return f.read_only; }
bool no_records(const MenuFacts& f) { return f.record_count == 0; }
// Inserting and deleting need the file's own order of records.
bool no_insert(const MenuFacts& f) { return f.read_only || f.sorted || f.selected_only; }
bool no_truncate(const MenuFacts& f) { return no_insert(f) || f.reverse; }
bool no_pack(const MenuFacts& f) { return no_insert(f) || no_records(f) || f.reverse; }
bool no_value(const MenuFacts& f) { return read_only(f) || no_records(f); }

const StateRule kStateRules[] = {
    {Cmd::Close, kItemDisabled, [](const MenuFacts& f) { return f.table_count <= 1; }},

    {Cmd::ViewBrowse, kItemMarked, [](const MenuFacts& f) { return !f.fields_view; }},
    {Cmd::ViewFields, kItemMarked, [](const MenuFacts& f) { return f.fields_view != 0; }},
    {Cmd::Reverse, kItemMarked, [](const MenuFacts& f) { return f.reverse != 0; }},
    {Cmd::Aliases, kItemMarked, [](const MenuFacts& f) { return f.aliases != 0; }},
    {Cmd::Memo, kItemDisabled, [](const MenuFacts& f) { return !f.has_memo; }},
    {Cmd::HideDeleted, kItemMarked, [](const MenuFacts& f) { return f.hide_deleted != 0; }},
    {Cmd::ReadOnly, kItemMarked, read_only},
    {Cmd::AnsiCharset, kItemMarked, [](const MenuFacts& f) { return f.ansi != 0; }},
    {Cmd::OemCharset, kItemMarked, [](const MenuFacts& f) { return !f.ansi; }},

    {Cmd::Undo, kItemDisabled, [](const MenuFacts& f) { return f.read_only || !f.can_undo; }},
    {Cmd::Redo, kItemDisabled, [](const MenuFacts& f) { return f.read_only || !f.can_redo; }},
    {Cmd::Cut, kItemDisabled, no_value},
    {Cmd::DeleteValue, kItemDisabled, no_value},
    {Cmd::Copy, kItemDisabled, no_records},
    {Cmd::Paste, kItemDisabled, read_only},
    {Cmd::FindNext, kItemDisabled, [](const MenuFacts& f) { return !f.has_search; }},
    {Cmd::PasteRecord, kItemDisabled, [](const MenuFacts& f) { return !f.record_copied || f.read_only; }},

    {Cmd::AppendNow, kItemDisabled, read_only},
    {Cmd::Zap, kItemDisabled, read_only},
    {Cmd::DuplicateMenu, kItemDisabled, read_only},
    {Cmd::InsertNow, kItemDisabled, no_insert},
    {Cmd::DeleteNow, kItemDisabled, no_insert},
    {Cmd::Truncate, kItemDisabled, no_truncate},
    {Cmd::Pack, kItemDisabled, no_pack},
    {Cmd::PackMenu, kItemDisabled, no_pack},
    {Cmd::InsertCopyNow, kItemDisabled, no_insert},
    {Cmd::PackMemo, kItemDisabled, [](const MenuFacts& f) { return !f.has_memo; }},

    {Cmd::Fill, kItemDisabled, read_only},
    {Cmd::AllMenu, kItemDisabled, read_only},
    {Cmd::GroupMenu, kItemDisabled, read_only},
    {Cmd::AppendFrom, kItemDisabled, read_only},
    {Cmd::EncodeDatabase, kItemDisabled, read_only},
    {Cmd::DecodeDatabase, kItemDisabled, read_only},
};

void apply_rules(Menu* menu, const MenuFacts& facts) {
  for (MenuItem* item = menu->items; item && item->label; ++item) {
    for (const StateRule& rule : kStateRules) {
      if (command_id(rule.command) != item->command) continue;
      if (rule.holds(facts)) {
        item->flags |= rule.flag;
      } else {
        item->flags &= ~rule.flag;
      }
    }
    if (item->submenu) apply_rules(item->submenu, facts);
  }
}

}  // namespace

void apply_menu_states(int pulldown, const MenuFacts& facts) {
  if (pulldown < 0 || pulldown >= kPulldownCount) return;
  apply_rules(kMenuBar[pulldown].menu, facts);
}

MenuItem* menu_item_of(Cmd command) {
  for (const Pulldown& pulldown : kMenuBar) {
    if (MenuItem* item = menu_find_command(pulldown.menu, command_id(command))) return item;
  }
  return nullptr;
}

// ---- favourite files --------------------------------------------------------------

namespace {

constexpr size_t kMaxFavoritesShown = 96;
std::vector<std::string> g_favorite_files;
std::vector<std::string> g_favorite_labels;
std::vector<MenuItem> g_favorite_items;

}  // namespace

void menu_set_favorites(const std::vector<std::string>& files) {
  std::vector<MenuItem> items(g_favorites_fixed, g_favorites_fixed + 2);
  std::vector<std::string> names(files.begin(),
                                 files.begin() + std::min(files.size(), kMaxFavoritesShown));
  std::vector<std::string> labels;
  for (const std::string& name : names) labels.push_back(listed_entry(name));
  if (!names.empty()) items.push_back(separator());
  for (const std::string& label : labels) {
    items.push_back({label.c_str(), 0, kItemPlain | kItemUnicode, 0, nullptr});
  }
  items.push_back(end());
  // Moving the strings keeps their buffers, so the labels stay valid.
  g_favorite_files = std::move(names);
  g_favorite_labels = std::move(labels);
  g_favorite_items = std::move(items);
  g_favorites_menu.items = g_favorite_items.data();
}

std::string favorite_file(const char* label) {
  for (size_t i = 0; i < g_favorite_labels.size(); ++i) {
    if (g_favorite_labels[i].c_str() == label) return g_favorite_files[i];
  }
  return label ? label : "";
}

}  // namespace kora
