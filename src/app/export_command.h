// Export as the user runs it: the Export dialog (Ctrl+F9, Tools and Print)
// with its per-format option dialogs, the quick exports of File "Save as",
// the export itself under a progress box that Esc stops, and the showing of
// the result.
#pragma once

#include <string>

#include "tools/export.h"

namespace kora {

// The Export dialog on the current table, then the export.
void export_command();

// Asks only for a file name and exports every record in view with the
// quick-export defaults and the saved per-format options.
void quick_export(ExportFormat format);

// The export options the settings give ([Export] and the format's section),
// with the XML code-page table chosen in this run.
ExportOptions export_options_from_settings();

// The XML code-page tables are the files "*.tbl" of the folder "tbl" beside
// the program; the choice among them lasts until the program ends (or the
// next call).
void export_install(const std::string& program_path);

// Above this size a result is not loaded into the editor; its place is said.
constexpr uint64_t kShowFileLimit = 2u << 20;

}  // namespace kora
