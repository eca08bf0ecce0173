// One line of SQL that sets up a table's view: SELECT places columns (fields
// and computed columns made by `expression AS name`) into the column model,
// WHERE sets a new filter and ORDER BY sorts. INSERT, UPDATE, DELETE and
// CREATE TABLE are recognised and refused: the tool never changes data.
//
// Each statement's computed columns replace those of the one before, which
// are dropped unless named again. A computed column is never named like a
// stored field or an earlier column of the same statement: the name gets
// _1, _2, ... (within ten characters). ORDER BY reads the statement's own
// names first, so an alias sorts by its computed column.
//
// Keywords are matched without regard to case, outside quoted literals and
// as whole words (blanks, tabs and line ends around them), except SELECT,
// which is taken as a prefix: SELECTNAME reads as SELECT NAME. ORDER and BY
// may have any run of blanks between them.
//
// A statement either takes effect or leaves the table as it was: every
// refusal comes before any change, and a walk that stops or fails puts the
// columns, the filter and the sort back.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "table/dbf_file.h"
#include "table/status.h"

namespace kora {

// Result codes of sql_execute.
constexpr int kSqlOk = 0;
constexpr int kSqlUnknownStatement = 1;  // no known keyword begins it
// WHERE with none of the comparison characters < > = ~ (braces count as
// < and >): refused like the Filter dialog refuses it.
constexpr int kSqlNoComparison = 2;
constexpr int kSqlNoColumns = 3;    // no column token, or none names a column
constexpr int kSqlNoFrom = 4;
constexpr int kSqlCannotOpen = 5;   // the table named after FROM (no table given)
constexpr int kSqlWalkEnded = 6;    // the filter or sort walk stopped or failed
constexpr int kSqlChangesData = 7;  // INSERT, UPDATE, DELETE or CREATE TABLE: not taken
constexpr int kSqlUnknownName = 8;  // a column or ORDER BY name that is no field or column

struct SqlRun {
  ProgressCallback progress;  // given to the filter and sort walks; may stop them
  Status status = Status::kOk;  // why a walk ended early (kSqlWalkEnded)
  std::unique_ptr<Table> opened;  // the table named after FROM when none was given
  std::string detail;  // the keyword not taken (kSqlChangesData) or the unknown name
};

// Runs the statement on `table`, or with a null table on the table named
// after FROM, which is then handed over in run.opened.
int sql_execute(Table* table, std::string_view statement, SqlRun& run);
int sql_execute(Table* table, std::string_view statement, const ProgressCallback& progress = {});

}  // namespace kora
