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

// The export options the settings give ([Export] and the format's section).
ExportOptions export_options_from_settings();

// Above this size a result is not loaded into the editor; its place is said.
constexpr uint64_t kShowFileLimit = 2u << 20;

}  // namespace kora
