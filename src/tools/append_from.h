// Append from: adds records to a table from another DBF table (fields
// matched by name) or from a text file, one record per line, its values cut
// at delimiter characters or taken from fixed-width columns (SDF). Values
// pass through their text form, so any field type can be filled from any
// other.
//
// Records are added through the batch appender, so a run into a filtered or
// sorted view costs what a plain append costs and the new records join the
// view's end. The progress callback is called once per chunk; a stop keeps
// what was appended, with the header counting it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_file.h"
#include "table/status.h"

namespace kora {

// How the lines of a text source are cut into values.
struct TextSourceOptions {
  std::string delimiters = ",";  // any of these ends a value (delimited text)
  bool sdf = false;              // fixed-width columns instead of delimiters
  bool no_blank = false;         // leading blanks of delimited values dropped
};

struct AppendResult {
  // kOk; the cause when the source could not be opened (kNotFound,
  // kNoPermission, kCannotOpen, or why a DBF source is no table), kReadError,
  // kWriteError, kReadOnly, kTooManyRecords, or kAborted when stopped.
  Status status = Status::kOk;
  uint32_t appended = 0;  // records added, whatever the status
  // Values the target field could not hold: the field was left empty, or
  // (for character fields) holds only the beginning of the text.
  uint64_t did_not_fit = 0;
  int first_field = -1;       // the field of the first such value
  uint32_t first_record = 0;  // its physical record number in the table
  // Texts of a source in another code page holding a character the table's
  // page cannot: the field is left blank. The first is named, for the
  // user: "Record 12, field NAME: Ǆ cannot be stored in code page 866".
  uint64_t not_held = 0;
  std::string first_not_held;
  // From a DBF source: the table's fields no source field is named like,
  // left blank in every record added.
  std::vector<std::string> blank_fields;
};

// A name longer than 4 characters ending in ".dbf" (in any letter case)
// names a DBF source; any other a text file.
bool names_dbf_source(std::string_view file_name);

// Every record of the DBF source in file order, deleted ones included (the
// new records are not marked). A source that shares no field name with the
// table adds nothing (kNoCommonField). Fields of the same type, length and decimals
// are copied as they stand; the others pass through their text form. Text
// from a source in another code page is converted into the table's (two
// tables of 866 and 1251 excepted: their bytes are taken as they are). The table itself as the source doubles it:
// only the records it held when the run began are read.
AppendResult append_from_dbf(Table& table, const std::string& file_name, const ProgressCallback& progress = {});

// One record per line of the text file, however long the line; the line
// end (LF or CR LF) is not part of the last value. Values go to the view's
// columns in column order; computed columns take their share and store
// nothing.
AppendResult append_from_text(Table& table, const std::string& file_name, const TextSourceOptions& options,
                              const ProgressCallback& progress = {});

}  // namespace kora
