#include "support/crash_trials.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "support/test_support.h"
#include "table/record_ops.h"

namespace kora::test {

const std::vector<CrashFixture> kCrashFixtures = {
    {"infused-dbf/dbase_83.dbf", "infused-dbf/dbase_83.dbt"},
    {"php-xbase/foxpro/Foxpro2.dbf", "php-xbase/foxpro/Foxpro2.fpt"},
};

namespace {


std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Files an interrupted operation left in the folder: temporary files (hidden
// or with a random suffix) and journals.
std::vector<std::string> leftovers(const std::string& folder, const CrashFixture& f) {
  std::vector<std::string> found;
  DIR* dir = opendir(folder.c_str());
  while (dirent* entry = dir ? readdir(dir) : nullptr) {
    std::string name = entry->d_name;
    if (name == "." || name == ".." || name == base_name(f.table) || name == base_name(f.memo)) continue;
    size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    if (extension != ".bak" && extension != ".~bt" && extension != ".~pt") found.push_back(name);
  }
  if (dir) closedir(dir);
  return found;
}

// A folder holding a copy of the fixture whose records 0 and 2 are deleted.
std::string prepare(const TempDir& dir, const CrashFixture& f, const std::string& name) {
  std::string folder = dir.file(name);
  mkdir(folder.c_str(), 0755);
  std::string table = folder + "/" + base_name(f.table);
  copy_file(fixture(f.table), table);
  copy_file(fixture(f.memo), folder + "/" + base_name(f.memo));
  chmod(table.c_str(), 0644);
  chmod((folder + "/" + base_name(f.memo)).c_str(), 0644);
  return folder;
}

void copy_folder(const std::string& from, const std::string& to, const CrashFixture& f) {
  mkdir(to.c_str(), 0755);
  for (const char* file : {f.table, f.memo}) copy_file(from + "/" + base_name(file), to + "/" + base_name(file));
}

// dbfread's records, live and deleted, memo texts included, of the table in
// each folder, reduced to a digest; "FAIL" when it cannot read the table.
std::map<std::string, std::string> dbfread_digests(const std::string& table, const std::vector<std::string>& folders,
                                                   const TempDir& dir) {
  static const char* script =
      "import sys, os, hashlib, dbfread\n"
      "for d in sys.argv[2:]:\n"
      "    try:\n"
      "        t = dbfread.DBF(os.path.join(d, sys.argv[1]), load=True, encoding='latin1')\n"
      "        text = repr([list(r.values()) for r in t.records]) + repr([list(r.values()) for r in t.deleted])\n"
      "        print(d, hashlib.sha1(text.encode()).hexdigest())\n"
      "    except Exception as e:\n"
      "        print(d, 'FAIL')\n";
  { std::ofstream(dir.file("digest.py")) << script; }
  std::string command = "/usr/bin/python3 " + dir.file("digest.py") + " '" + table + "'";
  for (const std::string& folder : folders) command += " " + folder;
  std::string out;
  EXPECT_EQ(run_command(command, out), 0);
  std::map<std::string, std::string> digests;
  std::istringstream lines(out);
  for (std::string folder, digest; lines >> folder >> digest;) digests[folder] = digest;
  return digests;
}

// Runs the operation on the table at `table_path` under the plan; the plan's counts.
FaultPlan run_planned_here(const std::string& table_path, const CrashOperation& op, FaultPlan plan) {
  std::unique_ptr<Table> table = open_table(table_path);
  EXPECT_TRUE(table) << table_path;
  if (!table) return plan;
  if (!mark_deleted(*table, 0) || !mark_deleted(*table, 2)) ADD_FAILURE() << "cannot prepare " << table_path;
  if (op.setup && !op.setup(*table)) ADD_FAILURE() << "cannot set up " << op.name << " in " << table_path;
  ScopedFaultPlan scope(plan);
  op.run(*table);
  return plan;
}

FaultPlan run_stopped(const std::string& table_path, const CrashOperation& op, long stop_after) {
  return run_planned_here(table_path, op, {.stop_after = stop_after});
}

// The trials of one operation on one fixture: a stop after every change
// (or a sample of them when there are many), and a sample of single changes
// failing as on a full disk, after which the operation goes on as it does
// on a write error.
std::vector<FaultPlan> trial_plans(const FaultPlan& dry_run) {
  std::vector<FaultPlan> plans;
  const long kMostStops = 60, kFailures = 8;
  long changes = dry_run.changes;
  std::mt19937 random{uint32_t(changes)};
  if (changes <= kMostStops) {
    for (long k = 0; k < changes; ++k) plans.push_back({.stop_after = k});
  } else {
    for (long k : {0L, 1L, changes - 2, changes - 1}) plans.push_back({.stop_after = k});
    while (long(plans.size()) < kMostStops) plans.push_back({.stop_after = long(random() % uint32_t(changes))});
  }
  for (long i = 0; i < kFailures; ++i) plans.push_back({.fail_change = 1 + long(random() % uint32_t(changes))});
  return plans;
}

// The trials of one operation on one fixture.
void run_trials(const CrashFixture& f, const CrashOperation& op, CrashCounts& counts) {
  {
    {
      SCOPED_TRACE(std::string(f.table) + " " + op.name);
      TempDir dir;
      std::string original = prepare(dir, f, "original");
      std::string table = base_name(f.table);
      std::string before = dir.file("before"), after = dir.file("after");
      copy_folder(original, before, f);
      CrashOperation mark{"mark", [](Table&) { return 1; }};
      mark.setup = op.setup;
      run_stopped(before + "/" + table, mark, -1);
      copy_folder(original, after, f);
      FaultPlan dry_run = run_stopped(after + "/" + table, op, -1);
      long changes = dry_run.changes;
      ASSERT_GT(changes, 0) << op.name;

      std::vector<std::string> folders = {before, after};
      // An append that meets a write error keeps the records written whole.
      std::vector<bool> partial = {false, false};
      for (const FaultPlan& trial : trial_plans(dry_run)) {
        std::string name = "k";
        name += std::to_string(folders.size());
        std::string folder = dir.file(name);
        copy_folder(original, folder, f);
        SCOPED_TRACE(trial.fail_change ? "failing change " + std::to_string(trial.fail_change)
                                       : "stopped after " + std::to_string(trial.stop_after));
        FaultPlan plan = run_planned_here(folder + "/" + table, op, trial);
        if (!trial.fail_change) {
          EXPECT_GT(plan.refused, 0);
        }
        Status why = Status::kOk;
        std::unique_ptr<Table> reopened = open_table(folder + "/" + table, &why);
        EXPECT_TRUE(reopened) << int(why);
        std::vector<std::string> left = leftovers(folder, f);
        if (op.may_leave) std::erase_if(left, op.may_leave);
        EXPECT_EQ(left, std::vector<std::string>());
        folders.push_back(folder);
        partial.push_back(trial.fail_change && (op.traits & kKeepsWholeRecords));
      }
      std::map<std::string, std::string> digests = dbfread_digests(table, folders, dir);
      ASSERT_NE(digests[before], "FAIL");
      ASSERT_NE(digests[after], "FAIL");
      // A header written again and memos copied anew leave the same records.
      if (!(op.traits & kSameRecords)) {
        EXPECT_NE(digests[before], digests[after]);
      }
      for (size_t i = 2; i < folders.size(); ++i) {
        const std::string& seen = digests[folders[i]];
        bool sound = seen == digests[before] || seen == digests[after] || (partial[i] && seen != "FAIL");
        ++counts.trials;
        counts.failures += !sound;
        EXPECT_TRUE(sound) << folders[i] << " of " << changes << " changes: " << seen;
      }
    }
  }
}

}  // namespace

std::string crash_fixture_source(const std::string& path) {
  for (const CrashFixture& f : kCrashFixtures)
    if (base_name(f.table) == base_name(path)) return fixture(f.table);
  return {};
}

FaultPlan run_crash_operation(const std::string& path, const CrashOperation& op, FaultPlan plan) {
  return run_planned_here(path, op, plan);
}

void run_crash_trials(const std::vector<CrashOperation>& operations, CrashCounts& counts) {
  for (const CrashFixture& f : kCrashFixtures)
    for (const CrashOperation& op : operations) run_trials(f, op, counts);
}

}  // namespace kora::test
