// The data tools as commands of the program: Database info, the
// save-structure commands, and what every tool that writes a file shares:
// which files are off limits (the open tables), the question before a file
// is replaced and the message when a write fails.
#pragma once

#include <string>
#include <vector>

#include "table/dbf_file.h"
#include "tools/markup.h"
#include "tools/output_file.h"
#include "tools/structure_forms.h"

namespace kora {

constexpr int kToolErrorHelp = 100;  // help topic of error boxes

// Every open table and memo file is protected; replacing asks the user.
OutputGuard program_output_guard();

// "A, B and C" for a message, the names past the eighth only counted.
std::string name_list(const std::vector<std::string>& names);

// The error box for a failed write; nothing for kOk and kCancelled.
void report_output_status(OutputStatus status);

// Asks for a file name prefilled with the form's extension and writes the
// table's structure in that form to it, reporting a failure. The XML form
// declares `encoding`, the code page the table's aliases are held in.
// 1 when the file was written.
int save_structure(const Table& table, StructureForm form, XmlEncoding encoding);

// The Database info dialog on the current table; Copy appends its facts to
// a file whose name is asked for.
void database_info_command();

}  // namespace kora
