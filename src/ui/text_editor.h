// The text editor window: a framed, multi-line editor for free texts (memo
// fields, help texts, the favourites file, export results). The line under
// the cursor is edited by the one-line editor, so in-line keys behave as in
// dialog fields; the window adds the line-level keys: split, join, delete
// and restore a line, vertical movement and a full-screen switch.
//
// Texts are bytes in code page 866. On the way in a text is split at line
// feeds; on the way out every line gets its own line end back.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/keys.h"
#include "ui/line_editor.h"

namespace kora {

// Line ends: a line read with a carriage return before its line feed is
// written back with CR LF, otherwise with LF alone; the last line of a text
// that does not end in a line feed has none.
enum TextLineEnd : unsigned char { kLineEndLf = 0, kLineEndNone = 1, kLineEndCr = 13 };

// The help topic of the memo editor's Find box.
inline constexpr int kMemoFindTopic = 50;

struct TextLine {
  std::string text;
  unsigned char line_end = kLineEndCr;
};

struct TextEditor {
  std::vector<TextLine> lines;  // never empty once created
  int current = 0;              // index of the line with the cursor
  int first = 0;                // index of the top visible line
  int modified = 0;
  int column_scroll = 0;  // first visible character, the same for all lines
  // 1: long lines are wrapped on the screen (Ctrl+W); the text is not
  // changed. The top row is then row first_row of line first.
  int wrap = 0;
  int first_row = 0;

  // The text area in use; rows y .. y + height and columns x .. x + width.
  int x = 0, y = 0, width = 0, height = 0;
  // The rectangle given at creation: x1, y1, x2 - x1, y2 - y1.
  int window_x = 0, window_y = 0, window_width = 0, window_height = 0;
  int full_screen = 0;

  // 1: the text cannot change and leaving never asks (the ReadOnly
  // setting; the help viewer always sets it).
  int read_only = 0;

  std::string title;
  // Set when the text's bytes are not code page 866: they are shown, typed
  // and moved over as the characters they stand for.
  std::shared_ptr<const FieldCharacters> characters;
  // Built when the editor is left with a result other than 1.
  std::string text;

  // Whether this editor writes its full-screen and wrap states back when
  // freed (editors made by text_create do).
  bool remember_full_screen = false;

  TextEditor() = default;
  TextEditor(const TextEditor&) = delete;
  TextEditor& operator=(const TextEditor&) = delete;
  ~TextEditor();

  int line_count() const { return static_cast<int>(lines.size()); }
};

// The full-screen state of the last editor freed; a new editor starts with
// it, and with the wrap state of the settings (MemoWrap), which the last
// one left there.
extern int g_text_full_screen;

// Splits a text into lines: at line feeds, dropping empty pieces between
// two line feeds; a trailing carriage return is removed and gives the line
// end CR, any other non-empty line also gets CR, an empty line gets LF. A
// text without any line gives one empty line.
std::vector<TextLine> text_split(std::string_view text);

// Joins lines into one text: each line followed by "\r\n" (CR) or "\n"
// (LF), except a single line, which is followed by nothing.
std::string text_join(const std::vector<TextLine>& lines);
inline std::string text_join(const TextEditor& editor) { return text_join(editor.lines); }

// An editor over text (null: empty) for the window (x1, y1)-(x2, y2): the
// text area starts at (x1, y1) and reaches x2 and y2 inclusive; the frame
// lies one cell outside it. Full screen when full_screen is set or the last
// editor was left full screen. Null when memory is short.
std::unique_ptr<TextEditor> text_create(const char* text, int x1, int y1, int x2, int y2,
                                        int full_screen, std::string_view title);

// Adds a line at the end.
void text_append_line(TextEditor& editor, std::string_view line,
                      unsigned char line_end = kLineEndCr);

// Runs the editor until it is left. Returns 1 when nothing is to be saved
// (no change, or "Don't save"), 0 when "Save" was chosen at the closing
// question, 10 when F2 saved a changed text. For results other than 1
// editor.text holds the joined text.
int text_run(TextEditor& editor, int help_topic, IdleHook idle_hook);

// Frees the editor and remembers its full-screen and wrap states for the
// next one.
void text_free(std::unique_ptr<TextEditor>& editor);

}  // namespace kora
