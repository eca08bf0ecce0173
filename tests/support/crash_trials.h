// Operations that change a table, stopped after each of their changes to the
// disk in turn (what a kill at that moment leaves), then opened again:
// dbfread must see the records as they were before or as the operation
// makes them, never a mix, and the open leaves no journal behind. Shared by
// the engine's operations and the data tools that write tables.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "table/dbf_file.h"
#include "table/file_io.h"

namespace kora::test {

// Real tables with memo files the trials run on, as the fixtures name them.
struct CrashFixture {
  const char* table;
  const char* memo;
};
extern const std::vector<CrashFixture> kCrashFixtures;

// What an operation may do besides before or after.
enum CrashTraits : unsigned {
  // The records come out as they went in (a header written again, memos
  // copied anew), so before and after may look alike.
  kSameRecords = 1,
  // A write error stops the run keeping the records written whole, so a
  // failing change may leave a state between before and after.
  kKeepsWholeRecords = 2,
};

struct CrashOperation {
  // `run` works on a copy of a fixture whose records 0 and 2 are marked
  // deleted. `may_leave` names files the operation may leave beside the
  // table when stopped (temporary files holding nothing of the table's).
  CrashOperation(const char* name, std::function<int(Table&)> run, unsigned traits = 0,
                 std::function<bool(const std::string& name)> may_leave = {})
      : name(name), run(std::move(run)), traits(traits), may_leave(std::move(may_leave)) {}
  const char* name;
  std::function<int(Table&)> run;
  unsigned traits;
  std::function<bool(const std::string& name)> may_leave;
  // Run whole before the plan: what the stopped operation starts from
  // (a change that the operation then takes back).
  std::function<int(Table&)> setup;
};

// The fixture a copy at `path` was made from (matched by file name).
std::string crash_fixture_source(const std::string& path);

// Runs the operation on the table at `path` under the plan; the plan's counts.
FaultPlan run_crash_operation(const std::string& path, const CrashOperation& op, FaultPlan plan);

// Every operation on every fixture: a stop after every change (a sample when
// there are many) and a few single changes failing as on a full disk. Adds
// to the counts and reports each unsound trial as a test failure.
struct CrashCounts {
  int trials = 0;
  int failures = 0;
};
void run_crash_trials(const std::vector<CrashOperation>& operations, CrashCounts& counts);

}  // namespace kora::test
