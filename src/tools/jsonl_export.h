// JSON Lines: one JSON object per record, the field names as keys, values
// typed (see typed_values.h); binary memos go as base64 text. With the
// delete mark option each object starts with "_deleted": true or false.
// The text is UTF-8 whatever the table's code page.
#pragma once

#include "tools/export.h"

namespace kora {

ExportResult write_jsonl(Table& table, const ExportOptions& options, const ExportWriter& write,
                         const ProgressCallback& progress);

// A text as a JSON string (quotes included) appended to `out`: quotes,
// backslashes and control characters escaped, the rest as it is.
void append_json_string(std::string& out, std::string_view utf8);

}  // namespace kora
