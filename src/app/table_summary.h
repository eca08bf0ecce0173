// A plain-text account of an open table on standard output: what the engine
// read of its header, fields and first records. Printed after start-up while
// the program has no screen of its own.
#pragma once

#include <cstdio>

#include "table/dbf_file.h"

namespace kora {

// header_written: 1 when the corrected header was written at start-up, 0 when
// the errors were left as found.
void print_table_summary(Table& table, FILE* out, int header_written, int max_records = 5);

}  // namespace kora
