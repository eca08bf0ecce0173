// A table's text in a code page other than 866 and 1251, for the toolkit's
// editors: shown as its characters, typed and pasted through Unicode, a
// character the page cannot hold refused with the reason.
#pragma once

#include <memory>
#include <initializer_list>
#include <string>
#include <vector>

#include "ui/line_editor.h"

namespace kora {

struct Table;

// Null for a table whose text is in code page 866 or 1251: its editors keep
// editing 866 bytes.
std::shared_ptr<const FieldCharacters> table_characters(const Table& table, int help_topic);

// A pasted value (UTF-8 when utf8, else Windows-1251 already turned into the
// table's form) as the bytes to store; false with the reason in `why` when
// it holds a character the table's code page cannot.
bool pasted_value(const Table& table, bool utf8, const std::string& value, std::string& out, std::string& why);

// While a dialog for a table in another code page is up, its text fields
// hold UTF-8, so that any character can be typed into them (conditions and
// replacements are converted into the table's page when used); their sizes
// grow to keep as many characters. Made after dialog_prepare; fields are
// filled and read with edit_set_remembered_text and edit_remembered_text.
class UnicodeFields {
 public:
  UnicodeFields(const Table& table, std::initializer_list<EditField*> fields);
  ~UnicodeFields();
  UnicodeFields(const UnicodeFields&) = delete;
  UnicodeFields& operator=(const UnicodeFields&) = delete;

 private:
  struct Kept {
    EditField* field;
    int size;
  };
  std::vector<Kept> kept_;
};

// A condition the table holds in its own bytes (the filter in force) as a
// remembered text, for a dialog to offer again.
std::string remembered_from_table(const Table& table, const std::string& stored);

}  // namespace kora
