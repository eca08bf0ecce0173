// The recent-files list and the favourites: two small files of table paths
// beside the program, one path per line, most recent first. The recent list
// is updated on every open of a table and shown by File, "Recent &files";
// the favourites fill the Favorites pull-down, grow with "&Add to
// favorites" and are edited as plain text with "&Organize favorites".
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/keys.h"

namespace kora {

constexpr int kListLinesKept = 20;      // lines a put-on-top leaves in a list file
constexpr int kFavoritesShown = 96;     // favourites the pull-down shows
constexpr int kRecentFilesHelp = 55;
constexpr int kOrganizeFavoritesHelp = 37;

// Puts `entry` as the first line of a list file; the old lines follow in
// their order without the entry's equals (line ends aside),
// at most kListLinesKept lines in all, each written back byte for byte. 0
// when the file could not be written (it is then left as it was).
int put_on_top(const std::string& list_path, const std::string& entry);

// The entries of a list file, at most `max_entries`: lines that are empty or
// begin with ";" are passed over (for the favourites also lines beginning
// with a carriage return); the line end is not part of the entry. A file
// that cannot be read has none.
std::vector<std::string> read_list_entries(const std::string& path, int max_entries, bool favorites);

// What the app tells this unit once at start-up.
struct FavoritesSetup {
  std::string recent_file;     // program name + ".lst"
  std::string favorites_file;  // program name + ".fvr"
  // Opens and shows a table chosen from the recent list.
  std::function<void(const std::string& path)> open_table;
  IdleHook idle_hook = nullptr;  // for the Organize favorites editor
};
extern FavoritesSetup g_favorites;

// Names both files after the program, remembers the callbacks and loads the
// favourites into the Favorites pull-down.
void favorites_install(const char* program_path, std::function<void(const std::string&)> open_table,
                       IdleHook idle_hook);

// How a list shows an entry: a path that names no file now is marked, so
// that it is not taken for a file that is there.
constexpr const char* kMissingMark = "(not found) ";
std::string listed_entry(const std::string& path);

// A table was opened: its full path goes on top of the recent list.
void recent_add(const std::string& table_path);
// File, "Recent &files": the pick list; the chosen table is opened.
void recent_files();
// Rebuilds the Favorites pull-down from the favourites file.
void favorites_load();
// "&Add to favorites": the table's full path on top of the favourites.
void favorites_add(const std::string& table_path);
// "&Organize favorites": the favourites file in the text editor window;
// saving replaces it (an empty text deletes it), Esc writes nothing.
void favorites_organize();

}  // namespace kora
