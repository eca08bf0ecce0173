// The program's settings: every value kept in the configuration file, read
// once at start-up and written back section by section by the dialogs that
// own them. The file is never kept open.
#pragma once

#include <functional>
#include <string>

namespace kora {

// Limit of the file-name and search texts read from the file (the filter
// expression is read whole).
constexpr int kSettingsTextLimit = 260;
// Length of a translation table of [Xlat]: the bytes 128..255.
constexpr int kXlatLength = 128;

// [AppendFrom]
struct AppendFromSettings {
  std::string chars = ",";  // "Delimited with": the set of delimiter characters
  int sdf = 0;         // 0 delimited, 1 SDF
  int no_blank = 0;    // "Ignore blank characters"
  std::string filename;  // last source file
};

// [Export]
struct ExportSettings {
  int type = 0;  // 0 text, 1 Clipper, 2 FoxPro, 3 SQL, 4 HTML, 5 DBF, 6 XML, 8 CSV, 9 JSON Lines, 10 SQLite
  int overwrite = 0;  // 0 append, 1 overwrite
  int records = 0;    // 0 all, 1 current, 2 following
  int copy_deleted = 0;
  int copy_blank = 0;
  int memo_as_text = 0;
  int delete_mark = 0;
  int numeration = 0;
  int codepage = -1;  // 0 as is, 1 ANSI, 2 OEM, 3 UTF-8; -1 never chosen
  int structure = 0;
  // Without a settings file the Export dialog starts as a file lacking
  // these keys would start it: with a band to write, so that OK can work.
  int header = 1;
  int detail = 1;
  int show_file = 1;
  std::string filename;
};

// [ExportTXT]
struct ExportTxtSettings {
  int trim_text = 0;  // 0 no trim, 1 left, 2 right, 3 both
  int quoting = 0;
  char quote_char = '"';
  int delimiters = 1;
  char ver_dlm = '|';
};

// [ExportPRG]
struct ExportPrgSettings {
  int quote_char = 0;  // 0 single quotes, 1 double quotes, 2 square brackets
};

// [ExportSQL]
struct ExportSqlSettings {
  char quote_char = '"';
  int sql2000 = 0;
};

// [ExportHTML]
struct ExportHtmlSettings {
  std::string header;  // written before the table
  std::string footer;  // written after it
};

// [ExportDBF]
struct ExportDbfSettings {
  int memo_type = 0;  // 0 as is, 1 dBase III, 2 FoxPro, 3 dBase IV, 4 Visual FoxPro
  int block_size = 256;
};

// [Filter]; ignore_case is shared with the Search and Replace dialogs.
struct FilterSettings {
  std::string expression;
  int ignore_case = 1;
};

// [Search]
struct SearchSettings {
  std::string s_expression;  // search expression
  std::string r_expression;  // replacement expression
  int direction = 0;         // 0 down, 1 up, 2 all
  int by_field = 0;
};

// [Xlat]: translations of the bytes 128..255; each is empty or exactly
// kXlatLength bytes. Tables opened later use them when both are set.
struct XlatSettings {
  std::string to_ansi;  // OEM -> ANSI
  std::string to_oem;   // ANSI -> OEM
  bool in_use() const {
    return to_ansi.size() == size_t(kXlatLength) && to_oem.size() == size_t(kXlatLength);
  }
};

// Every setting. The member initialisers are the values in force when there
// is no configuration file. [Colors] and [Frames] go straight into g_colors
// and g_frames of the screen.
struct Settings {
  // [Options]
  int start_mode = 0;   // 0 browse, 1 fields view
  int date_format = 2;  // 0 as stored, 1 day-month-year, 2 month-day-year, 3 year-month-day
  int separator = 0;    // 0 the default date delimiter, 1 date_char
  char date_char = '.';
  int alignment = 0;  // 0 none, 1 left, 2 right
  int oem_ansi = 0;   // 0 detect, 1 OEM, 2 ANSI
  int memo = 0;       // 0 memo text, 1 block number
  int delete_down = 1;
  int enter_down = 1;
  int scroll_bars = 1;
  int progress_bar = 1;
  int confirmation = 0;
  int bak_files = 0;  // 0 off, 1 current directory, 2 temporary directory
  int read_only = 0;
  int aliases = 1;
  int dont_keep_pos = 0;
  int memo_wrap = 0;  // the text editor wraps long lines (Ctrl+W there)
  int undo_limit_mb = 1024;  // the undo history's log; a larger change asks first
  std::string help_file = "english.dbf";

  XlatSettings xlat;
  AppendFromSettings append_from;
  ExportSettings export_options;
  ExportTxtSettings export_txt;
  ExportPrgSettings export_prg;
  ExportSqlSettings export_sql;
  ExportHtmlSettings export_html;
  ExportDbfSettings export_dbf;
  FilterSettings filter;
  SearchSettings search;
  // [Statistics] DistinctLimit: the most distinct values the frequency
  // list counts exactly before it keeps only the most frequent.
  int distinct_limit = 1000000;

  // ReadOnly as the file gave it. The /ro switch and View / Read only set
  // read_only for one run; saving [Options] writes this value back, so that
  // a read-only run does not make every later run read-only.
  int file_read_only = 0;
};
extern Settings g_settings;

// The configuration file's full name (the program's name with ".ini");
// empty: loading and saving do nothing.
extern std::string g_settings_file;

// What the Options dialog asks of the rest of the program after OK.
struct SettingsHooks {
  std::function<void()> apply_to_tables;  // give the new options to every open table
  std::function<void()> request_redraw;   // repaint the whole screen
  // Tells the user what became of a save: "Options saved in ..." or why not.
  std::function<void(const std::string& text)> report;
};
extern SettingsHooks g_settings_hooks;

// Reads every section of g_settings_file into g_settings, g_colors and
// g_frames. Without a readable file everything keeps its value. Returns the
// numbers it could not read, each with its line ("line 12: DateFormat=x is
// not a number"); those keep their defaults.
std::vector<std::string> settings_load();

// Each writes its section into g_settings_file (created when missing);
// a file that cannot be written is left alone, silently.
void settings_save_options();
void settings_save_append_from();
void settings_save_export();
void settings_save_export_txt();
void settings_save_export_prg();
void settings_save_export_sql();
void settings_save_export_html();
void settings_save_export_dbf();
void settings_save_filter();
void settings_save_search();  // also writes [Filter] IgnoreCase

// File / Save setup: writes the [Options] section.
void settings_save_setup();

// View / Options: the Options dialog. 1 when closed with OK.
int options_dialog();

}  // namespace kora
