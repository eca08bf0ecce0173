#include "app/command_support.h"

#include <algorithm>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/navigation.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "tools/filter.h"
#include "ui/codepage.h"
#include "ui/keys.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {

constexpr int kTypedTextHelp = 100;  // help topic of error boxes

namespace {

constexpr long kDontRestore = -1;
constexpr int kSaveQuestionHelp = 9;
constexpr int kSaveAnswer = 0;
constexpr int kDontSaveAnswer = 1;
// The physical record under the cursor when the view was remembered.
long g_position_slot = 0;

long view_count() { return long(visible_count(*g_app.table())); }

}  // namespace

bool settle_edit() {
  leave_cell(true);
  return !(g_app.edit.mode && g_cell_edit_hooks.has_changes && g_cell_edit_hooks.has_changes());
}

bool resolve_unsaved_edit() {
  if (!g_app.edit.mode || !cell_changes_pending()) return leave_cell(true);
  if (input_closed()) {
    // Nobody is left to answer: what was typed is kept as far as the fields
    // take it; a refused text was named in a message.
    if (!leave_cell(true)) edit_mode_off(true);
    return true;
  }
  int answer = message_box("You've made changes since the last save.", "Attention", "Save\nDon't save\nCancel", 0,
                           kSaveQuestionHelp);
  // A value the field refuses keeps the user on it, as Cancel does.
  if (answer == kSaveAnswer) return leave_cell(true);
  if (answer != kDontSaveAnswer) return false;
  discard_record_changes();
  return true;
}

bool typed_text_for_table(const Table& table, const std::string& typed, std::string& out) {
  if (!in_other_code_page(table) && !is_remembered_utf8(typed)) {
    out = typed;
    return true;
  }
  char32_t bad = 0;
  std::string converted;
  if (in_other_code_page(table)) {
    if (table.code_page->from_utf8(remembered_utf8(typed), converted, &bad)) {
      out = converted;
      return true;
    }
  } else {
    // Text typed for a table in another code page, used on one shown
    // through code page 866.
    std::uint32_t not_held = 0;
    if (utf8_to_cp866(remembered_utf8(typed), converted, &not_held) == Utf8To866::kDone) {
      out = converted;
      return true;
    }
    bad = not_held;
  }
  std::shared_ptr<const CodePage> page = table.code_page ? table.code_page : CodePage::of_number(866);
  message_box(cannot_hold_text(*page, bad), "Error", "OK", kMessageError | kMessageUtf8, kTypedTextHelp);
  return false;
}

bool changes_refused(const Table& table) { return g_settings.read_only != 0 || table.read_only; }

void remember_position() {
  long count = view_count();
  if (count == 0) {
    g_position_slot = kDontRestore;
    return;
  }
  if (g_position_slot == kDontRestore) return;
  long p = std::clamp(current_state().view.current_record, 0L, count - 1);
  g_position_slot = long(physical_record(*g_app.table(), uint32_t(p)));
}

void restore_position() {
  long slot = g_position_slot;
  g_position_slot = 0;
  if (slot == kDontRestore || slot < 0 || g_settings.dont_keep_pos) return;
  uint32_t p = view_position_of(*g_app.table(), uint32_t(slot));
  if (p == kNoRecord) return;
  ViewState& v = current_state().view;
  v.current_record = long(p);
  v.top_record = std::max(0L, v.current_record + g_app.hex_panel + 7 - screen_rows());
}

void skip_next_restore() { g_position_slot = kDontRestore; }

void forget_kept_position() { g_position_slot = 0; }

void centre_current_row() {
  ViewState& v = current_state().view;
  v.top_record = std::max(0L, v.current_record - std::max(1, browse_rows()) / 2);
}

ColumnChoices column_choices(const Table& table) {
  ColumnChoices choices;
  int count = column_count(table);
  choices.labels.reserve(size_t(count));
  // Names in another code page are listed as their characters.
  const bool unicode = in_other_code_page(table);
  for (int k = 0; k < count; ++k) {
    std::string name = shown_name(table, k);
    choices.labels.push_back(unicode ? table.code_page->to_utf8(name) : name);
  }
  for (const std::string& label : choices.labels) {
    choices.items.push_back(MenuItem{label.c_str(), 0, kItemPlain | (unicode ? kItemUnicode : 0), 0, nullptr});
  }
  choices.items.push_back(MenuItem{nullptr, 0, 0, 0, nullptr});
  return choices;
}

}  // namespace kora
