#include "app/batch_export.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/app_state.h"
#include "app/main_loop.h"
#include "app/status_text.h"
#include "table/memo_file.h"
#include "table/text_code_page.h"
#include "tools/filter.h"
#include "tools/sort.h"
#include "ui/codepage.h"

namespace kora {

namespace {

void fail(const std::string& what) {
  std::string line = "kora: ";
  for (char ch : what) {
    if (ch == '\n') line += ": ";
    else line += ch;
  }
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

// A condition the filter would quietly read as "no record": parentheses out
// of balance, or a part between & and | with no comparison in it.
bool condition_is_sound(const std::string& condition) {
  int depth = 0;
  bool comparison = false;
  for (char ch : condition) {
    if (ch == '(') ++depth;
    if (ch == ')' && --depth < 0) return false;
    if (ch == '=' || ch == '<' || ch == '>' || ch == '~') comparison = true;
    if (ch == '&' || ch == '|') {
      if (!comparison) return false;
      comparison = false;
    }
  }
  return depth == 0 && comparison;
}

// The first name of the list that is no field of the table, or empty.
std::string unknown_field(const Table& table, const std::string& list) {
  size_t at = 0;
  while (at < list.size()) {
    size_t end = list.find_first_of(";, \t\r\n", at);
    if (end == std::string::npos) end = list.size();
    std::string name = list.substr(at, end - at);
    if (!name.empty() && find_field(table, name) < 0 && find_computed_column(table.columns, name) < 0) return name;
    at = end + 1;
  }
  return std::string();
}

// Progress on standard error, only when a person watches it.
ProgressCallback terminal_progress() {
  if (!isatty(STDERR_FILENO)) return {};
  return [last = -1](uint64_t done, uint64_t total) mutable {
    int percent = total ? int(done * 100 / total) : 100;
    if (percent != last) std::fprintf(stderr, "\r%3d%%", percent);
    last = percent;
    if (done >= total) std::fputs("\r    \r", stderr);
    return true;
  };
}

std::string output_failure(OutputStatus output, const std::string& path) {
  switch (output) {
    case OutputStatus::kOpenTable: return path + ": the file is the table being exported";
    case OutputStatus::kCancelled: return path + ": the file exists";
    case OutputStatus::kCannotOpen: return path + ": Cannot open file";
    default: return path + ": Cannot write file";
  }
}

}  // namespace

ExportOptions export_options_from_settings(const Settings& settings, ExportFormat format) {
  const ExportSettings& e = settings.export_options;
  ExportOptions o;
  o.format = format;
  o.overwrite = e.overwrite != 0;
  o.copy_deleted = e.copy_deleted != 0;
  o.copy_blank = e.copy_blank != 0;
  o.memo_as_text = e.memo_as_text != 0;
  o.delete_mark = e.delete_mark != 0;
  o.numeration = e.numeration != 0;
  o.codepage = ExportCodepage(e.codepage >= 0 && e.codepage <= 2 ? e.codepage : 0);
  o.structure = e.structure != 0;
  o.header = e.header != 0;
  o.detail = e.detail != 0;
  o.trim = ExportTrim(settings.export_txt.trim_text & 3);
  o.delimiters = settings.export_txt.delimiters != 0;
  o.delimiter = settings.export_txt.ver_dlm;
  o.quoting = settings.export_txt.quoting != 0;
  o.quote_char = settings.export_txt.quote_char;
  o.sql2000 = settings.export_sql.sql2000 != 0;
  o.sql_quote = settings.export_sql.quote_char;
  o.prg_quote = settings.export_prg.quote_char;
  o.html_header = settings.export_html.header;
  o.html_footer = settings.export_html.footer;
  o.dbf_kind = settings.export_dbf.memo_type;
  o.block_size = settings.export_dbf.block_size;
  return o;
}

namespace {

// A condition comes in UTF-8, as a shell passes what the user typed;
// conditions compare texts as the screen shows them: in code page 866 for
// tables in 866 and 1251, in its own code page for any other table. A text
// that is no UTF-8 is taken as it stands (a script written in 866).
bool condition_in_screen_text(const Table& table, const std::string& utf8, std::string& out) {
  if (in_other_code_page(table)) {
    char32_t bad = 0;
    if (table.code_page->from_utf8(utf8, out, &bad)) return true;
    if (bad == U'\uFFFD') {
      out = utf8;
      return true;
    }
    fail("the condition holds a character the table's text cannot hold: " + cannot_hold_text(*table.code_page, bad));
    return false;
  }
  std::uint32_t bad = 0;
  switch (utf8_to_cp866(utf8, out, &bad)) {
    case Utf8To866::kDone: return true;
    case Utf8To866::kNotUtf8: out = utf8; return true;
    case Utf8To866::kNotHeld: break;
  }
  char character[8] = {};
  utf8_encode(bad, character);
  fail(std::string("the condition holds ") + character + ", which the table's text cannot hold: " + utf8);
  return false;
}

}  // namespace

int run_batch_export(const BatchExport& batch) {
  ExportFormat format;
  if (!export_format_from_name(batch.format, format)) {
    fail("unknown export format \"" + batch.format + "\" (txt, clipper, foxpro, sql, html, dbf, xml, csv)");
    return 1;
  }
  if (batch.table.empty()) {
    fail("no table named");
    return 1;
  }
  const bool to_stdout = batch.output.empty() || batch.output == "-";
  if (to_stdout && format == ExportFormat::kDbf) {
    fail("a DBF export needs an output file name");
    return 1;
  }
  set_table_list_options();
  OpenFailure why;
  std::unique_ptr<Table> table = open_list_table(g_app.tables, batch.table, &why);
  if (!table) {
    fail(batch.table + ": " + open_failure_text(why));
    return 1;
  }
  if (!table->recovery_note.empty()) std::fprintf(stderr, "kora: %s: %s\n", batch.table.c_str(), table->recovery_note.c_str());
  if (memo_file_missing(*table)) {
    std::fprintf(stderr, "kora: %s: no memo file %s: memo texts are not exported\n", batch.table.c_str(),
                 table->memo_file_name.c_str());
  }
  apply_settings(*table);
  if (batch.code_page) set_code_page(*table, batch.code_page);
  ProgressCallback progress = terminal_progress();
  if (!batch.filter.empty()) {
    if (!condition_is_sound(batch.filter)) {
      fail("bad condition: " + batch.filter);
      return 1;
    }
    std::string condition;
    if (!condition_in_screen_text(*table, batch.filter, condition)) return 1;
    Status status = apply_filter(*table, {FilterSource::kExpression, condition}, progress);
    if (status != Status::kOk) {
      fail(std::string("filter: ") + status_cause_text(status));
      return 1;
    }
  }
  if (!batch.sort.empty()) {
    std::string unknown = unknown_field(*table, batch.sort);
    if (!unknown.empty()) {
      fail("no such field: " + unknown);
      return 1;
    }
    Status status = sort_by_field_list(*table, batch.sort, SortOptions{}, progress);
    if (status != Status::kOk) {
      fail(std::string("sort: ") + status_cause_text(status));
      return 1;
    }
  }
  ExportOptions options = export_options_from_settings(g_settings, format);
  ExportResult result;
  if (to_stdout) {
    result = export_to_writer(*table, options, [](std::string_view bytes) {
      return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
    }, progress);
    if (std::fflush(stdout) != 0) result.output = OutputStatus::kWriteFailed;
  } else {
    OutputGuard guard{{table->file_name, table->memo_file_name}, [](const std::string&) { return true; }};
    result = export_table(*table, export_file_name(batch.output, format), options, guard, progress);
  }
  if (result.output != OutputStatus::kOk) {
    fail(output_failure(result.output, to_stdout ? std::string("standard output") : batch.output));
    return 1;
  }
  if (result.status != Status::kOk) {
    fail(std::string(batch.table) + ": " + status_cause_text(result.status));
    return 1;
  }
  if (result.refused > 0)
    fail(batch.output + ": " + std::to_string(result.refused) + " values the fields could not take were left blank");
  return 0;
}

}  // namespace kora
