#include "app/table_characters.h"

#include "app/app_state.h"
#include "table/code_page.h"
#include "table/dbf_file.h"
#include "table/text_code_page.h"
#include "ui/codepage.h"
#include "ui/message_box.h"

namespace kora {

std::shared_ptr<const FieldCharacters> table_characters(const Table& table, int help_topic) {
  if (!in_other_code_page(table)) return nullptr;
  std::shared_ptr<const CodePage> page = table.code_page;
  auto characters = std::make_shared<FieldCharacters>();
  characters->shown_as = [page](std::string_view bytes) { return page->to_unicode(bytes); };
  if (page->multibyte()) {
    characters->length = [page](std::string_view text, size_t at) { return page->character_length(text, at); };
  }
  characters->from_utf8 = [page](std::string_view utf8, std::string& bytes, char32_t* bad) {
    return page->from_utf8(utf8, bytes, bad);
  };
  characters->upper_case = [page](std::string& bytes) { page->upper_case(bytes); };
  characters->refused = [page, help_topic](char32_t bad) {
    message_box(cannot_hold_text(*page, bad), "Error", "OK", kMessageError | kMessageUtf8, help_topic);
    g_app.redraw |= kRedrawRows;
  };
  return characters;
}

bool pasted_value(const Table& table, bool utf8, const std::string& value, std::string& out, std::string& why) {
  if (!utf8) {
    out = value;
    return true;
  }
  // Text copied from a table of another page reaches an 866 or 1251 table
  // through Windows-1251, as the rest of the clipboard does.
  std::shared_ptr<const CodePage> page = in_other_code_page(table) ? table.code_page : CodePage::of_number(1251);
  char32_t bad = 0;
  std::string bytes;
  if (!page->from_utf8(value, bytes, &bad)) {
    why = cannot_hold_text(*page, bad);
    return false;
  }
  out = in_other_code_page(table) ? bytes : table_from_ansi(table, bytes);
  return true;
}

// UTF-8 takes up to four bytes a character.
constexpr int kUtf8Bytes = 4;

UnicodeFields::UnicodeFields(const Table& table, std::initializer_list<EditField*> fields) {
  if (!in_other_code_page(table)) return;
  for (EditField* field : fields) {
    kept_.push_back({field, field->size});
    field->size *= kUtf8Bytes;
    edit_alloc(*field);
    field->characters = utf8_characters();
  }
}

UnicodeFields::~UnicodeFields() {
  for (const Kept& kept : kept_) {
    kept.field->size = kept.size;
    kept.field->characters = nullptr;
  }
}

std::string remembered_from_table(const Table& table, const std::string& stored) {
  return in_other_code_page(table) ? remembered_text(table.code_page->to_utf8(stored)) : stored;
}

}  // namespace kora
