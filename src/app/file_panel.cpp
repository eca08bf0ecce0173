#include "app/file_panel.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "ui/codepage.h"
#include "ui/dialog.h"
#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/message_box.h"
#include "ui/screen.h"

namespace kora {

FilePanelSettings g_file_panel_settings;

namespace {

// The panel's box is 60 columns wide; the entry lines fill its inside.
constexpr int kInnerWidth = 58;
constexpr int kNameCells = 29;  // the name column of an entry line

// ---- reading the directory ------------------------------------------------------

std::string working_directory() {
  // No fixed buffer: a deep directory must not give a cut path.
  char* path = getcwd(nullptr, 0);
  if (!path) return std::string();
  std::string result(path);
  std::free(path);
  return result;
}

FileEntry make_entry(const char* name, const struct stat& info, int is_directory) {
  FileEntry entry;
  entry.name = name;
  entry.is_directory = is_directory;
  entry.size = static_cast<long long>(info.st_size);
  std::time_t when = info.st_mtime;
  std::tm local{};
  localtime_r(&when, &local);
  entry.day = local.tm_mday;
  entry.month = local.tm_mon + 1;
  entry.year = (local.tm_year + 1900) % 100;
  entry.hour = local.tm_hour;
  entry.minute = local.tm_min;
  entry.second = local.tm_sec;
  return entry;
}

// Directories (symbolic links to them included) and the files that match the
// mask; a name that cannot be examined at all is left out.
void list_directory(const std::string& mask, std::vector<FileEntry>& entries) {
  DIR* dir = opendir(".");
  if (!dir) return;
  int dir_fd = dirfd(dir);
  while (const dirent* item = readdir(dir)) {
    const char* name = item->d_name;
    if (std::string_view(name) == ".") continue;
    struct stat info;
    if (fstatat(dir_fd, name, &info, 0) != 0 &&
        fstatat(dir_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      entries.push_back(make_entry(name, info, 1));
    } else if (fnmatch(mask.c_str(), name, 0) == 0) {
      entries.push_back(make_entry(name, info, 0));
    }
  }
  closedir(dir);
}

int find_name(const std::vector<FileEntry>& entries, const std::string& name) {
  if (name.empty()) return -1;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (strcasecmp(entries[i].name.c_str(), name.c_str()) == 0) return static_cast<int>(i);
  }
  return -1;
}

// ---- geometry and drawing -------------------------------------------------------

int visible_rows() { return std::max(1, screen_rows() - 7); }
int page_rows() { return std::max(1, screen_rows() - 8); }
int panel_left() { return screen_cols() / 2 - 30; }

void keep_cursor_visible(FilePanel& panel) {
  int rows = visible_rows();
  if (panel.cursor < panel.top) panel.top = panel.cursor;
  if (panel.cursor >= panel.top + rows) panel.top = panel.cursor - rows + 1;
  if (panel.top < 0) panel.top = 0;
}

// Text centred on a frame line with a blank either side; a text too long
// for the frame shows its end.
void put_frame_caption(int y, std::string_view text, unsigned char attr) {
  constexpr int kRoom = kInnerWidth - 2;
  // A path in UTF-8 shows its characters; one that is no UTF-8, its bytes.
  std::u32string shown;
  if (is_utf8(text)) {
    shown = utf8_to_u32(text);
  } else {
    for (unsigned char byte : text) shown += static_cast<char32_t>(cp866_to_unicode(display_byte(byte)));
  }
  int cells = 0;
  for (char32_t c : shown) cells += char_cells(c);
  size_t first = 0;
  while (cells > kRoom && first < shown.size()) cells -= char_cells(shown[first++]);
  int x = panel_left() + 1 + (kInnerWidth - cells - 2) / 2;
  put_char(x, y, ' ', attr);
  put_unicode(x + 1, y, std::u32string_view(shown).substr(first), attr, kRoom);
  put_char(x + cells + 1, y, ' ', attr);
}

void paint(const FilePanel& panel) {
  int left = panel_left();
  int bottom = screen_rows() - 4;
  draw_box(left, 2, left + 59, bottom, g_colors.DialogFrame, g_frames.single_frame, 0);
  put_frame_caption(2, panel.directory, g_colors.DialogText);
  put_frame_caption(bottom, panel.mask, g_colors.DialogText);
  int count = static_cast<int>(panel.entries.size());
  for (int row = 0; row < visible_rows() && panel.top + row < count; ++row) {
    int index = panel.top + row;
    unsigned char attr = index == panel.cursor ? g_colors.DialogButton : g_colors.DialogText;
    const FileEntry& entry = panel.entries[static_cast<size_t>(index)];
    std::string line = file_entry_line(entry, g_file_panel_settings.date_format);
    // The name in its own characters in the first 29 cells, the rest as the line has it.
    int used = put_file_name(left + 1, 3 + row, entry.name, attr, kNameCells);
    put_repeat(left + 1 + used, 3 + row, kNameCells - used, ' ', attr);
    for (int i = kNameCells; i < static_cast<int>(line.size()); ++i) {
      put_char(left + 1 + i, 3 + row, static_cast<unsigned char>(line[static_cast<size_t>(i)]), attr);
    }
  }
}

// ---- the mask box -----------------------------------------------------------------

constexpr int kMaskSize = 259;

const DialogDecoration kPatternLabels[] = {
    {18, 11, -1, 11, "Pattern"},
    {-1, 0, 0, 0, nullptr},
};
EditField g_pattern_field{.x = 20, .y = 12, .width = 40, .size = kMaskSize};
DialogControl g_pattern_controls[] = {
    {kControlEdit, 0, &g_pattern_field},
    {kControlEnd, 0, nullptr},
};
Dialog g_pattern_dialog{18, 11, 61, 13, 51, nullptr, 0, kPatternLabels, g_pattern_controls, {}};

// 1 when the user entered a new, non-empty mask.
int edit_mask(std::string& mask) {
  dialog_prepare(g_pattern_dialog);
  edit_set_text(g_pattern_field, mask.c_str());
  int result = dialog_run(g_pattern_dialog, nullptr);
  int changed = result > 0 && g_pattern_field.text[0] != '\0';
  if (changed) mask = g_pattern_field.text;
  dialog_finish(g_pattern_dialog);
  return changed;
}

// ---- walking ----------------------------------------------------------------------

std::string last_component(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void change_directory(FilePanel& panel, const std::string& name) {
  std::string leaving = last_component(panel.directory);
  if (chdir(name.c_str()) == 0) {
    panel.left_directory = name == ".." ? leaving : std::string();
  } else {
    // Stay here, with the cursor on the entry that could not be entered.
    panel.left_directory = name;
  }
  file_panel_read(panel);
}

void move_to_letter(FilePanel& panel, unsigned char letter) {
  int count = static_cast<int>(panel.entries.size());
  int wanted = std::tolower(letter);
  for (int step = 1; step <= count; ++step) {
    int index = (panel.cursor + step) % count;
    const std::string& name = panel.entries[static_cast<size_t>(index)].name;
    if (!name.empty() && std::tolower(static_cast<unsigned char>(name[0])) == wanted) {
      panel.cursor = index;
      return;
    }
  }
}

enum KeyResult { kStayOpen, kFileChosen, kPanelLeft };

int press_enter(FilePanel& panel, std::string& chosen) {
  if (panel.entries.empty()) return kStayOpen;
  const FileEntry& entry = panel.entries[static_cast<size_t>(panel.cursor)];
  if (entry.is_directory) {
    change_directory(panel, entry.name);
    return kStayOpen;
  }
  // Without a known working directory there is no full path to give.
  if (panel.directory.empty()) return kStayOpen;
  chosen = panel.directory;
  if (chosen.back() != '/') chosen += '/';
  chosen += entry.name;
  return kFileChosen;
}

int move_key(FilePanel& panel, int key) {
  int last = static_cast<int>(panel.entries.size()) - 1;
  switch (key) {
    case kKeyUp:
    case kKeyLeft: panel.cursor = std::max(0, panel.cursor - 1); return 1;
    case kKeyDown:
    case kKeyRight: panel.cursor = std::max(0, std::min(last, panel.cursor + 1)); return 1;
    case kKeyPgUp: panel.cursor = std::max(0, panel.cursor - page_rows()); return 1;
    case kKeyPgDn: panel.cursor = std::max(0, std::min(last, panel.cursor + page_rows())); return 1;
    case kKeyHome: panel.cursor = 0; return 1;
    case kKeyEnd: panel.cursor = std::max(0, last); return 1;
    default: return 0;
  }
}

int handle_key(FilePanel& panel, int key, std::string& chosen) {
  int ch = key_char(key);
  if (move_key(panel, key)) return kStayOpen;
  if (ch == key_char(kKeyEnter)) return press_enter(panel, chosen);
  if (ch == key_char(kKeyEsc) || key == kKeyF10) return kPanelLeft;
  if (key == 8 || key == kKeyBackspace) {
    if (!panel.entries.empty() && panel.entries[0].name == "..") change_directory(panel, "..");
  } else if (key == kKeyCtrlBackslash) {
    panel.left_directory.clear();
    if (chdir("/") == 0) file_panel_read(panel);
  } else if (key == kKeyF9) {
    if (edit_mask(panel.mask)) file_panel_read(panel);
  } else if (ch >= 32 && ch != 0x7F) {
    move_to_letter(panel, static_cast<unsigned char>(ch));
  }
  return kStayOpen;
}

int enter_directory(const std::string& dir) { return chdir(dir.c_str()) == 0; }

void restore_cursor(int position, int visibility) {
  goto_xy(position % 256, position / 256);
  set_cursor_shape(visibility == 0 ? 0x2000 : visibility == 2 ? 7 : 0x0607);
}

}  // namespace

// ---- the listing ------------------------------------------------------------------

void sort_file_entries(std::vector<FileEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const FileEntry& a, const FileEntry& b) {
    if (a.is_directory != b.is_directory) return a.is_directory > b.is_directory;
    bool a_up = a.name == "..", b_up = b.name == "..";
    if (a_up != b_up) return a_up;
    int order = strcasecmp(a.name.c_str(), b.name.c_str());
    if (order != 0) return order < 0;
    return a.name < b.name;
  });
}

