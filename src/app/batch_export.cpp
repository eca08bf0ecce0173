#include "app/batch_export.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/app_state.h"
#include "app/main_loop.h"
#include "app/status_text.h"
#include "table/file_guards.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/table_cipher.h"
#include "table/text_code_page.h"
#include "tools/condition.h"
#include "tools/filter.h"
#include "tools/output_file.h"
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

ExportCodepage export_codepage_setting(int value, ExportFormat format) {
  if (value >= 0 && value <= 3) return ExportCodepage(value);
  // JSON Lines and SQLite hold UTF-8 whatever is chosen; the dialog says so.
  bool utf8 = format == ExportFormat::kCsv || format == ExportFormat::kJsonl || format == ExportFormat::kSqlite;
  return utf8 ? ExportCodepage::kUtf8 : ExportCodepage::kAsIs;
}

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
  o.codepage = export_codepage_setting(e.codepage, format);
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

ExportOptions batch_export_options(ExportFormat format, const BatchExport& batch) {
  ExportOptions o = export_options_from_settings(batch.ini ? g_settings : Settings{}, format);
  if (batch.ini) return o;
  o.overwrite = !batch.append;
  o.copy_blank = true;
  o.copy_deleted = batch.deleted;
  o.delete_mark = batch.deleted;
  o.deleted_column = batch.deleted;
  o.binary_as_base64 = true;
  o.memo_as_text = true;
  // Text formats in UTF-8 (a UTF-8 table's text passes unchanged); a DBF
  // keeps the table's code page.
  o.codepage = format == ExportFormat::kDbf ? ExportCodepage::kAsIs : ExportCodepage::kUtf8;
  return o;
}

namespace {

int usage(const std::string& what) {
  fail(what);
  return kBatchUsage;
}

// Where the output goes: standard output, a stream written as it comes (a
// pipe, a terminal, /dev/fd/N), or a file replaced (or appended to) whole.
enum class Target { kStdout, kStream, kFile };

// The target of the output name, or a usage error's text.
Target output_target(const std::string& output, std::string& problem) {
  if (output.empty() || output == "-") return Target::kStdout;
  struct stat info;
  if (output.starts_with("/dev/fd/")) return Target::kStream;
  if (stat(output.c_str(), &info) != 0) return Target::kFile;
  if (S_ISDIR(info.st_mode)) problem = output + ": is a folder, not a file";
  if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode) || S_ISSOCK(info.st_mode)) return Target::kStream;
  return Target::kFile;
}

// One entry of /s: or /c:: a field name, and whether it sorts descending.
struct NamedField {
  std::string name;
  bool descending = false;
};

std::vector<NamedField> split_field_list(const std::string& list) {
  std::vector<NamedField> fields;
  size_t at = 0;
  while (at <= list.size()) {
    size_t end = list.find_first_of(",;", at);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(at, end - at);
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!item.empty() && blank(item.back())) item.pop_back();
    while (!item.empty() && blank(item.front())) item.erase(0, 1);
    NamedField field;
    if (item.starts_with('-')) {
      field.descending = true;
      item.erase(0, 1);
    } else if (item.size() > 5 && strcasecmp(item.c_str() + item.size() - 5, " desc") == 0) {
      field.descending = true;
      item.resize(item.size() - 5);
      while (!item.empty() && blank(item.back())) item.pop_back();
    }
    field.name = item;
    fields.push_back(field);
    at = end + 1;
  }
  return fields;
}

// The column index of a field or computed column, -1 when there is none.
int named_column(const Table& table, const std::string& name) {
  int i = find_field(table, name);
  return i >= 0 ? i : find_computed_column(table.columns, name);
}

// /c:: only the named columns are written, in the order named.
int choose_columns(Table& table, const std::string& list) {
  std::vector<int> chosen;
  for (const NamedField& field : split_field_list(list)) {
    int column = named_column(table, field.name);
    if (field.name.empty() || column < 0) return usage("/c: no field named \"" + field.name + "\" in " + table.file_name);
    chosen.push_back(column);
  }
  for (size_t k = 0; k < table.columns.flags.size(); ++k)
    table.columns.flags[k].visible = std::find(chosen.begin(), chosen.end(), int(k)) != chosen.end();
  arrange_columns(table.columns, chosen);
  return kBatchDone;
}

