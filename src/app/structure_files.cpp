// What the structure editor's function keys do beyond the list itself: the
// list saved to and loaded from a structure table, optimal widths for text
// fields, the memo type.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/memo_type_dialog.h"
#include "app/status_text.h"
#include "app/structure_dialog.h"
#include "app/tool_commands.h"
#include "table/record_scanner.h"
#include "table/structure_table.h"
#include "ui/message_box.h"
#include "ui/settings.h"

namespace kora {

namespace {

void attention(const char* text) { message_box(text, "Attention", "OK", 0, kStructureHelp); }

}  // namespace

bool save_structure_list(const StructureDraft& draft) {
  std::optional<std::string> path = ask_dbf_name();
  if (!path) return false;
  OutputGuard guard = program_output_guard();
  if (is_one_of_files(*path, guard.open_files)) {
    report_output_status(OutputStatus::kOpenTable);
    return false;
  }
  Status status = save_structure_table(*path, draft.fields, Placement::kNew);
  if (status == Status::kFileExists) {
    if (!guard.confirm_replace(*path)) return false;
    status = save_structure_table(*path, draft.fields, Placement::kReplace);
  }
  if (status != Status::kOk) report_output_status(OutputStatus::kWriteFailed);
  return status == Status::kOk;
}

bool load_structure_list(StructureDraft& draft) {
  std::optional<std::string> path = ask_dbf_name();
  if (!path) return false;
  uint32_t bad_record = 0;
  Status status = load_structure_table(*path, draft.fields, &bad_record);
  if (status == Status::kNotStructureTable) {
    attention("Incorrect structure of the DBF file.");
  } else if (status == Status::kInvalidStructure) {
    std::string text = "Incorrect structure of the DBF file.\nRecord ";
    text += std::to_string(bad_record + 1);
    text += ": the width or the decimals do not suit the type";
    attention(text.c_str());
  } else if (status != Status::kOk) {
    attention("Cannot open file");
  }
  return status == Status::kOk;
}

bool set_optimal_widths(const Table& table, StructureDraft& draft) {
  if (message_box("Do you wish to set optimal width for Character fields?", "Attention", "OK\nCancel", 0,
                  kStructureHelp) != 0) {
    return false;
  }
  auto sourced_text = [&](const StructureField& f) {
    return f.desc.type == 'C' && f.source >= 0 && f.source < table.field_count() &&
           field_type(table, f.source) == 'C';
  };
  std::vector<int> longest(draft.fields.size(), 0);
  Status status;
  {
    ProgressScope box(table.record_count, Stop::kOnEscape);
    RecordScanner scan(table, ScanOrder::kPhysical, box.callback());
    ScannedRecord r;
    while (scan.next(r)) {
      for (size_t i = 0; i < draft.fields.size(); ++i) {
        if (!sourced_text(draft.fields[i])) continue;
        const FieldDesc& source = table.fields[size_t(draft.fields[i].source)];
        const uint8_t* bytes = r.image + source.offset;
        int n = field_length(table, draft.fields[i].source);
        while (n > longest[i] && (bytes[n - 1] == ' ' || bytes[n - 1] == 0)) --n;
        longest[i] = std::max(longest[i], n);
      }
    }
    status = scan.status();
  }
  if (status != Status::kOk) return false;
  bool changed = false;
  for (size_t i = 0; i < draft.fields.size(); ++i) {
    FieldDesc& d = draft.fields[i].desc;
    int width = std::max(longest[i], 10);
    if (sourced_text(draft.fields[i]) && width < desc_width(d)) {
      set_desc_width(d, width);
      changed = true;
    }
  }
  return changed;
}

void choose_memo_type(const Table* table) {
  // The memo kind of a table with memo fields stays that of its memo file.
  if (!table || table->first_memo_field < 0) memo_type_dialog();
}

}  // namespace kora
