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

struct BatchExport {
  std::string format;     // txt, clipper, foxpro, sql, html, dbf, xml, csv
  std::string filter;     // a condition, or empty
  std::string sort;       // field names, or empty
  std::string table;      // the table's file name
  std::string output;     // empty or "-": standard output
  std::shared_ptr<const CodePage> code_page;  // /cp:NAME: the table's text is read in it; null: as decided
};

// Runs the export; errors go to standard error with their reason. Returns
// the exit status: 0 on success, 1 on any failure.
int run_batch_export(const BatchExport& batch);

}  // namespace kora
