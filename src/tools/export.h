// Export: the records of a table as its view shows them (visible list, sort
// order, visible columns in column order) written out as a text listing, a
// Clipper or FoxPro program, an SQL script, an HTML page, a DBF table, an
// XML document, CSV, JSON Lines or a SQLite database.
//
// An export is up to three bands in this order: the structure, the column
// headers and the detail. Text files are written whole to a new file beside
// the target and renamed over it, so that a failed export leaves the old file
// as it was (Append copies the old contents first). A DBF target is made the
// same way when it is new or replaced; appending to an existing table adds
// records by field name. Nothing is ever written over a file open in kora.
//
//   ExportOptions options;            // from the program's settings
//   options.format = ExportFormat::kCsv;
//   ExportResult r = export_table(table, "out.csv", options, {}, guard, progress);
//   if (!r.ok()) ...                   // r.output, r.status say why
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_file.h"
#include "table/status.h"
#include "table/value_codec.h"
#include "table/text_code_page.h"
#include "tools/markup.h"
#include "tools/output_file.h"
#include "tools/record_list.h"

namespace kora {

// The stored format codes; 7 is unused, CSV is 8, later formats follow.
enum class ExportFormat : int {
  kText = 0,
  kClipper = 1,
  kFoxPro = 2,
  kSql = 3,
  kHtml = 4,
  kDbf = 5,
  kXml = 6,
  kCsv = 8,
  kJsonl = 9,
  kSqlite = 10,
};

enum class ExportTrim : int { kNone = 0, kLeft = 1, kRight = 2, kBoth = 3 };
// As the table stores it; 866 and 1251 turned into each other (ANSI, OEM);
// UTF-8; or the code page of ExportOptions::page. UTF-8 and a chosen page
// take each character exactly and refuse what the output cannot hold.
enum class ExportCodepage : int { kAsIs = 0, kAnsi = 1, kOem = 2, kUtf8 = 3, kPage = 4 };
enum class ExportRecords : int { kAll = 0, kCurrent = 1, kFollowing = 2 };

// A code-page table for XML exports, kept as a file "*.tbl": a 128-byte
// title, then what the bytes 0x80-0xFF become. The file's name without
// ".tbl" names the code page the XML then declares (koi8-r.tbl: "koi8-r").
struct XmlCodeTable {
  std::string title;     // the first 128 bytes without trailing blanks
  std::string encoding;  // declared in the XML prolog
  std::array<uint8_t, 128> map{};
};
constexpr size_t kXmlCodeTableTitle = 128;
constexpr size_t kMaxXmlCodeTables = 1021;

// The tables of a folder in file-name order, at most kMaxXmlCodeTables;
// folders, and files too short to hold a whole map, are left out.
std::vector<XmlCodeTable> list_xml_code_tables(const std::string& folder);

struct ExportOptions {
  ExportFormat format = ExportFormat::kText;
  bool overwrite = true;  // false: append to an existing file or table
  ExportRecords records = ExportRecords::kAll;
  uint32_t current = 0;  // the view position exported by kCurrent
  RecordList list;       // the view positions (from 0) exported by kFollowing
  bool copy_deleted = true;
  bool copy_blank = true;
  bool memo_as_text = true;
  bool delete_mark = false;
  // CSV: a leading column "_deleted" says T or F (the command line's /deleted).
  bool deleted_column = false;
  // Memo texts: a binary block (a picture, an object, a blob) is written as
  // base64, and a memo that cannot be read is reported in the warnings.
  bool binary_as_base64 = false;
  bool numeration = false;
  ExportCodepage codepage = ExportCodepage::kAsIs;
  std::shared_ptr<const CodePage> page;  // the output's page under kPage
  bool structure = false;
  bool header = false;
  bool detail = true;
  // Text.
  ExportTrim trim = ExportTrim::kNone;
  bool delimiters = true;
  char delimiter = '|';
  bool quoting = false;
  char quote_char = '"';
  // SQL.
  bool sql2000 = false;
  char sql_quote = '"';  // the quote of text values: ' or "
  // Clipper and FoxPro programs: 0 single, 1 double, 2 square quotes first.
  int prg_quote = 0;
  // HTML.
  std::string html_header;
  std::string html_footer;
  // XML: the bytes of texts go through this table when one is chosen.
  std::optional<XmlCodeTable> xml_table;
  // DBF: 0 the source's kind, 1 dBase III, 2 FoxPro, 3 dBase IV, 4 Visual
  // FoxPro; memo block size, 0 or less for the source's.
  int dbf_kind = 0;
  int block_size = 256;
};

struct ExportResult {
  OutputStatus output = OutputStatus::kOk;  // what became of the output file
  Status status = Status::kOk;              // kReadError, kAborted, or why a DBF target failed
  uint64_t records = 0;                     // detail records written
  uint64_t refused = 0;                     // DBF values the target's fields could not take, left blank
  // Appending to a table: its fields that no column fills. A table that
  // shares no name with the columns is not appended to (kNoCommonField).
  std::vector<std::string> blank_fields;
  // What could not be read, with record and field: "record 12, field NOTES:
  // its memo cannot be read" (binary_as_base64 runs).
  std::vector<std::string> warnings;
  // The first text the output's code page could not hold: "Record 12, field
  // NAME: Ǆ cannot be stored in code page 866". A text export stops there
  // (kNotInCodePage); a DBF target leaves the value blank and counts it refused.
  std::string refusal;
  bool ok() const { return output == OutputStatus::kOk && status == Status::kOk; }
};

// ".txt", ".prg", ".sql", ".htm", ".dbf", ".xml", ".csv", ".jsonl", ".sqlite".
const char* export_extension(ExportFormat format);
// The name with the format's extension added when the part after the last
// '/' has no '.'.
std::string export_file_name(std::string_view name, ExportFormat format);
// The format of a batch name: txt, clipper, foxpro, sql, html, dbf, xml, csv,
// jsonl, sqlite.
bool export_format_from_name(std::string_view name, ExportFormat& format);
// The encoding an XML export declares for the bytes it writes.
XmlEncoding export_xml_encoding(const Table& table, const ExportOptions& options);
// The name of the code page a text export writes in, as a document declares
// it ("UTF-8", "windows-1252", "IBM866").
std::string export_declared_encoding(const Table& table, const ExportOptions& options);

// Writes the export into the file (DBF: the table) at `path`. The table's
// current record and view are left as they were. Progress counts records.
ExportResult export_table(Table& table, const std::string& path, const ExportOptions& options,
                          const OutputGuard& guard, const ProgressCallback& progress = {});

// The same bands written to a stream (standard output for a pipeline); DBF
// and SQLite cannot be written this way. `write` returns false when the bytes could
// not be written.
using ExportWriter = std::function<bool(std::string_view bytes)>;
ExportResult export_to_writer(Table& table, const ExportOptions& options, const ExportWriter& write,
                              const ProgressCallback& progress = {});

// Walks the records an export with these options takes, in view order,
// leaving out those it skips (deleted or blank as the options say); each is
// also held in table.record while `each` runs, so that its memos can be
// read. `each` returns false to stop (kWriteError). The table's current
// record is put back.
Status export_walk(Table& table, const ExportOptions& options, const ProgressCallback& progress,
                   const std::function<bool(RecordImage image, uint32_t position)>& each);

// The detail form of one record at a view position, appended to `out` (for
// text formats); false when the record is skipped (deleted or blank as the
// options say).
bool export_record(Table& table, uint32_t position, const ExportOptions& options, std::string& out);

}  // namespace kora
