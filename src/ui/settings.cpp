#include "ui/settings.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "ui/ini_text.h"
#include "ui/screen.h"

namespace kora {

Settings g_settings;
std::string g_settings_file;
SettingsHooks g_settings_hooks;

namespace {

// Section names as the file spells them.
constexpr const char* kOptions = "Options";
constexpr const char* kXlat = "Xlat";
constexpr const char* kColors = "Colors";
constexpr const char* kFrames = "Frames";
constexpr const char* kAppendFrom = "AppendFrom";
constexpr const char* kExport = "Export";
constexpr const char* kExportTxt = "ExportTXT";
constexpr const char* kExportPrg = "ExportPRG";
constexpr const char* kExportSql = "ExportSQL";
constexpr const char* kExportHtml = "ExportHTML";
constexpr const char* kExportDbf = "ExportDBF";
constexpr const char* kFilter = "Filter";
constexpr const char* kSearch = "Search";
constexpr const char* kStatistics = "Statistics";

#define KORA_FIELD(member) [](Settings& s) -> decltype(auto) { return (s.member); }

// A number key. A value outside low..high (or not a number) gives the default.
struct IntKey {
  const char* section;
  const char* key;
  int& (*field)(Settings&);
  int default_value;
  int low, high;
};

const IntKey kIntKeys[] = {
    {kOptions, "StartMode", KORA_FIELD(start_mode), 0, 0, 1},
    {kOptions, "DateFormat", KORA_FIELD(date_format), 1, 0, 3},
    {kOptions, "Separator", KORA_FIELD(separator), 0, 0, 1},
    {kOptions, "Alignment", KORA_FIELD(alignment), 0, 0, 2},
    {kOptions, "OEMAnsi", KORA_FIELD(oem_ansi), 0, 0, 2},
    {kOptions, "Memo", KORA_FIELD(memo), 0, 0, 1},
    {kOptions, "DeleteDown", KORA_FIELD(delete_down), 1, 0, 1},
    {kOptions, "EnterDown", KORA_FIELD(enter_down), 1, 0, 1},
    {kOptions, "ScrollBars", KORA_FIELD(scroll_bars), 1, 0, 1},
    {kOptions, "ProgressBar", KORA_FIELD(progress_bar), 1, 0, 1},
    {kOptions, "Confirmation", KORA_FIELD(confirmation), 0, 0, 1},
    {kOptions, "BakFiles", KORA_FIELD(bak_files), 0, 0, 2},
    {kOptions, "ReadOnly", KORA_FIELD(read_only), 0, 0, 1},
    {kOptions, "Aliases", KORA_FIELD(aliases), 1, 0, 1},
    {kOptions, "Dontkeeppos", KORA_FIELD(dont_keep_pos), 0, 0, 1},
    {kOptions, "MemoWrap", KORA_FIELD(memo_wrap), 0, 0, 1},
    {kOptions, "UndoLimitMB", KORA_FIELD(undo_limit_mb), 1024, 0, 1 << 20},

    {kAppendFrom, "SDF", KORA_FIELD(append_from.sdf), 0, 0, 1},
    {kAppendFrom, "NoBlank", KORA_FIELD(append_from.no_blank), 0, 0, 1},

    {kExport, "Type", KORA_FIELD(export_options.type), 0, 0, 10},
    {kExport, "Overwrite", KORA_FIELD(export_options.overwrite), 0, 0, 1},
    {kExport, "Records", KORA_FIELD(export_options.records), 0, 0, 2},
    {kExport, "CopyDeleted", KORA_FIELD(export_options.copy_deleted), 0, 0, 1},
    {kExport, "CopyBlank", KORA_FIELD(export_options.copy_blank), 0, 0, 1},
    {kExport, "MemoAsText", KORA_FIELD(export_options.memo_as_text), 0, 0, 1},
    {kExport, "DeleteMark", KORA_FIELD(export_options.delete_mark), 0, 0, 1},
    {kExport, "Numeration", KORA_FIELD(export_options.numeration), 0, 0, 1},
    {kExport, "Codepage", KORA_FIELD(export_options.codepage), -1, 0, 3},
    {kExport, "Structure", KORA_FIELD(export_options.structure), 0, 0, 1},
    {kExport, "Header", KORA_FIELD(export_options.header), 1, 0, 1},
    {kExport, "Detail", KORA_FIELD(export_options.detail), 1, 0, 1},
    {kExport, "ShowFile", KORA_FIELD(export_options.show_file), 1, 0, 1},

    {kExportTxt, "TrimText", KORA_FIELD(export_txt.trim_text), 0, 0, 3},
    {kExportTxt, "Quoting", KORA_FIELD(export_txt.quoting), 0, 0, 1},
    {kExportTxt, "Delimiters", KORA_FIELD(export_txt.delimiters), 1, 0, 1},

    {kExportPrg, "QuoteChar", KORA_FIELD(export_prg.quote_char), 0, 0, 2},

    {kExportSql, "Sql2000", KORA_FIELD(export_sql.sql2000), 0, 0, 1},

    {kExportDbf, "MemoType", KORA_FIELD(export_dbf.memo_type), 0, 0, 4},
    {kExportDbf, "BlockSize", KORA_FIELD(export_dbf.block_size), 256, 1, 65535},

    {kFilter, "IgnoreCase", KORA_FIELD(filter.ignore_case), 1, 0, 1},

    {kSearch, "Direction", KORA_FIELD(search.direction), 0, 0, 2},
    {kSearch, "ByField", KORA_FIELD(search.by_field), 0, 0, 1},

    {kStatistics, "DistinctLimit", KORA_FIELD(distinct_limit), 1000000, 1, 1000000000},
};

// A one-character key; an empty value leaves the character as it was.
struct CharKey {
  const char* section;
  const char* key;
  char& (*field)(Settings&);
  const char* default_value;
};

const CharKey kCharKeys[] = {
    {kOptions, "DateChar", KORA_FIELD(date_char), "."},
    {kExportTxt, "QuoteChar", KORA_FIELD(export_txt.quote_char), "\""},
    {kExportTxt, "VerDlm", KORA_FIELD(export_txt.ver_dlm), "|"},
    {kExportSql, "QuoteChar", KORA_FIELD(export_sql.quote_char), "\""},
};

// A text key of at most `limit` characters; an empty value leaves the text
// as it was.
struct TextKey {
  const char* section;
  const char* key;
  std::string& (*field)(Settings&);
  const char* default_value;
  bool saved;
  int limit = kSettingsTextLimit;
};

// A filter expression grows with every merge: it is read back whole.
constexpr int kWholeText = std::numeric_limits<int>::max();

const TextKey kTextKeys[] = {
    {kOptions, "HelpFile", KORA_FIELD(help_file), "english.dbf", false},
    {kAppendFrom, "Filename", KORA_FIELD(append_from.filename), "", true},
    {kAppendFrom, "Chars", KORA_FIELD(append_from.chars), ",", true},
    {kExport, "Filename", KORA_FIELD(export_options.filename), "", true},
    {kExportHtml, "Header", KORA_FIELD(export_html.header), "", true},
    {kExportHtml, "Footer", KORA_FIELD(export_html.footer), "", true},
    {kFilter, "Expression", KORA_FIELD(filter.expression), "", true, kWholeText},
    {kSearch, "SExpression", KORA_FIELD(search.s_expression), "", true},
    {kSearch, "RExpression", KORA_FIELD(search.r_expression), "", true},
};

#undef KORA_FIELD

// [Frames]: the frame strings, then the line characters.
struct FrameKey {
  const char* key;
  unsigned char* (*target)(Frames&);
  int length;
};

const FrameKey kFrameKeys[] = {
    {"Single", [](Frames& f) { return f.single_frame; }, 9},
    {"Double", [](Frames& f) { return f.double_frame; }, 9},
    {"HexWindow", [](Frames& f) { return f.hex_frame; }, 9},
    {"VerlineSingle", [](Frames& f) { return &f.vertical_single; }, 1},
    {"HorlineSingle", [](Frames& f) { return &f.horizontal_single; }, 1},
    {"VerlineDouble", [](Frames& f) { return &f.vertical_double; }, 1},
    {"HorlineDouble", [](Frames& f) { return &f.horizontal_double; }, 1},
    {"VerScrollBar", [](Frames& f) { return &f.scroll_track_vertical; }, 1},
    {"HorScrollBar", [](Frames& f) { return &f.scroll_track_horizontal; }, 1},
    {"ScrollBarChar", [](Frames& f) { return &f.scroll_thumb; }, 1},
};

void load_values(const IniText& ini, Settings& s) {
  for (const IntKey& k : kIntKeys) {
    int value = ini_get_int(k.section, k.key, k.default_value, ini);
    if (value < k.low || value > k.high) value = k.default_value;
    k.field(s) = value;
  }
  // Format code 7 does not exist.
  if (s.export_options.type == 7) s.export_options.type = 0;
  for (const CharKey& k : kCharKeys) {
    std::string value = ini_get_str(k.section, k.key, k.default_value, 1, ini);
    if (!value.empty()) k.field(s) = value[0];
  }
  for (const TextKey& k : kTextKeys) {
    std::string value = ini_get_str(k.section, k.key, k.default_value, k.limit, ini);
    if (!value.empty()) k.field(s) = std::move(value);
  }
  // A translation table is taken only at its exact length; reading one
  // character more shows a value that is too long.
  std::string to_ansi = ini_get_str(kXlat, "ToAnsi", "", kXlatLength + 1, ini);
  std::string to_oem = ini_get_str(kXlat, "ToOem", "", kXlatLength + 1, ini);
  if (to_ansi.size() == size_t(kXlatLength)) s.xlat.to_ansi = std::move(to_ansi);
  if (to_oem.size() == size_t(kXlatLength)) s.xlat.to_oem = std::move(to_oem);
}

void load_colors(const IniText& ini, ColorScheme& colors) {
  for (int i = 0; i < kColorSlots; ++i) {
    unsigned char& slot = colors.slot(i);
    int value = ini_get_int(kColors, kColorSlotInfo[i].name, slot, ini);
    if (value >= 0 && value <= 255) slot = static_cast<unsigned char>(value);
  }
}

void load_frames(const IniText& ini, Frames& frames) {
  for (const FrameKey& k : kFrameKeys) {
    std::string value = ini_get_str(kFrames, k.key, "", k.length + 1, ini);
    if (value.size() == size_t(k.length)) memcpy(k.target(frames), value.data(), value.size());
  }
}

// Writes every saved key of the section.
void write_section(IniText& ini, const char* section, Settings& s) {
  for (const IntKey& k : kIntKeys) {
    if (strcmp(k.section, section) != 0) continue;
    const bool run_flag = &k.field(s) == &s.read_only;
    ini_set_int(section, k.key, run_flag ? s.file_read_only : k.field(s), ini);
  }
  for (const CharKey& k : kCharKeys) {
    if (strcmp(k.section, section) != 0) continue;
    const char text[2] = {k.field(s), '\0'};
    ini_set_str(section, k.key, text, ini);
  }
  for (const TextKey& k : kTextKeys) {
    if (k.saved && strcmp(k.section, section) == 0) ini_set_str(section, k.key, k.field(s).c_str(), ini);
  }
}

// Opens the file with write intent, writes the sections and saves.
// Writes the sections; empty when saved, else why not.
std::string save_sections(std::initializer_list<const char*> sections, bool with_ignore_case = false) {
  if (g_settings_file.empty()) return "no settings file";
  std::unique_ptr<IniText> ini = ini_open(g_settings_file, true);
  if (!ini) return std::strerror(errno);
  for (const char* section : sections) write_section(*ini, section, g_settings);
  if (with_ignore_case) ini_set_int(kFilter, "IgnoreCase", g_settings.filter.ignore_case, *ini);
  errno = 0;
  bool saved = ini_save(*ini) == 1;
  int why = errno;
  ini_close(ini);
  if (saved) return {};
  return why ? std::strerror(why) : "the file may not be written";
}

}  // namespace

std::vector<std::string> settings_load() {
  if (g_settings_file.empty()) return {};
  std::unique_ptr<IniText> ini = ini_open(g_settings_file, false);
  if (!ini) return {};
  load_values(*ini, g_settings);
  g_settings.file_read_only = g_settings.read_only;
  load_colors(*ini, g_colors);
  load_frames(*ini, g_frames);
  std::vector<std::string> unreadable = std::move(ini->unreadable);
  ini_close(ini);
  return unreadable;
}

void settings_save_options() {
  std::string problem = save_sections({kOptions});
  if (!g_settings_hooks.report) return;
  g_settings_hooks.report(problem.empty() ? "Options saved in " + g_settings_file
                                          : "Options not saved: " + g_settings_file + ": " + problem);
}
void settings_save_append_from() { save_sections({kAppendFrom}); }
void settings_save_export() { save_sections({kExport}); }
void settings_save_export_txt() { save_sections({kExportTxt}); }
void settings_save_export_prg() { save_sections({kExportPrg}); }
void settings_save_export_sql() { save_sections({kExportSql}); }
void settings_save_export_html() { save_sections({kExportHtml}); }
void settings_save_export_dbf() { save_sections({kExportDbf}); }
void settings_save_filter() { save_sections({kFilter}); }
void settings_save_search() { save_sections({kSearch}, true); }
void settings_save_setup() { settings_save_options(); }

}  // namespace kora
