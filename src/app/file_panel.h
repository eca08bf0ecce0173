// The file panel: a full-height directory browser in which the user picks a
// table. It lists the subdirectories and the files matching a mask in the
// process's working directory, walks the directory tree (the working
// directory stays where the user left it) and returns the chosen file's
// absolute path.
#pragma once

#include <string>
#include <vector>

namespace kora {

// One listed name.
struct FileEntry {
  std::string name;
  int is_directory = 0;
  long long size = 0;  // bytes
  int day = 0, month = 0, year = 0;  // modification date, year modulo 100
  int hour = 0, minute = 0, second = 0;  // local time
};

// The panel's state while it runs.
struct FilePanel {
  std::vector<FileEntry> entries;
  int cursor = 0;
  int top = 0;  // index of the first visible entry
  std::string mask;
  std::string directory;  // the working directory as last read
  std::string left_directory;  // name of the directory just left by going up
};

// The DateFormat setting as the panel uses it: 1 day.month.year,
// 3 year.month.day, anything else month.day.year. The application copies
// its setting here.
struct FilePanelSettings {
  int date_format = 2;
};
extern FilePanelSettings g_file_panel_settings;

// Help topic of the panel's key wait.
constexpr int kFilePanelTopic = 35;

// Reads the working directory into the panel: every directory but "."
// (".." included), then every other name matching the mask (shell
// wildcards, case-sensitive); sorts them and puts the cursor on the
// directory just left, else on the first entry. A directory that cannot
// be read gives an empty list.
void file_panel_read(FilePanel& panel);

// Directories before files; names in case-insensitive order inside each
// group, ".." first.
void sort_file_entries(std::vector<FileEntry>& entries);

// The 58-character line of an entry (the name cut to 29 characters).
std::string file_entry_line(const FileEntry& entry, int date_format);

// Runs the panel on dir (the working directory when empty) with mask.
// 1 when a file was chosen (chosen receives its absolute path), 0 when the
// panel was left with Esc or F10. The screen under the panel is restored.
int file_panel(const std::string& dir, const std::string& mask, std::string& chosen);

// Makes the panel the dialogs' F4 file chooser (g_dialog_hooks.file_panel).
void install_file_panel_hook();

}  // namespace kora
