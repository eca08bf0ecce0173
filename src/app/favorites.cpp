#include "app/favorites.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string_view>

#include "app/command_line.h"
#include "app/menu_tree.h"
#include "table/dbf_file.h"
#include "ui/menu.h"
#include "ui/screen.h"
#include "ui/side_file.h"
#include "ui/text_editor.h"

namespace kora {

FavoritesSetup g_favorites;

namespace {

// Whole lines, the line feed included: a path is never cut.
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    size_t length = end == std::string::npos ? text.size() - start : end + 1 - start;
    lines.push_back(text.substr(start, length));
    start += length;
  }
  return lines;
}

// The line without its line end ("\n", "\r\n" or none).
std::string_view without_line_end(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Names that differ in letter case are different files.
bool same_entry(std::string_view a, std::string_view b) { return without_line_end(a) == without_line_end(b); }

}  // namespace

int put_on_top(const std::string& list_path, const std::string& entry) {
  std::vector<std::string> lines = {entry + "\n"};
  std::string old_text;
  read_side_file(list_path, old_text);
  for (std::string& line : split_lines(old_text)) {
    if (int(lines.size()) >= kListLinesKept) break;
    if (!same_entry(line, lines.front())) lines.push_back(std::move(line));
  }
  std::string text;
  for (const std::string& line : lines) text += line;
  return write_side_file(list_path, text);
}

std::vector<std::string> read_list_entries(const std::string& path, int max_entries, bool favorites) {
  std::vector<std::string> entries;
  std::string text;
  if (!read_side_file(path, text)) return entries;
  for (const std::string& line : split_lines(text)) {
    if (int(entries.size()) >= max_entries) break;
    if (line.empty() || line[0] == '\n' || line[0] == ';') continue;
    if (favorites && line[0] == '\r') continue;
    // A line saved by the text editor ends in CR LF; the CR is no part of
    // the path.
    std::string_view name = without_line_end(line);
    if (!name.empty()) entries.emplace_back(name);
  }
  return entries;
}

void favorites_install(const char* program_path, std::function<void(const std::string&)> open_table,
                       IdleHook idle_hook) {
  g_favorites.recent_file = side_file_path(program_path, ".lst");
  g_favorites.favorites_file = side_file_path(program_path, ".fvr");
  g_favorites.open_table = std::move(open_table);
  g_favorites.idle_hook = idle_hook;
  favorites_load();
}

void recent_add(const std::string& table_path) {
  if (!g_favorites.recent_file.empty()) put_on_top(g_favorites.recent_file, table_path);
}

std::string listed_entry(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? path : kMissingMark + path;
}

void recent_files() {
  std::vector<std::string> entries = read_list_entries(g_favorites.recent_file, kListLinesKept, false);
  if (entries.empty()) return;
  std::vector<std::string> labels;
  for (const std::string& entry : entries) labels.push_back(listed_entry(entry));
  int chosen = pick_list(labels, 0, kRecentFilesHelp, kItemUnicode);
  if (chosen < 0 || chosen >= int(entries.size())) return;
  if (g_favorites.open_table) g_favorites.open_table(entries[size_t(chosen)]);
}

void favorites_load() {
  menu_set_favorites(read_list_entries(g_favorites.favorites_file, kFavoritesShown, true));
}

void favorites_add(const std::string& table_path) {
  if (g_favorites.favorites_file.empty()) return;
  put_on_top(g_favorites.favorites_file, table_path);
  favorites_load();
}

void favorites_organize() {
  const std::string& path = g_favorites.favorites_file;
  if (path.empty()) return;
  std::string text;
  read_side_file(path, text);
  std::unique_ptr<TextEditor> editor = text_create(text.c_str(), 9, 3, screen_cols() - 10,
                                                   screen_rows() - 4, 0, "Organize favorites");
  if (!editor) return;
  int result = text_run(*editor, kOrganizeFavoritesHelp, g_favorites.idle_hook);
  if (result != 1) {
    if (editor->text.empty()) {
      std::remove(path.c_str());
    } else {
      write_side_file(path, editor->text);
    }
  }
  text_free(editor);
  favorites_load();
}

}  // namespace kora