// /s:: fields, each ascending or descending; equal keys keep file order.
int sort_table(Table& table, const std::string& list, const ProgressCallback& progress) {
  std::string names;
  SortOptions options;
  for (const NamedField& field : split_field_list(list)) {
    if (field.name.empty() || named_column(table, field.name) < 0)
      return usage("/s: no field named \"" + field.name + "\" in " + table.file_name);
    names += field.name + ",";
    options.part_descending.push_back(field.descending);
  }
  Status status = sort_by_field_list(table, names, options, progress);
  if (status != Status::kOk) {
    fail(std::string("sort: ") + status_cause_text(status));
    return kBatchFailed;
  }
  return kBatchDone;
}

// Why a condition cannot be what the user meant: a comparison with nothing
// on a side, or one that names no field of the table (NOSUCH=1 would
// compare two words and pass no record, silently). Empty when sound.
std::string condition_problem(const Table& table, const std::string& condition) {
  if (!condition_is_sound(condition)) return "cannot be read";
  CompiledCondition compiled = compile_condition(table, condition, ConditionFlags{});
  auto empty = [](const CompiledSide& side) {
    for (const TemplatePiece& piece : side.pieces)
      if (piece.field >= 0 || piece.text.find_first_not_of(" \t") != std::string::npos) return false;
    return true;
  };
  auto names_field = [](const CompiledSide& side) {
    for (const TemplatePiece& piece : side.pieces)
      if (piece.field >= 0) return true;
    return false;
  };
  for (const CompiledComparison& c : compiled.comparisons) {
    if (!c.has_operator || empty(c.left) || empty(c.right)) return "cannot be read";
    if (!names_field(c.left) && !names_field(c.right)) return "names no field of the table";
  }
  return {};
}

int filter_table(Table& table, const std::string& utf8, const ProgressCallback& progress) {
  std::string condition;
  if (!condition_in_screen_text(table, utf8, condition)) return kBatchUsage;
  std::string problem = condition_problem(table, condition);
  if (!problem.empty()) return usage("/f:" + utf8 + ": " + problem);
  Status status = apply_filter(table, {FilterSource::kExpression, condition}, progress);
  if (status != Status::kOk) {
    fail(std::string("filter: ") + status_cause_text(status));
    return kBatchFailed;
  }
  return kBatchDone;
}

