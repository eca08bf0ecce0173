// Input histories: per kind of input (filter expression, search text, file
// name, ...) the last twenty texts confirmed in a dialog field, kept in a
// history file beside the program in the configuration file's format
// (section per kind, keys Item00 .. Item19, Item00 the most recent), and
// offered in a pop-up list on F3.
#pragma once

#include <string>
#include <vector>

namespace kora {

struct Dialog;

constexpr int kHistoryEntries = 20;
constexpr int kHistoryValueMax = 259;  // characters kept of one entry
constexpr int kHistoryPopupHelp = 56;

// The history section of control `control` of the dialog with help topic
// `topic`, or null when that field keeps no history.
const char* history_section(int topic, int control);

// The non-empty entries of a section, most recent first; none when the
// file is missing or unreadable.
std::vector<std::string> history_entries(const std::string& path, const char* section);

// Puts `text` on top of the section: Item00 becomes the text, the other
// entries move down one in their order with the text's equals and the
// empty ones dropped, and the twentieth goes. 0 when the file could not be
// written (it is then left as it was).
int history_store(const std::string& path, const char* section, const std::string& text);

// The dialog hooks: store the focused edit field's text, and the F3 list
// of the focused edit field, whose choice replaces the field's text.
void history_save(Dialog& dialog);
void history_popup(Dialog& dialog);

// Makes `path` the history file and installs the two hooks into the dialogs.
void history_install(const std::string& path);

}  // namespace kora
