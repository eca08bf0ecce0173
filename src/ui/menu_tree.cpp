// The menu bar's seven pull-downs and their submenus, the rules that disable
// and mark items before a pull-down opens, and the Help pull-down's boxes.
// Items of other parts get their commands attached through menu_find_item.
#include <string>
#include <vector>

#include "ui/menu.h"
#include "ui/message_box.h"

namespace kora {

namespace {

constexpr MenuItem item(const char* label, MenuCommand command = nullptr) {
  return {label, 0, 0, command, nullptr};
}
constexpr MenuItem disabled(const char* label) { return {label, 0, kItemDisabled, nullptr, nullptr}; }
constexpr MenuItem separator() { return {"-", 0, kItemDisabled, nullptr, nullptr}; }
constexpr MenuItem submenu(const char* label, Menu* menu) { return {label, 0, 0, nullptr, menu}; }
constexpr MenuItem end() { return {nullptr, 0, 0, nullptr, nullptr}; }

// ---- the Help pull-down's own boxes ---------------------------------------------

constexpr const char* kProgramName = "kora";
constexpr const char* kProgramVersion = "1.0";
constexpr const char* kHomepage = "https://kora.example.org";
constexpr const char* kSupportMail = "support@kora.example.org";

void show_homepage(int, Table*) {
  std::string text = std::string("Visit the ") + kProgramName + " home page:\n" + kHomepage;
  message_box(text, "Internet Homepage", "OK", 0, 33);
}

void show_feedback(int, Table*) {
  std::string text = std::string("Send questions and bug reports to\n") + kSupportMail;
  message_box(text, "Feedback", "OK", 0, 34);
}

void show_about(int, Table*) {
  std::string text = std::string(kProgramName) + " version " + kProgramVersion +
                     "\nViewer and editor of DBF tables";
  message_box(text, "About", "OK", 0, 67);
}

// ---- submenus -------------------------------------------------------------------

MenuItem g_save_as_items[] = {
    item("&Text file (*.txt)"), item("&PRG file (*.prg)"), item("&SQL file (*.sql)"),
    item("&HTML file (*.htm)"), item("&DBF file (*.dbf)"), item("&XML file (*.xml)"),
    item("CS&V file (*.csv)"),  end(),
};
Menu g_save_as_menu{.items = g_save_as_items};

MenuItem g_selection_items[] = {
    item("&Select/Unselect"), item("Show selected &only"), disabled("&Clear selection"), end(),
};
Menu g_selection_menu{.items = g_selection_items};

MenuItem g_duplicate_items[] = {item("&Append"), item("&Insert"), end()};
Menu g_duplicate_menu{.items = g_duplicate_items};

MenuItem g_pack_items[] = {item("Pack &DBF only"), item("Pack &memo only"), end()};
Menu g_pack_menu{.items = g_pack_items};

MenuItem g_encoding_items[] = {
    item("&Encode database"), item("&Decode database"), item("Define &password"),
    item("&Remove password"), end(),
};
Menu g_encoding_menu{.items = g_encoding_items};

MenuItem g_all_items[] = {item("&Delete"), item("&Recall"), item("&Inverse"), end()};
Menu g_all_menu{.items = g_all_items};

MenuItem g_group_items[] = {item("&Delete"), item("&Recall"), item("&Inverse"), end()};
Menu g_group_menu{.items = g_group_items};

// ---- pull-downs -----------------------------------------------------------------

MenuItem g_file_items[] = {
    item("&Open"),         item("Recent &files"),
    item("C&lose"),        item("&Create new"),
    item("&Modify structure"), item("&Refresh"),
    submenu("Save &as...", &g_save_as_menu), separator(),
    item("Fields &info"),  item("&Database info"),
    item("Save setup"),    item("&Print"),
    separator(),           item("E&xit"),
    end(),
};

MenuItem g_view_items[] = {
    item("&Browse"),  item("&Fields"),   separator(),
    item("&Reverse"), item("&Aliases"),  item("Col&umns"),
    item("&Memo"),    item("&Hide deleted records"), item("Read onl&y"),
    submenu("&Selection...", &g_selection_menu), separator(),
    item("ANSI &charset"), item("O&EM charset"), separator(),
    item("&Options"), end(),
};

MenuItem g_edit_items[] = {
    disabled("C&ut"),     disabled("&Copy"),  disabled("&Paste"), disabled("&Delete"),
    separator(),          item("&Find"),      item("Find &next"), item("&Replace"),
    separator(),          item("&Go to record"), item("G&o to field"),
    separator(),          item("Cop&y record"), disabled("Past&e record"),
    end(),
};

MenuItem g_commands_items[] = {
    item("&Append"), item("&Insert"), item("&Delete"), item("&Pack"), item("&Zap"),
    item("&Truncate"), separator(),
    submenu("Duplicate curent &record...", &g_duplicate_menu),
    submenu("Pac&k...", &g_pack_menu),
    end(),
};

MenuItem g_tools_items[] = {
    item("S&um"),   item("&Calculator"), item("&Sort"), item("&Fill"),
    item("Fi&lter"), item("&Export"),    submenu("E&ncoding...", &g_encoding_menu),
    separator(),
    submenu("&All...", &g_all_menu), submenu("&Group...", &g_group_menu),
    separator(),
    item("A&ppend from"), item("&Header editor"), item("He&x panel"),
    end(),
};

MenuItem g_favorites_fixed[] = {item("&Add to favorites"), item("&Organize favorites"), end()};

MenuItem g_help_items[] = {
    item("&Contents"), separator(),
    item("&Internet Homepage", show_homepage), item("&Email support", show_feedback),
    separator(), item("&About", show_about),
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
  int pulldown;
  Menu* menu;  // the pull-down itself or one of its submenus
  const char* label;
  int flag;  // kItemDisabled or kItemMarked, set while the fact holds
  Fact holds;
};

bool read_only(const MenuFacts& f) { return f.read_only; }
bool no_records(const MenuFacts& f) { return f.record_count == 0; }
// Inserting and deleting need the file's own order of records.
bool no_insert(const MenuFacts& f) { return f.read_only || f.sorted || f.selected_only; }
bool no_truncate(const MenuFacts& f) { return no_insert(f) || f.reverse; }
bool no_pack(const MenuFacts& f) { return no_insert(f) || no_records(f) || f.reverse; }

const StateRule kStateRules[] = {
    {0, &g_file_menu, "C&lose", kItemDisabled, [](const MenuFacts& f) { return f.table_count <= 1; }},

    {1, &g_view_menu, "&Browse", kItemMarked, [](const MenuFacts& f) { return !f.fields_view; }},
    {1, &g_view_menu, "&Fields", kItemMarked, [](const MenuFacts& f) { return f.fields_view != 0; }},
    {1, &g_view_menu, "&Reverse", kItemMarked, [](const MenuFacts& f) { return f.reverse != 0; }},
    {1, &g_view_menu, "&Aliases", kItemMarked, [](const MenuFacts& f) { return f.aliases != 0; }},
    {1, &g_view_menu, "&Memo", kItemDisabled, [](const MenuFacts& f) { return !f.has_memo; }},
    {1, &g_view_menu, "&Hide deleted records", kItemMarked,
     [](const MenuFacts& f) { return f.hide_deleted != 0; }},
    {1, &g_view_menu, "Read onl&y", kItemMarked, read_only},
    {1, &g_view_menu, "ANSI &charset", kItemMarked, [](const MenuFacts& f) { return f.ansi != 0; }},
    {1, &g_view_menu, "O&EM charset", kItemMarked, [](const MenuFacts& f) { return !f.ansi; }},

    {2, &g_edit_menu, "C&ut", kItemDisabled, [](const MenuFacts& f) { return read_only(f) || no_records(f); }},
    {2, &g_edit_menu, "&Delete", kItemDisabled, [](const MenuFacts& f) { return read_only(f) || no_records(f); }},
    {2, &g_edit_menu, "&Copy", kItemDisabled, no_records},
    {2, &g_edit_menu, "&Paste", kItemDisabled, read_only},
    {2, &g_edit_menu, "Find &next", kItemDisabled, [](const MenuFacts& f) { return !f.has_search; }},
    {2, &g_edit_menu, "Past&e record", kItemDisabled,
     [](const MenuFacts& f) { return !f.record_copied || f.read_only; }},

    {3, &g_commands_menu, "&Append", kItemDisabled, read_only},
    {3, &g_commands_menu, "&Zap", kItemDisabled, read_only},
    {3, &g_commands_menu, "Duplicate curent &record...", kItemDisabled, read_only},
    {3, &g_commands_menu, "&Insert", kItemDisabled, no_insert},
    {3, &g_commands_menu, "&Delete", kItemDisabled, no_insert},
    {3, &g_commands_menu, "&Truncate", kItemDisabled, no_truncate},
    {3, &g_commands_menu, "&Pack", kItemDisabled, no_pack},
    {3, &g_commands_menu, "Pac&k...", kItemDisabled, no_pack},
    {3, &g_duplicate_menu, "&Insert", kItemDisabled, no_insert},
    {3, &g_pack_menu, "Pack &memo only", kItemDisabled, [](const MenuFacts& f) { return !f.has_memo; }},

    {4, &g_tools_menu, "&Fill", kItemDisabled, read_only},
    {4, &g_tools_menu, "&All...", kItemDisabled, read_only},
    {4, &g_tools_menu, "&Group...", kItemDisabled, read_only},
    {4, &g_tools_menu, "A&ppend from", kItemDisabled, read_only},
    {4, &g_encoding_menu, "&Encode database", kItemDisabled, read_only},
    {4, &g_encoding_menu, "&Decode database", kItemDisabled, read_only},
};

}  // namespace

void apply_menu_states(int pulldown, const MenuFacts& facts) {
  for (const StateRule& rule : kStateRules) {
    if (rule.pulldown != pulldown) continue;
    MenuItem* target = menu_find_item(rule.menu, rule.label);
    if (!target) continue;
    if (rule.holds(facts)) {
      target->flags |= rule.flag;
    } else {
      target->flags &= ~rule.flag;
    }
  }
}

// ---- favourite files --------------------------------------------------------------

namespace {

constexpr size_t kMaxFavoritesShown = 96;
std::vector<std::string> g_favorite_files;
std::vector<MenuItem> g_favorite_items;

}  // namespace

void menu_set_favorites(const std::vector<std::string>& files) {
  // The two fixed items are taken from the menu as it is, so that commands
  // attached to them survive the rebuild.
  std::vector<MenuItem> items(g_favorites_menu.items, g_favorites_menu.items + 2);
  std::vector<std::string> names(files.begin(),
                                 files.begin() + std::min(files.size(), kMaxFavoritesShown));
  if (!names.empty()) items.push_back(separator());
  for (const std::string& name : names) {
    items.push_back({name.c_str(), 0, kItemPlain, nullptr, nullptr});
  }
  items.push_back(end());
  // Moving the strings keeps their buffers, so the labels stay valid.
  g_favorite_files = std::move(names);
  g_favorite_items = std::move(items);
  g_favorites_menu.items = g_favorite_items.data();
}

}  // namespace kora
