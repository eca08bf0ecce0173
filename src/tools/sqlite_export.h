// A SQLite database: one table named after the source file, a column per
// visible column with a SQLite type, a row per record, all rows in one
// transaction. A new database is made beside the target and renamed over
// it when whole; an existing database gets the table replaced (or, without
// overwrite, rows added to its table of the same columns) inside one
// transaction, so that a failed run leaves it as it was.
#pragma once

#include "tools/export.h"

namespace kora {

ExportResult export_sqlite(Table& table, const std::string& path, const ExportOptions& options,
                           const OutputGuard& guard, const ProgressCallback& progress);

}  // namespace kora