// The first line of a file (without its end), empty when there is none.
std::string first_line(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return {};
  std::string line;
  for (int c; (c = std::fgetc(f)) != EOF && c != '\n';) line += char(c);
  std::fclose(f);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// What an export writes before its first record (the header line).
std::string export_head(Table& table, const ExportOptions& options) {
  ExportOptions head = options;
  head.detail = false;
  std::string text;
  export_to_writer(table, head, [&](std::string_view bytes) {
    text += bytes;
    return true;
  });
  return text;
}

// Appending a text export: the file's header line must be the one this
// export writes, which is then not written again. `skip` gets the bytes to
// leave out; false (with a message) when the file holds another header.
bool append_head(Table& table, const ExportOptions& options, const std::string& path, size_t& skip) {
  skip = 0;
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || info.st_size == 0) return true;
  std::string head = export_head(table, options);
  if (head.empty()) return true;  // JSON Lines: records only
  std::string line = head.substr(0, head.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (first_line(path) != line) {
    fail(path + ": /append: the file holds another header line than this export's");
    return false;
  }
  skip = head.size();
  return true;
}

// Appending to a table: it must have the exported columns' fields, of the
// same names and types, in the same order; false (with a message) when not.
bool same_structure(const Table& source, const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return true;  // a new table is made
  std::unique_ptr<Table> target = open_table(path);
  if (!target) return true;  // the export says why it cannot write it
  bool same = column_count(source) == target->field_count();
  for (int k = 0; same && k < column_count(source); ++k) {
    int i = column_field(source, k);
    same = i >= 0 && i < source.field_count() && strcasecmp(field_name(source, i).c_str(), field_name(*target, k).c_str()) == 0 &&
           field_type(source, i) == field_type(*target, k);
  }
  close_table(target);
  if (!same) fail(path + ": /append: the table has other fields than this export's");
  return same;
}

// A writer onto a file descriptor.
ExportWriter fd_writer(int fd) {
  return [fd](std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::write(fd, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(size_t(n));
    }
    return true;
  };
}

// Appends the records to a text file that has the export's header line.
ExportResult append_rows(Table& table, const std::string& path, const ExportOptions& options, size_t skip,
                         const ProgressCallback& progress) {
  OutputGuard guard{{table.file_name, table.memo_file_name}, [](const std::string&) { return true; }};
  TempOutput output;
  ExportResult result;
  result.output = output.open(path, true, guard);
  if (result.output != OutputStatus::kOk) return result;
  auto write = [&](std::string_view bytes) {
    size_t dropped = std::min(skip, bytes.size());
    skip -= dropped;
    return output.write(bytes.substr(dropped));
  };
  result = export_to_writer(table, options, write, progress);
  if (result.ok()) result.output = output.commit();
  return result;
}

// Records of an encoded table read without its password (or with a wrong
// one) show noise where the deletion byte stands: neither a blank nor '*'.
// How many of the first records do, and how many were read.
struct Noise {
  uint32_t noisy = 0;
  uint32_t read = 0;
};
Noise deletion_byte_noise(Table& table) {
  Noise noise;
  uint32_t sample = std::min<uint32_t>(table.record_count, 16);
  for (uint32_t q = 0; q < sample && read_record(table, q); ++q, ++noise.read) {
    uint8_t mark = table.record[0];
    if (mark != ' ' && mark != '*') ++noise.noisy;
  }
  return noise;
}

// The password typed at the terminal, not shown.
std::string ask_password() {
  std::fputs("Password: ", stderr);
  std::fflush(stderr);
  termios before{};
  bool quiet = tcgetattr(STDIN_FILENO, &before) == 0;
  if (quiet) {
    termios silent = before;
    silent.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
  }
  std::string password;
  for (int c; (c = std::getchar()) != EOF && c != '\n';) password += char(c);
  if (quiet) tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
  std::fputs("\n", stderr);
  return password;
}

// An encoded table is read under the password of $KORA_PASSWORD or, at a
// terminal, the one typed; never one from the command line.
int unlock_table(Table& table) {
  Noise plain = deletion_byte_noise(table);
  if (plain.read == 0 || plain.noisy < plain.read) return kBatchDone;
  const char* given = std::getenv("KORA_PASSWORD");
  std::string password;
  if (given && *given) password = given;
  else if (isatty(STDIN_FILENO)) password = ask_password();
  else return usage(table.file_name + ": the table is encoded: give its password in KORA_PASSWORD");
  set_table_password(table, password);
  if (password.empty() || deletion_byte_noise(table).noisy > 0)
    return usage(table.file_name + ": wrong password for the encoded table");
  return kBatchDone;
}

// Writes the export where the target says; the result as export_table's.
ExportResult write_output(Table& table, const BatchExport& batch, const ExportOptions& options, Target target,
                          const ProgressCallback& progress) {
  if (target == Target::kFile) {
    OutputGuard guard{{table.file_name, table.memo_file_name}, [](const std::string&) { return true; }};
    return export_table(table, batch.output, options, guard, progress);
  }
  std::fflush(stdout);
  if (target == Target::kStdout) return export_to_writer(table, options, fd_writer(STDOUT_FILENO), progress);
  UniqueFd stream(open(batch.output.c_str(), O_WRONLY | O_CLOEXEC | (batch.append ? O_APPEND : 0)));
  if (stream.fd < 0) return {OutputStatus::kCannotOpen, Status::kOk, 0, 0, {}, {}, {}};
  ExportResult result = export_to_writer(table, options, fd_writer(stream.fd), progress);
  if (!stream.close_checked() && result.output == OutputStatus::kOk) result.output = OutputStatus::kWriteFailed;
  return result;
}

}  // namespace

