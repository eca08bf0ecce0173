// Keyboard macros: Ctrl+. starts recording the keys typed, a second Ctrl+.
// asks for the key to bind them to; pressing that key later plays them back
// through get_key as if they were typed. The macros are kept in a text file
// beside the program, one per line:
//
//   0x3d00:\t0x0061, 0x0062, \n      F3 types "a" and "b"
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kora {

// The most keys one macro holds; recording stops by itself there.
constexpr int kMacroMaxKeys = 65535;

struct Macro {
  int trigger = 0;             // the KeyCode that starts it
  std::vector<uint16_t> keys;  // the KeyCodes it plays
};

// The macros in the order they were loaded or bound; for a trigger that
// occurs twice the first one plays.
extern std::vector<Macro> g_macros;

// The prompt shown when a recording ends.
constexpr const char* kMacroPrompt = "Press the desire key";

// ---- the file -------------------------------------------------------------

// The macros of a macro file's text. Lines that begin with ";" or are empty
// are skipped; the rest are split at tabs, colons, commas, blanks, line
// feeds and carriage returns, and every piece is a hexadecimal number with
// or without "0x": the trigger, then the keys. A line with trigger 0 or
// without keys gives no macro; one with more than kMacroMaxKeys keys keeps
// the first ones. Pieces that are not numbers count as 0 (a 0 key is
// dropped, as recording drops it); numbers keep their low 16 bits.
std::vector<Macro> macros_parse(std::string_view text);
// The text of a macro file: "0x%04x:\t", then "0x%04x, " per key, "\n".
std::string macros_format(const std::vector<Macro>& macros);

// Makes `path` the macro file and fills the macro hooks of get_key.
void macros_install(const std::string& path);
// Appends the macros of the macro file to the list (none when it is
// missing). Returns the number added.
int macros_load();
// Rewrites the macro file from the list; 0 when it could not be written
// (it is then left as it was).
int macros_save();
// Forgets every macro and any recording or playing in progress.
void macros_free();

// ---- recording and playing (the hooks of get_key) --------------------------

// Ctrl+.: starts recording, or ends it with the prompt for the key to bind.
void macro_toggle();
// Every key read while recording (0 is ignored).
void macro_record_key(int key);
// A character the macro file cannot keep was typed: the recording is
// dropped, and the user told why.
void macro_drop_recording(char32_t typed);
// The next key of the macro being played, or -1 when none is playing.
int macro_next_key();
// Starts playing the first macro bound to `key`; 1 when one starts.
int macro_trigger(int key);

bool macro_recording();
bool macro_playing();
// The keys recorded so far.
int macro_recorded_count();

// Draws "R" at column 0 of row 1 in attribute 0x4F while recording; the
// idle routine calls it on every empty wait.
void macro_draw_mark();
// The prompt box macro_toggle shows when a recording ends.
void macro_draw_prompt();

}  // namespace kora
