#include "app/export_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "app/app_state.h"
#include "app/batch_export.h"
#include "app/command_support.h"
#include "app/main_loop.h"
#include "app/memo_type_dialog.h"
#include "app/status_text.h"
#include "app/tool_commands.h"
#include "table/record_ops.h"
#include "ui/dialog.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"
#include "ui/text_editor.h"

namespace kora {

namespace {

constexpr int kExportHelp = 39;
constexpr int kSqlOptionsHelp = 41;
constexpr int kPrgOptionsHelp = 42;
constexpr int kTxtOptionsHelp = 43;
constexpr int kMarkupOptionsHelp = 45;
constexpr int kResultHelp = 46;
constexpr int kFileNameSize = 256;
constexpr int kRecordListSize = 512;
constexpr int kMarkupTextSize = 256;

// ---- settings and options ---------------------------------------------------------------

// The list shows the formats in code order, CSV standing in place 7.
constexpr ExportFormat kListFormats[] = {ExportFormat::kText, ExportFormat::kClipper, ExportFormat::kFoxPro,
                                         ExportFormat::kSql,  ExportFormat::kHtml,    ExportFormat::kDbf,
                                         ExportFormat::kXml,  ExportFormat::kCsv,     ExportFormat::kJsonl,
                                         ExportFormat::kSqlite};
constexpr int kLastListFormat = int(std::size(kListFormats)) - 1;

int list_index(int code) {
  for (int i = 0; i <= kLastListFormat; ++i) {
    if (int(kListFormats[i]) == code) return i;
  }
  return 0;
}

char quote_of(char c) { return c == '\'' ? '\'' : '"'; }

// ---- the per-format option dialogs ------------------------------------------------------

enum TxtValue { kTrim = 0, kDelimiters = 1, kQuoting = 2, kTxtQuote = 3 };
const DialogDecoration kTxtFrames[] = {{12, 5, 66, 10, "Trim"}, {12, 11, 66, 14, "Delimiters and quotes"}, {}};
DialogRadio g_no_trim{14, 6, 0, "No trim", kTrim, 0};
DialogRadio g_trim_left{14, 7, 0, "Trim left", kTrim, 1};
DialogRadio g_trim_right{14, 8, 0, "Trim right", kTrim, 2};
DialogRadio g_all_trim{14, 9, 0, "All trim", kTrim, 3};
DialogCheck g_delimiter{14, 12, 0, "Delimiter", kDelimiters};
EditField g_delimiter_char{.x = 30, .y = 12, .width = 1, .size = 1};
DialogCheck g_quoting{14, 13, 0, "Quoting", kQuoting};
DialogRadio g_txt_single{30, 13, 0, "Single quotes", kTxtQuote, 0};
DialogRadio g_txt_double{48, 13, 0, "Double quotes", kTxtQuote, 1};
DialogPushButton g_txt_ok{22, 17, nullptr, "OK", 1, 1};
DialogPushButton g_txt_cancel{42, 17, nullptr, "Cancel", 0, 0};
DialogControl g_txt_controls[] = {
    {kControlRadio, 0, &g_no_trim},    {kControlRadio, 0, &g_trim_left},     {kControlRadio, 0, &g_trim_right},
    {kControlRadio, 0, &g_all_trim},   {kControlCheck, 0, &g_delimiter},     {kControlEdit, 0, &g_delimiter_char},
    {kControlCheck, 0, &g_quoting},    {kControlRadio, 0, &g_txt_single},    {kControlRadio, 0, &g_txt_double},
    {kControlButton, 0, &g_txt_ok},    {kControlButton, 0, &g_txt_cancel},   {},
};
Dialog g_txt_dialog{10, 3, 68, 19, kTxtOptionsHelp, "TXT", 0, kTxtFrames, g_txt_controls};

void txt_options() {
  ExportTxtSettings& s = g_settings.export_txt;
  dialog_prepare(g_txt_dialog);
  g_txt_dialog.values[kTrim] = s.trim_text;
  g_txt_dialog.values[kDelimiters] = s.delimiters;
  g_txt_dialog.values[kQuoting] = s.quoting;
  g_txt_dialog.values[kTxtQuote] = s.quote_char == '\'' ? 0 : 1;
  edit_set_text(g_delimiter_char, std::string(1, s.ver_dlm).c_str());
  int result = dialog_run(g_txt_dialog, nullptr);
  std::string delimiter = g_delimiter_char.text;
  dialog_finish(g_txt_dialog);
  if (result != 1) return;
  s.trim_text = g_txt_dialog.values[kTrim];
  s.delimiters = g_txt_dialog.values[kDelimiters];
  s.quoting = g_txt_dialog.values[kQuoting];
  s.quote_char = g_txt_dialog.values[kTxtQuote] ? '"' : '\'';
  if (!delimiter.empty()) s.ver_dlm = delimiter[0];
  settings_save_export_txt();
}

enum SqlValue { kSql2000 = 0, kSqlQuote = 1 };
DialogCheck g_sql2000{26, 9, 0, "SQL 2000", kSql2000};
DialogRadio g_sql_single{26, 11, 0, "Single quotes", kSqlQuote, 0};
DialogRadio g_sql_double{26, 12, 0, "Double quotes", kSqlQuote, 1};
DialogPushButton g_sql_ok{24, 14, nullptr, "OK", 1, 1};
DialogPushButton g_sql_cancel{40, 14, nullptr, "Cancel", 0, 0};
DialogControl g_sql_controls[] = {
    {kControlCheck, 0, &g_sql2000},  {kControlRadio, 0, &g_sql_single}, {kControlRadio, 0, &g_sql_double},
    {kControlButton, 0, &g_sql_ok},  {kControlButton, 0, &g_sql_cancel}, {},
};
Dialog g_sql_dialog{20, 7, 59, 16, kSqlOptionsHelp, "SQL", 0, nullptr, g_sql_controls};

void sql_options() {
  ExportSqlSettings& s = g_settings.export_sql;
  dialog_prepare(g_sql_dialog);
  g_sql_dialog.values[kSql2000] = s.sql2000;
  g_sql_dialog.values[kSqlQuote] = s.quote_char == '\'' ? 0 : 1;
  int result = dialog_run(g_sql_dialog, nullptr);
  dialog_finish(g_sql_dialog);
  if (result != 1) return;
  s.sql2000 = g_sql_dialog.values[kSql2000];
  s.quote_char = g_sql_dialog.values[kSqlQuote] ? '"' : '\'';
  settings_save_export_sql();
}

DialogRadio g_prg_single{26, 9, 0, "Single quotes", 0, 0};
DialogRadio g_prg_double{26, 10, 0, "Double quotes", 0, 1};
DialogRadio g_prg_square{26, 11, 0, "Square quotes", 0, 2};
DialogPushButton g_prg_ok{24, 13, nullptr, "OK", 1, 1};
DialogPushButton g_prg_cancel{40, 13, nullptr, "Cancel", 0, 0};
DialogControl g_prg_controls[] = {
    {kControlRadio, 0, &g_prg_single}, {kControlRadio, 0, &g_prg_double}, {kControlRadio, 0, &g_prg_square},
    {kControlButton, 0, &g_prg_ok},    {kControlButton, 0, &g_prg_cancel}, {},
};
Dialog g_prg_dialog{20, 7, 59, 15, kPrgOptionsHelp, "PRG", 0, nullptr, g_prg_controls};

void prg_options() {
  dialog_prepare(g_prg_dialog);
  g_prg_dialog.values[0] = g_settings.export_prg.quote_char;
  int result = dialog_run(g_prg_dialog, nullptr);
  dialog_finish(g_prg_dialog);
  if (result != 1) return;
  g_settings.export_prg.quote_char = g_prg_dialog.values[0];
  settings_save_export_prg();
}

const DialogDecoration kHtmlLabels[] = {{8, 9, 8, 9, "Header"}, {8, 11, 8, 11, "Footer"}, {}};
EditField g_html_header{.x = 16, .y = 9, .width = 54, .size = kMarkupTextSize};
EditField g_html_footer{.x = 16, .y = 11, .width = 54, .size = kMarkupTextSize};
DialogPushButton g_html_ok{24, 13, nullptr, "OK", 1, 1};
DialogPushButton g_html_cancel{40, 13, nullptr, "Cancel", 0, 0};
DialogControl g_html_controls[] = {
    {kControlEdit, 0, &g_html_header}, {kControlEdit, 0, &g_html_footer},
    {kControlButton, 0, &g_html_ok},   {kControlButton, 0, &g_html_cancel}, {},
};
Dialog g_html_dialog{6, 7, 73, 15, kMarkupOptionsHelp, "HTML", 0, kHtmlLabels, g_html_controls};

void html_options() {
  ExportHtmlSettings& s = g_settings.export_html;
  dialog_prepare(g_html_dialog);
  edit_set_text(g_html_header, s.header.c_str());
  edit_set_text(g_html_footer, s.footer.c_str());
  int result = dialog_run(g_html_dialog, nullptr);
  std::string header = g_html_header.text, footer = g_html_footer.text;
  dialog_finish(g_html_dialog);
  if (result != 1) return;
  s.header = header;
  s.footer = footer;
  settings_save_export_html();
}

// ---- XML: the code-page table, chosen for this run of the program only ------------------

std::string g_tbl_folder = "tbl";
std::optional<XmlCodeTable> g_xml_table;

DialogList g_xml_tables{8, 9, 46, 0, nullptr, nullptr};
DialogPushButton g_xml_ok{24, 12, nullptr, "OK", 1, 1};
DialogPushButton g_xml_cancel{40, 12, nullptr, "Cancel", 0, 0};
DialogControl g_xml_controls[] = {
    {kControlList, 0, &g_xml_tables}, {kControlButton, 0, &g_xml_ok}, {kControlButton, 0, &g_xml_cancel}, {},
};
Dialog g_xml_dialog{6, 7, 73, 14, kMarkupOptionsHelp, "XML", 0, nullptr, g_xml_controls};

void xml_options() {
  std::vector<XmlCodeTable> tables = list_xml_code_tables(g_tbl_folder);
  std::vector<MenuItem> items{{"&Default", 0, kItemPlain, 0, nullptr}};
  int chosen = 0;
  for (const XmlCodeTable& table : tables) {
    if (g_xml_table && g_xml_table->encoding == table.encoding) chosen = int(items.size());
    items.push_back({table.title.c_str(), 0, kItemPlain, 0, nullptr});
  }
  items.push_back({nullptr, 0, 0, 0, nullptr});
  g_xml_tables.items = items.data();
  g_xml_tables.selected = chosen;
  dialog_prepare(g_xml_dialog);
  int result = dialog_run(g_xml_dialog, nullptr);
  chosen = g_xml_tables.selected;
  dialog_finish(g_xml_dialog);
  g_xml_tables.items = nullptr;
  if (result != 1) return;
  if (chosen > 0 && chosen <= int(tables.size())) {
    g_xml_table = tables[size_t(chosen - 1)];
  } else {
    g_xml_table.reset();
  }
}

// ---- the Export dialog ------------------------------------------------------------------

MenuItem g_format_items[] = {
    {"&Text file (*.txt)", 0, 0, 0, nullptr}, {"&Clipper file (*.prg)", 0, 0, 0, nullptr},
    {"&FoxPro file (*.prg)", 0, 0, 0, nullptr}, {"&SQL file (*.sql)", 0, 0, 0, nullptr},
    {"&HTML file (*.htm)", 0, 0, 0, nullptr}, {"&DBF file (*.dbf)", 0, 0, 0, nullptr},
    {"&XML file (*.xml)", 0, 0, 0, nullptr},  {"CS&V file (*.csv)", 0, 0, 0, nullptr},
    {"&JSON Lines (*.jsonl)", 0, 0, 0, nullptr}, {"SQLit&e database (*.sqlite)", 0, 0, 0, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

enum ExportValue {
  kOverwrite = 0,
  kRecords = 1,
  kCopyDeleted = 2,
  kCopyBlank = 3,
  kMemoAsText = 4,
  kDeleteMark = 5,
  kNumeration = 6,
  kCodepage = 7,
  kStructure = 8,
  kHeader = 9,
  kDetail = 10,
  kShowFile = 11,
};

void format_options(int, int);

const DialogDecoration kExportFrames[] = {
    {4, 2, 40, 4, "Format"},       {4, 5, 74, 7, "Filename"},  {4, 8, 26, 11, "Existing file"},
    {27, 8, 74, 11, "Records"},    {4, 12, 31, 18, "Options"}, {32, 12, 47, 17, "Codepage"},
    {48, 12, 74, 18, "Bands"},     {},
};
DialogList g_format{6, 3, 30, 0, nullptr, g_format_items};
DialogPushButton g_options{44, 3, format_options, "Options", 0, 0};
EditField g_file_name{.x = 5, .y = 6, .width = 68, .size = kFileNameSize};
DialogRadio g_append{6, 9, 0, "Append", kOverwrite, 0};
DialogRadio g_overwrite{6, 10, 0, "Overwrite", kOverwrite, 1};
DialogRadio g_all{29, 9, 0, "All", kRecords, 0};
DialogRadio g_current{38, 9, 0, "Current", kRecords, 1};
DialogRadio g_following{51, 9, 0, "Following", kRecords, 2};
EditField g_record_list{.x = 29, .y = 10, .width = 30, .size = kRecordListSize, .allowed = kAllowRecordList};
DialogCheck g_copy_deleted{6, 13, 0, "Copy deleted records", kCopyDeleted};
DialogCheck g_copy_blank{6, 14, 0, "Copy blank records", kCopyBlank};
DialogCheck g_memo_as_text{6, 15, 0, "Memo as text", kMemoAsText};
DialogCheck g_delete_mark{6, 16, 0, "Mark of deleting", kDeleteMark};
DialogCheck g_numeration{6, 17, 0, "Records numbers", kNumeration};
DialogRadio g_as_is{34, 13, 0, "As is", kCodepage, 0};
DialogRadio g_ansi{34, 14, 0, "Ansi", kCodepage, 1};
DialogRadio g_oem{34, 15, 0, "OEM", kCodepage, 2};
DialogRadio g_utf8{34, 16, 0, "UTF-8", kCodepage, 3};
DialogCheck g_structure{50, 13, 0, "Structure", kStructure};
DialogCheck g_header{50, 14, 0, "Column headers", kHeader};
DialogCheck g_detail{50, 15, 0, "Detail", kDetail};
DialogCheck g_show_file{50, 16, 0, "Show resulting file", kShowFile};
DialogPushButton g_export_ok{24, 20, nullptr, "OK", 1, 1};
DialogPushButton g_export_cancel{42, 20, nullptr, "Cancel", 0, 0};
// In this order: the histories know the file name as control 2 and the
// record list as control 8.
DialogControl g_export_controls[] = {
    {kControlList, 0, &g_format},        {kControlButton, 0, &g_options},     {kControlEdit, 0, &g_file_name},
    {kControlRadio, 0, &g_append},       {kControlRadio, 0, &g_overwrite},    {kControlRadio, 0, &g_all},
    {kControlRadio, 0, &g_current},      {kControlRadio, 0, &g_following},    {kControlEdit, 0, &g_record_list},
    {kControlCheck, 0, &g_copy_deleted}, {kControlCheck, 0, &g_copy_blank},   {kControlCheck, 0, &g_memo_as_text},
    {kControlCheck, 0, &g_delete_mark},  {kControlCheck, 0, &g_numeration},   {kControlRadio, 0, &g_as_is},
    {kControlRadio, 0, &g_ansi},         {kControlRadio, 0, &g_oem},          {kControlRadio, 0, &g_utf8},
    {kControlCheck, 0, &g_structure},    {kControlCheck, 0, &g_header},       {kControlCheck, 0, &g_detail},
    {kControlCheck, 0, &g_show_file},    {kControlButton, 0, &g_export_ok},   {kControlButton, 0, &g_export_cancel},
    {},
};
constexpr int kRecordListControl = 8;
constexpr int kOkControl = 22;
Dialog g_export_dialog{2, 1, 76, 22, kExportHelp, "Export", 0, kExportFrames, g_export_controls};

void format_options(int, int) {
  switch (kListFormats[std::clamp(g_format.selected, 0, kLastListFormat)]) {
    case ExportFormat::kText: txt_options(); break;
    case ExportFormat::kClipper:
    case ExportFormat::kFoxPro: prg_options(); break;
    case ExportFormat::kSql: sql_options(); break;
    case ExportFormat::kHtml: html_options(); break;
    case ExportFormat::kDbf: memo_type_dialog(); break;
    case ExportFormat::kXml: xml_options(); break;
    default: break;  // CSV, JSON Lines and SQLite have no options
  }
}

bool filled(const EditField& field) { return field.text && field.text[0]; }

// While the user has never chosen a code page, the choice follows the
// format (UTF-8 for CSV, as stored for the others) until they change it;
// -1 once the user's own choice stands.
int g_default_codepage = -1;

ExportFormat selected_format() { return kListFormats[std::clamp(g_format.selected, 0, kLastListFormat)]; }

int export_hook(int, Dialog& dialog, int) {
  int* v = dialog.values;
  if (g_default_codepage >= 0 && v[kCodepage] != g_default_codepage) g_default_codepage = -1;
  if (g_default_codepage >= 0) v[kCodepage] = g_default_codepage = int(export_codepage_setting(-1, selected_format()));
  bool following = v[kRecords] == 2;
  dialog.controls[kRecordListControl].disabled = following ? 0 : 1;
  bool some_band = v[kStructure] || v[kHeader] || v[kDetail] || v[kShowFile];
  bool ready = filled(g_file_name) && (!following || filled(g_record_list)) && some_band;
  dialog.controls[kOkControl].disabled = ready ? 0 : 1;
  return 0;
}

constexpr int kCheckValues[] = {kCopyDeleted, kCopyBlank, kMemoAsText, kDeleteMark, kNumeration,
                                kStructure,   kHeader,    kDetail,     kShowFile};
int* check_setting(ExportSettings& s, int value) {
  switch (value) {
    case kCopyDeleted: return &s.copy_deleted;
    case kCopyBlank: return &s.copy_blank;
    case kMemoAsText: return &s.memo_as_text;
    case kDeleteMark: return &s.delete_mark;
    case kNumeration: return &s.numeration;
    case kStructure: return &s.structure;
    case kHeader: return &s.header;
    case kDetail: return &s.detail;
    default: return &s.show_file;
  }
}

// Runs the dialog over the [Export] settings; on OK stores and saves them
// and gives the records to export. The selection is used itself while its
// prefilled text stands unchanged.
bool ask_export(const Table& table, RecordList& list) {
  ExportSettings& s = g_settings.export_options;
  RecordList selected = record_list_from_selection(table, table_state(table).selection);
  std::string preset = selected.empty() ? std::string() : format_record_list(selected);
  g_record_list.size = std::max(kRecordListSize, int(preset.size()));
  g_format.selected = list_index(s.type);
  dialog_prepare(g_export_dialog);
  edit_set_text(g_file_name, s.filename.c_str());
  edit_set_text(g_record_list, preset.c_str());
  int* v = g_export_dialog.values;
  v[kOverwrite] = s.overwrite;
  v[kRecords] = selected.empty() ? s.records : 2;
  g_default_codepage = s.codepage < 0 ? int(export_codepage_setting(-1, selected_format())) : -1;
  v[kCodepage] = s.codepage < 0 ? g_default_codepage : s.codepage;
  for (int value : kCheckValues) v[value] = *check_setting(s, value);
  int result = dialog_run(g_export_dialog, export_hook);
  std::string name = g_file_name.text, text = g_record_list.text;
  dialog_finish(g_export_dialog);
  g_record_list.size = kRecordListSize;
  if (result != 1 || name.empty()) return false;
  s.type = int(kListFormats[std::clamp(g_format.selected, 0, kLastListFormat)]);
  s.overwrite = v[kOverwrite];
  s.records = v[kRecords];
  if (g_default_codepage < 0) s.codepage = v[kCodepage];
  for (int value : kCheckValues) *check_setting(s, value) = v[value];
  s.filename = export_file_name(name, ExportFormat(s.type));
  settings_save_export();
  if (s.records == 2) list = text == preset ? std::move(selected) : parse_record_list(text, visible_count(table));
  return true;
}

// ---- running and showing ----------------------------------------------------------------

void report(const ExportResult& result) {
  if (result.output == OutputStatus::kCancelled) return;
  if (result.status == Status::kNoCommonField) {
    message_box("The table has no field named like an exported column.\nNothing was appended.", "Error", "OK",
                kMessageError, kToolErrorHelp);
    return;
  }
  if (result.ok() && !result.blank_fields.empty()) {
    std::string text = "No exported column has the name of " + name_list(result.blank_fields) +
                       ":\nthe appended records leave " + (result.blank_fields.size() == 1 ? "it" : "them") + " blank.";
    message_box(text, "Export", "OK", 0, kExportHelp);
  }
  if (result.output == OutputStatus::kCannotOpen) {
    message_box(open_failure_text(result.status), "Error", "OK", kMessageError, kToolErrorHelp);
    return;
  }
  if (result.output == OutputStatus::kOpenTable) return report_output_status(result.output);
  if (result.status == Status::kNotInCodePage) {
    message_box(result.refusal + ".\nNothing was exported.", "Error", "OK", kMessageError, kToolErrorHelp);
    return;
  }
  if (result.ok() && !result.warnings.empty()) {
    // What the file could not carry as stored (unreadable memos, decimals
    // longer than a SQLite REAL): the first few, and how many in all.
    std::string text;
    for (size_t k = 0; k < result.warnings.size() && k < 3; ++k) text += result.warnings[k] + "\n";
    if (result.warnings.size() > 3) text += std::to_string(result.warnings.size()) + " warnings in all\n";
    text.pop_back();
    message_box(text, "Export", "OK", 0, kExportHelp);
  }
  if (result.ok() && result.refused > 0) {
    message_box("Values the target's fields could not take: " + std::to_string(result.refused) +
                    "\nThose fields were left blank." + (result.refusal.empty() ? "" : "\nThe first: " + result.refusal),
                "Information", "OK", 0, kToolErrorHelp);
    return;
  }
  if (result.ok() || result.status == Status::kAborted) return;
  std::string text = result.status == Status::kReadError ? "Cannot read file" : "Cannot write file";
  if (const char* cause = status_cause_text(result.status); cause && *cause) text.append("\n").append(cause);
  message_box(text, "Error", "OK", kMessageError, kToolErrorHelp);
}

uint64_t record_total(const Table& table, const ExportOptions& options) {
  switch (options.records) {
    case ExportRecords::kCurrent: return 1;
    case ExportRecords::kFollowing: return options.list.count();
    default: return visible_count(table);
  }
}

bool run_export(Table& table, const std::string& path, const ExportOptions& options) {
  OutputGuard guard = program_output_guard();
  guard.confirm_replace = [](const std::string&) {
    return message_box("Do you wish to overwrite the existing file?", "Attention", "OK\nCancel", 0, kExportHelp) == 0;
  };
  ExportResult result;
  {
    ProgressScope box(record_total(table, options), Stop::kOnEscape);
    result = export_table(table, path, options, guard, box.callback());
  }
  g_app.redraw |= kRedrawAll;
  report(result);
  return result.ok();
}

// A text result in the editor, read-only so that it is never written back;
// a large one is only named.
void show_text_file(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return;
  if (uint64_t(info.st_size) > kShowFileLimit) {
    std::string text = "The file is too large to show.\nIt is saved as\n" + path;
    message_box(text, "Export", "OK", 0, kResultHelp);
    return;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  std::unique_ptr<TextEditor> editor =
      text_create(bytes.str().c_str(), 9, 3, screen_cols() - 10, screen_rows() - 4, 0, path);
  if (!editor) return;
  editor->read_only = 1;
  text_run(*editor, kResultHelp, g_ui_idle_hook);
  text_free(editor);
  g_app.redraw |= kRedrawAll;
}

void show_result(const std::string& path, ExportFormat format) {
  if (format == ExportFormat::kSqlite) return;  // no text to show
  if (format == ExportFormat::kDbf) {
    open_and_show(path);
  } else {
    show_text_file(path);
  }
}

void export_and_show(Table& table, const std::string& path, const ExportOptions& options, bool show) {
  if (run_export(table, path, options) && show) show_result(path, options.format);
}

}  // namespace

ExportOptions export_options_from_settings() {
  const Settings& g = g_settings;
  const ExportSettings& s = g.export_options;
  ExportOptions o;
  o.format = ExportFormat(s.type == 7 ? 0 : s.type);
  o.overwrite = s.overwrite != 0;
  o.records = ExportRecords(std::clamp(s.records, 0, 2));
  o.copy_deleted = s.copy_deleted != 0;
  o.copy_blank = s.copy_blank != 0;
  o.memo_as_text = s.memo_as_text != 0;
  o.delete_mark = s.delete_mark != 0;
  o.numeration = s.numeration != 0;
  o.codepage = export_codepage_setting(s.codepage, o.format);
  o.structure = s.structure != 0;
  o.header = s.header != 0;
  o.detail = s.detail != 0;
  o.trim = ExportTrim(std::clamp(g.export_txt.trim_text, 0, 3));
  o.delimiters = g.export_txt.delimiters != 0;
  o.delimiter = g.export_txt.ver_dlm;
  o.quoting = g.export_txt.quoting != 0;
  o.quote_char = quote_of(g.export_txt.quote_char);
  o.sql2000 = g.export_sql.sql2000 != 0;
  o.sql_quote = quote_of(g.export_sql.quote_char);
  o.prg_quote = std::clamp(g.export_prg.quote_char, 0, 2);
  o.html_header = g.export_html.header;
  o.html_footer = g.export_html.footer;
  o.dbf_kind = std::clamp(g.export_dbf.memo_type, 0, 4);
  o.block_size = g.export_dbf.block_size;
  o.xml_table = g_xml_table;
  return o;
}

void export_install(const std::string& program_path) {
  size_t slash = program_path.rfind('/');
  g_tbl_folder = (slash == std::string::npos ? std::string(".") : program_path.substr(0, slash)) + "/tbl";
  g_xml_table.reset();
}

void export_command() {
  Table* table = g_app.table();
  if (!table || !settle_edit()) return;
  RecordList list;
  if (!ask_export(*table, list)) return;
  ExportOptions options = export_options_from_settings();
  options.current = uint32_t(current_state().view.current_record);
  options.list = std::move(list);
  const ExportSettings& s = g_settings.export_options;
  export_and_show(*table, s.filename, options, s.show_file != 0);
}

void quick_export(ExportFormat format) {
  Table* table = g_app.table();
  if (!table || !settle_edit()) return;
  std::optional<std::string> name = input_filename(export_extension(format));
  if (!name) return;
  ExportOptions options = export_options_from_settings();
  options.format = format;
  options.overwrite = true;
  options.records = ExportRecords::kAll;
  options.copy_deleted = options.copy_blank = options.memo_as_text = true;
  options.delete_mark = options.numeration = false;
  options.codepage = export_codepage_setting(-1, format);
  options.structure = options.header = false;
  options.detail = true;
  export_and_show(*table, export_file_name(*name, format), options, true);
}

}  // namespace kora
