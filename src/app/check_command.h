// Tools "Check table": the health check of the current table under a
// stoppable progress box, its findings as a list, and Enter on a line that
// names records showing just those records, so they can be mended by hand.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/table_check.h"

namespace kora {

constexpr int kCheckTableHelp = 77;

// The list's lines, each at most `width` wide: "AMOUNT (N 12.2): numbers
// that do not parse: 3 records: 2, 5, 9"; the header's findings with what
// they found ("Record count: the header says 9 records; the file holds 7").
std::vector<std::string> check_lines(const Table& table, const TableCheck& check, size_t width);

// Shows only the records of the finding (physical numbers, ascending), as
// a filter would: the sort order and the filter text go, the cursor goes to
// the first of them. Records being edited are written first, as before
// every change of view; false when they could not be.
bool show_finding_records(Table& table, const CheckFinding& finding);

void check_table_command();

}  // namespace kora
