// The one-line editor: an input field of fixed screen width over a text
// buffer of fixed maximum length. Dialog edit fields, the cell editor of the
// browse view and the header editor all edit through it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kora {

enum EditFlags : int {
  kEditTouched = 1,      // the next typed character no longer clears the text
  kEditLiteral = 2,      // the next character is typed even if it is a control
  kEditOverwrite = 4,    // typing replaces the character under the cursor
  kEditShowTabs = 8,     // tab characters are drawn as blanks
  kEditPastEnd = 16,     // a character was typed into the last place: the cursor stands after it
  kEditPassword = 0x80,  // every character is drawn as "*"
};

// How a field's bytes stand for characters when they are not code page 866
// (a table's text in another code page). Any member may be empty.
struct FieldCharacters {
  // The characters the bytes stand for.
  std::function<std::u32string(std::string_view)> shown_as;
  // The number of bytes of the character at index `at` (UTF-8 and the
  // double-byte pages); empty: one byte each.
  std::function<size_t(std::string_view text, size_t at)> length;
  // A typed or pasted UTF-8 text as the field's bytes; false when it holds a
  // character the bytes cannot stand for, which `bad` then names.
  std::function<bool(std::string_view utf8, std::string& bytes, char32_t* bad)> from_utf8;
  // Tells the user why that character was refused (the bell has rung).
  std::function<void(char32_t bad)> refused;
  // Upper-cases the bytes in place by the page's own rules, keeping every
  // character where it stands; empty: only ASCII letters have cases.
  std::function<void(std::string& bytes)> upper_case;
};

// One input field. In a dialog table x and y are dialog coordinates (on the
// virtual 80 x 25 screen) until dialog_prepare turns them into screen ones.
struct EditField {
  int x = 0;
  int y = 0;
  int width = 0;  // visible cells
  int size = 0;   // maximum text length; the buffer holds size + 1 bytes
  char* text = nullptr;
  unsigned char text_color = 0;
  unsigned char fill_color = 0;
  unsigned char fill_char = ' ';
  int modified = 0;  // set to 1 by every change
  int decimals = 0;  // non-zero: numeric input with that many decimals
  // Places of size that numeric input may fill past the value's own width:
  // decimals typed beyond the field's are rounded, and an integer part too
  // long is refused, when the text is stored.
  int spare = 0;
  int end_ok = 0;    // the cursor may stand at index size
  int pos = 0;       // cursor index in the text
  int scroll = 0;    // index of the first visible character
  int flags = 0;     // EditFlags
  const char* allowed = nullptr;  // characters that may be typed; null: all
  // The characters the text's bytes stand for when they are not code page
  // 866; null: the bytes are 866. With them the cursor, Backspace and Del
  // move over whole characters, and a character is typed whole or not at
  // all.
  std::shared_ptr<const FieldCharacters> characters = nullptr;
  std::unique_ptr<char[]> buffer = nullptr;  // owns text while the field is in use
};

// Character sets callers pass as allowed.
inline constexpr const char* kAllowLogical = "TtFfYyNn ";
inline constexpr const char* kAllowInteger = "-0123456789\b";
inline constexpr const char* kAllowNumber = "-0123456789\b.,";
inline constexpr const char* kAllowRecord = "0123456789\b";
inline constexpr const char* kAllowRecordList = "0123456789\b-,";
inline constexpr const char* kAllowHex = "0123456789ABCDEFabcdef\b";

// The program's internal text clipboard: one string, replaced as a whole.
// The line editor's Ctrl+C, Ctrl+X and Ctrl+V work on it, as do the text
// editor's block keys and the block commands of the browse view.
struct TextClipboard {
  std::string text;
  bool utf8 = false;  // text is UTF-8 (copied from another code page), else Windows-1251
};
extern TextClipboard g_text_clipboard;

// Gives the field a zeroed buffer of size + 1 bytes.
void edit_alloc(EditField& field);

// A field outside dialogs with its own buffer holding text (cut to size);
// text and fill colour both colour.
std::unique_ptr<EditField> edit_create(int x, int y, int width, int size, const char* text,
                                       unsigned char colour, const char* allowed);
void edit_free(std::unique_ptr<EditField>& field);
inline char* edit_text(EditField& field) { return field.text; }

// Replaces the text (cut to size); the cursor and the scroll go to 0.
void edit_set_text(EditField& field, const char* text);

// Draws the field; edit_show also puts the cursor on it, its shape telling
// literal-next, overwrite and insert mode apart.
void edit_draw(const EditField& field);
void edit_show(const EditField& field);

// One key for the field: 1 when the key was used, 0 when not. The field is
// redrawn with its cursor either way. A character that does not fit (the
// text is full, or the paste is longer than the room left) is refused with
// the terminal's bell: nothing already typed moves or is lost.
int edit_key(EditField& field, int key);

// Moves the cursor and the scroll back onto the start of a character, after
// a caller has set them.
void edit_fit_cursor(EditField& field);

// The clipboard's text in UTF-8, whichever form it holds.
std::string clipboard_utf8();

// Bytes in the field's code page (866, or its characters') onto the
// clipboard, as Ctrl+C puts the field's text there.
void edit_copy_bytes(const EditField& field, std::string_view bytes);
// The clipboard's whole text, line feeds included, as the field's bytes;
// false when it holds a character they cannot stand for (the bell rings
// and a message names it, as for a typed one).
bool edit_clipboard_bytes(const EditField& field, std::string& bytes);

// Characters for a field holding UTF-8 text: any character may be typed.
std::shared_ptr<const FieldCharacters> utf8_characters();

// The field's text as the program remembers texts (code page 866, or UTF-8
// behind its mark when 866 cannot hold it; see remembered_text), and a
// remembered text put into the field: a character the field's bytes cannot
// stand for leaves it empty.
std::string edit_remembered_text(const EditField& field);
void edit_set_remembered_text(EditField& field, std::string_view remembered);

}  // namespace kora
