// The batch export of the command line: kora /x:FORMAT TABLE [OUTPUT] with
// an optional filter (/f:CONDITION) and sort (/s:FIELDS), run without the
// screen for scripts and pipelines.
#pragma once

#include <memory>
#include <string>

#include "tools/export.h"
#include "ui/settings.h"

namespace kora {

// The export options the [Export*] settings give, for the format chosen.
ExportOptions export_options_from_settings(const Settings& settings, ExportFormat format);
// The output code page a saved [Export] Codepage value means: 0 as the
// table stores it, 1 ANSI, 2 OEM, 3 UTF-8; a value never chosen (-1) means
// UTF-8 for CSV and the table's own page for the other formats.
ExportCodepage export_codepage_setting(int value, ExportFormat format);

struct BatchExport {
  std::string format;     // txt, clipper, foxpro, sql, html, dbf, xml, csv
  std::string filter;     // a condition, or empty
  std::string sort;       // field names, each descending after "-" or before " DESC"; or empty
  std::string table;      // the table's file name
  std::string output;     // exactly as given; empty or "-": standard output
  std::shared_ptr<const CodePage> code_page;  // /cp:NAME: the table's text is read in it; null: as decided
  std::string encoding;   // /e:CODEPAGE: the page text formats are written in; empty: the settings' choice
  std::string columns;    // /c: the fields written, in this order; empty: all
  bool append = false;    // /append: added to the output instead of replacing it
  bool deleted = false;   // /deleted: deleted records too, marked
  bool ini = false;       // /ini: the [Export] settings of kora.ini apply
  bool strict = false;    // /strict: a warning fails the run
};

// Exit statuses of a batch run.
constexpr int kBatchDone = 0;
constexpr int kBatchFailed = 1;  // a failure while working, or warnings under /strict
constexpr int kBatchUsage = 2;   // a usage error, or a table that cannot be opened

// The options a batch export writes with when /ini is not given: the same
// on every machine, whatever kora.ini holds.
ExportOptions batch_export_options(ExportFormat format, const BatchExport& batch);

// Runs the export; errors and warnings go to standard error, one line each,
// naming the argument or record and why. Returns a kBatch* status; after a
// usage error no output file has been touched.
int run_batch_export(const BatchExport& batch);

}  // namespace kora
