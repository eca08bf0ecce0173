// The data tools that write into a table, stopped after each of their
// changes to the disk in turn: an export appending to a DBF, an export
// replacing one, and Append from. Reopened, the target must read as it was
// or as the tool makes it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "support/crash_trials.h"
#include "tools/append_from.h"
#include "tools/export.h"

namespace kora {
namespace {

// The fixture the copy was made from, opened as the source.
int export_into(Table& target, bool overwrite) {
  std::unique_ptr<Table> source = open_table(test::crash_fixture_source(target.file_name));
  if (!source) return 0;
  ExportOptions o;
  o.format = ExportFormat::kDbf;
  o.overwrite = overwrite;
  o.memo_as_text = true;
  return export_table(*source, target.file_name, o, OutputGuard{{}, [](const std::string&) { return true; }}).ok();
}

// A new DBF is made under a temporary name beside the target (NAME.XXXXXX,
// its memo NAME.dbt or NAME.fpt) and renamed over it only when whole; a
// kill before that leaves these files, never a changed target.
bool export_temporary(const std::string& name) {
  size_t dot = name.find(".dbf.");
  return dot != std::string::npos && name.size() - (dot + 5) >= 3;
}

TEST(ToolCrashSafety, ExportsAndAppendFromStoppedAtAnyChangeLeaveTheTargetBeforeOrAfter) {
  const std::vector<test::CrashOperation> operations = {
      {"export append", [](Table& t) { return export_into(t, false); }, test::kKeepsWholeRecords},
      {"export replace", [](Table& t) { return export_into(t, true); }, 0, export_temporary},
      {"append from", [](Table& t) {
         return append_from_dbf(t, test::crash_fixture_source(t.file_name)).status == Status::kOk;
       }, test::kKeepsWholeRecords},
  };
  test::CrashCounts counts;
  test::run_crash_trials(operations, counts);
  std::printf("tool crash safety: %d trials, %d failures\n", counts.trials, counts.failures);
}

}  // namespace
}  // namespace kora
