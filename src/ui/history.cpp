#include "ui/history.h"

#include <algorithm>
#include <cstdio>

#include "ui/codepage.h"
#include "ui/dialog.h"
#include "ui/ini_text.h"
#include "ui/line_editor.h"
#include "ui/menu.h"

namespace kora {

namespace {

std::string g_history_file;

constexpr int kAnyControl = -1;

// Which dialog fields keep a history, by dialog help topic and control.
struct HistoryField {
  int topic;
  int control;  // kAnyControl: every edit field not listed before
  const char* section;
};

constexpr HistoryField kHistoryFields[] = {
    {21, kAnyControl, "Filter"},   {22, kAnyControl, "GotoRecord"},
    {27, kAnyControl, "Search"},   {29, kAnyControl, "Calc"},
    {30, 0, "Fill"},               {30, 3, "FillRecords"},
    {38, 0, "Search"},             {38, kAnyControl, "Replace"},
    {39, 2, "Export"},             {39, 8, "ExportRecords"},
    {51, kAnyControl, "Pattern"},  {57, kAnyControl, "Filenames"},
};

std::string shown_in_866(const std::string& entry) {
  if (!is_remembered_utf8(entry)) return entry;
  std::string shown;
  for (char32_t c : utf8_to_u32(remembered_utf8(entry))) {
    int byte = unicode_to_cp866(c);
    shown += static_cast<char>(byte < 0 ? '?' : byte);
  }
  return shown;
}

std::string item_key(int n) {
  char key[16];
  std::snprintf(key, sizeof key, "Item%02d", n);
  return key;
}

std::vector<std::string> read_entries(const IniText& ini, const char* section) {
  std::vector<std::string> entries;
  for (int i = 0; i < kHistoryEntries; ++i) {
    std::string value = ini_get_str(section, item_key(i).c_str(), "", kHistoryValueMax, ini);
    if (!value.empty()) entries.push_back(std::move(value));
  }
  return entries;
}

EditField* focused_field(Dialog& dialog, const char*& section) {
  section = nullptr;
  if (!dialog.controls || dialog.focus < 0 || dialog.focus >= dialog_control_count(dialog)) {
    return nullptr;
  }
  EditField* field = control_edit(dialog.controls[dialog.focus]);
  if (!field || !field->text) return nullptr;
  section = history_section(dialog.topic, dialog.focus);
  return section ? field : nullptr;
}

}  // namespace

const char* history_section(int topic, int control) {
  for (const HistoryField& field : kHistoryFields) {
    if (field.topic != topic) continue;
    if (field.control == control || field.control == kAnyControl) return field.section;
  }
  return nullptr;
}

std::vector<std::string> history_entries(const std::string& path, const char* section) {
  std::unique_ptr<IniText> ini = ini_open(path, false);
  if (!ini) return {};
  std::vector<std::string> entries = read_entries(*ini, section);
  ini_close(ini);
  return entries;
}

int history_store(const std::string& path, const char* section, const std::string& text) {
  std::unique_ptr<IniText> ini = ini_open(path, true);
  if (!ini) return 0;
  // Stored as it will read back, so that the next store finds its equal.
  std::string entry = text.substr(0, text.find_first_of("\r\n")).substr(0, kHistoryValueMax);
  std::vector<std::string> kept;
  for (std::string& value : read_entries(*ini, section)) {
    if (value == entry || int(kept.size()) >= kHistoryEntries - 1) continue;
    if (std::find(kept.begin(), kept.end(), value) == kept.end()) kept.push_back(std::move(value));
  }
  ini_set_str(section, item_key(0).c_str(), entry.c_str(), *ini);
  int n = 1;
  for (const std::string& value : kept) ini_set_str(section, item_key(n++).c_str(), value.c_str(), *ini);
  // Keys past the kept ones that still hold a text would show it twice.
  for (; n < kHistoryEntries; ++n) {
    std::string key = item_key(n);
    if (!ini_get_str(section, key.c_str(), "", kHistoryValueMax, *ini).empty()) {
      ini_set_str(section, key.c_str(), "", *ini);
    }
  }
  int saved = ini_save(*ini);
  ini_close(ini);
  return saved;
}

void history_save(Dialog& dialog) {
  const char* section = nullptr;
  EditField* field = focused_field(dialog, section);
  if (!field || g_history_file.empty()) return;
  history_store(g_history_file, section, edit_remembered_text(*field).c_str());
}

void history_popup(Dialog& dialog) {
  const char* section = nullptr;
  EditField* field = focused_field(dialog, section);
  if (!field || g_history_file.empty()) return;
  std::vector<std::string> entries = history_entries(g_history_file, section);
  if (entries.empty()) return;

  std::vector<MenuItem> items;
  // An entry kept in UTF-8 is listed with '?' for what code page 866 lacks.
  std::vector<std::string> shown;
  for (const std::string& entry : entries) shown.push_back(shown_in_866(entry));
  for (const std::string& entry : shown) items.push_back({entry.c_str(), 0, kItemPlain, 0, nullptr});
  items.push_back({nullptr, 0, 0, 0, nullptr});
  Menu menu;
  menu.left = field->x - 1;
  menu.top = field->y - 1;
  int bottom = menu.top + int(entries.size()) + 1;
  while (bottom > screen_rows() - 2 && menu.top > 0) {
    --menu.top;
    --bottom;
  }
  menu.items = items.data();
  menu.current = 0;
  int chosen = menu_popup(menu, kHistoryPopupHelp);
  if (chosen < 0 || chosen >= int(entries.size())) return;
  edit_set_remembered_text(*field, entries[size_t(chosen)]);
  field->modified = 1;
}

void history_install(const std::string& path) {
  g_history_file = path;
  g_dialog_hooks.history_save = [](Dialog& dialog) { history_save(dialog); };
  g_dialog_hooks.history_popup = [](Dialog& dialog) { history_popup(dialog); };
}

}  // namespace kora