int run_batch_export(const BatchExport& batch) {
  ExportFormat format;
  if (!export_format_from_name(batch.format, format))
    return usage("/x:" + batch.format + ": unknown export format (txt, clipper, foxpro, sql, html, dbf, xml, csv, jsonl, sqlite)");
  if (batch.table.empty()) return usage("no table named");
  std::string problem;
  Target target = output_target(batch.output, problem);
  if (!problem.empty()) return usage(problem);
  if (target != Target::kFile && (format == ExportFormat::kDbf || format == ExportFormat::kSqlite))
    return usage(std::string(format == ExportFormat::kDbf ? "a DBF" : "a SQLite") + " export needs an output file name, not a stream");
  std::shared_ptr<const CodePage> output_page;
  if (!batch.encoding.empty()) {
    if (format == ExportFormat::kDbf) return usage("/e:" + batch.encoding + ": a dbf export keeps the table's code page");
    output_page = CodePage::find(batch.encoding);
    if (!output_page) return usage("/e:" + batch.encoding + ": unknown code page (866, 1251, 1252, UTF-8...)");
    // JSON and SQLite hold their text in UTF-8 only.
    if ((format == ExportFormat::kJsonl || format == ExportFormat::kSqlite) && output_page->number() != 65001)
      return usage("/e:" + batch.encoding + ": a " + batch.format + " export is written in UTF-8");
  }
  // A database takes appended rows into its table itself.
  bool appends_text = batch.append && format != ExportFormat::kDbf && format != ExportFormat::kSqlite;
  if (appends_text && format != ExportFormat::kCsv && format != ExportFormat::kText && format != ExportFormat::kJsonl)
    return usage("/append: a " + batch.format + " export cannot be appended to; csv, txt, jsonl, dbf and sqlite can");

  set_table_list_options();
  OpenFailure why;
  std::unique_ptr<Table> table = open_list_table(g_app.tables, batch.table, &why);
  if (!table) return usage(batch.table + ": " + open_failure_text(why));
  int warnings = 0;
  auto warn = [&](const std::string& text) {
    std::fprintf(stderr, "kora: %s: warning: %s\n", batch.table.c_str(), text.c_str());
    ++warnings;
  };
  if (!table->recovery_note.empty()) warn(table->recovery_note);
  if (memo_file_missing(*table)) warn("no memo file " + table->memo_file_name + ": memo texts are not exported");
  // A header that disagrees with the file: what the file holds is exported,
  // and the records the header promised but the file lacks are named.
  uint8_t count[4] = {};
  if ((table->header_errors & kBadRecordCount) && pread(table->fd, count, sizeof count, 4) == ssize_t(sizeof count)) {
    uint32_t stated = uint32_t(count[0]) | uint32_t(count[1]) << 8 | uint32_t(count[2]) << 16 | uint32_t(count[3]) << 24;
    if (stated > table->record_count) {
      std::string text = "record ";
      text += std::to_string(table->record_count + 1);
      text += " is cut short or missing at the end of the file (the header says ";
      text += std::to_string(stated);
      text += " records; the file holds ";
      text += std::to_string(table->record_count);
      text += " whole ones, which are exported)";
      warn(text);
    }
  }
  apply_settings(*table);
  if (batch.code_page) set_code_page(*table, batch.code_page);
  if (int status = unlock_table(*table); status != kBatchDone) return status;

  ProgressCallback progress = terminal_progress();
  int status = kBatchDone;
  if (!batch.columns.empty()) status = choose_columns(*table, batch.columns);
  if (status == kBatchDone && !batch.filter.empty()) status = filter_table(*table, batch.filter, progress);
  if (status == kBatchDone && !batch.sort.empty()) status = sort_table(*table, batch.sort, progress);
  if (status != kBatchDone) return status;

  ExportOptions options = batch_export_options(format, batch);
  if (output_page) {
    options.codepage = ExportCodepage::kPage;
    options.page = output_page;
  }
  size_t skip = 0;
  if (appends_text && target == Target::kFile && !append_head(*table, options, batch.output, skip)) return kBatchUsage;
  if (batch.append && format == ExportFormat::kDbf && !same_structure(*table, batch.output)) return kBatchUsage;
  ExportResult result = skip > 0 ? append_rows(*table, batch.output, options, skip, progress)
                                 : write_output(*table, batch, options, target, progress);
  const std::string where = target == Target::kStdout ? std::string("standard output") : batch.output;
  if (result.output != OutputStatus::kOk) {
    fail(output_failure(result.output, where));
    return kBatchFailed;
  }
  if (result.status == Status::kNotInCodePage) {
    fail(batch.table + ": " + result.refusal);
    return kBatchFailed;
  }
  if (result.status != Status::kOk) {
    fail(std::string(batch.table) + ": " + status_cause_text(result.status));
    return kBatchFailed;
  }
  for (const std::string& warning : result.warnings) warn(warning);
  if (result.refused > 0)
    warn(std::to_string(result.refused) + " values the fields of " + where + " could not take were left blank" +
         (result.refusal.empty() ? "" : ", the first: " + result.refusal));
  return batch.strict && warnings > 0 ? kBatchFailed : kBatchDone;
}

}  // namespace kora