void file_panel_read(FilePanel& panel) {
  panel.directory = working_directory();
  panel.entries.clear();
  list_directory(panel.mask, panel.entries);
  sort_file_entries(panel.entries);
  panel.cursor = std::max(0, find_name(panel.entries, panel.left_directory));
  panel.top = 0;
  keep_cursor_visible(panel);
}

std::string file_entry_line(const FileEntry& entry, int date_format) {
  char line[128];
  if (entry.is_directory && entry.name == "..") {
    std::snprintf(line, sizeof line, "%-29s|[UP---DIR]|  Date  |  Time  ", "..");
    return line;
  }
  int first = entry.month, second = entry.day, third = entry.year;
  if (date_format == 1) {
    first = entry.day;
    second = entry.month;
  } else if (date_format == 3) {
    first = entry.year;
    second = entry.month;
    third = entry.day;
  }
  if (entry.is_directory) {
    std::snprintf(line, sizeof line, "%-29.29s|[SUB--DIR]|%02d.%02d.%02d|%02d:%02d:%02d",
                  entry.name.c_str(), first, second, third, entry.hour, entry.minute, entry.second);
  } else {
    std::snprintf(line, sizeof line, "%-29.29s|%10lld|%02d.%02d.%02d|%02d:%02d:%02d",
                  entry.name.c_str(), entry.size, first, second, third, entry.hour, entry.minute,
                  entry.second);
  }
  return line;
}

// ---- running the panel --------------------------------------------------------------

int file_panel(const std::string& dir, const std::string& mask, std::string& chosen) {
  // A start directory that cannot be entered leaves the panel where the
  // program is.
  if (!dir.empty()) enter_directory(dir);
  ScreenSnapshot under = save_screen();
  int cursor_position = get_cursor();
  int cursor_visibility = g_screen.cursor_visibility;
  set_cursor_shape(0x2000);

  FilePanel panel;
  panel.mask = mask;
  file_panel_read(panel);
  int result = kStayOpen;
  {
    PaintLayer layer([&panel] {
      keep_cursor_visible(panel);
      paint(panel);
    });
    while (result == kStayOpen) {
      keep_cursor_visible(panel);
      paint(panel);
      int key = get_key(kFilePanelTopic, g_ui_idle_hook);
      result = handle_key(panel, key, chosen);
    }
  }
  restore_screen(under);
  restore_cursor(cursor_position, cursor_visibility);
  return result == kFileChosen ? 1 : 0;
}

void install_file_panel_hook() {
  g_dialog_hooks.file_panel = [](const char* mask, std::string& chosen) {
    return file_panel(std::string(), mask ? mask : "*.*", chosen);
  };
}

}  // namespace kora
