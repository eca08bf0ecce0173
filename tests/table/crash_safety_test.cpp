// Every operation that changes a table, stopped after each of its changes
// to the disk in turn (what a kill at that moment leaves), then opened again:
// dbfread must see the records as they were before or as the operation
// makes them, never a mix, and the open leaves no journal behind.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "support/test_support.h"
#include "table/batch_appender.h"
#include "table/file_io.h"
#include "table/journal.h"
#include "table/record_ops.h"
#include "table/restructure.h"
#include "table/table_cipher.h"
#include "table/table_create.h"

namespace kora {
namespace {

using test::TempDir;

struct Fixture {
  const char* table;
  const char* memo;
};

constexpr Fixture kFixtures[] = {
    {"infused-dbf/dbase_83.dbf", "infused-dbf/dbase_83.dbt"},
    {"php-xbase/foxpro/Foxpro2.dbf", "php-xbase/foxpro/Foxpro2.fpt"},
};

StructureField extra_field() {
  StructureField extra;
  std::strncpy(extra.desc.name, "EXTRA", sizeof extra.desc.name - 1);
  extra.desc.type = 'C';
  extra.desc.length = 5;
  return extra;
}

int add_field(Table& table) {
  std::vector<StructureField> fields = structure_of(table);
  fields.push_back(extra_field());
  return restructure(table, fields, {}) == Status::kOk;
}

// The first Character field made a memo field, so that both files change.
int field_to_memo(Table& table) {
  std::vector<StructureField> fields = structure_of(table);
  for (StructureField& field : fields) {
    if (field.desc.type != 'C') continue;
    normalize_field_type(field.desc, 'M', 0);
    break;
  }
  fields.push_back(extra_field());
  return restructure(table, fields, {}) == Status::kOk;
}

int append_copies(Table& table) {
  if (!read_record(table, 0)) return 0;
  std::vector<uint8_t> image(table.record.begin(), table.record.begin() + table.record_size);
  BatchAppender out(table, 2 * table.record_size);
  for (int i = 0; i < 5; ++i) {
    if (table.first_memo_field >= 0) out.write_memo(image.data(), table.first_memo_field, "appended text");
    out.append(image.data());
  }
  return out.finish() == Status::kOk;
}

struct Operation {
  const char* name;
  std::function<int(Table&)> run;
};

const Operation kOperations[] = {
    {"insert", [](Table& t) { return read_record(t, 2) && insert_record(t, 0, false); }},
    {"remove", [](Table& t) { return remove_record(t, 1); }},
    {"truncate", [](Table& t) { return truncate_table(t, t.record_count / 2); }},
    {"zap", [](Table& t) { return zap_table(t); }},
    {"pack", [](Table& t) { return pack_table(t, 0); }},
    {"pack memo", [](Table& t) { return pack_table(t, 2); }},
    {"append", append_copies},
    {"append one", [](Table& t) { return read_record(t, 1) && append_record(t, false); }},
    {"restructure", add_field},
    {"restructure memo", field_to_memo},
    {"encode", [](Table& t) { return rewrite_enciphered(t, "secret") == Status::kOk; }},
    {"header", [](Table& t) { return write_header(t); }},
};

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Files an interrupted operation left in the folder: temporary files (hidden
// or with a random suffix) and journals.
std::vector<std::string> leftovers(const std::string& folder, const Fixture& f) {
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
std::string prepare(const TempDir& dir, const Fixture& f, const std::string& name) {
  std::string folder = dir.file(name);
  mkdir(folder.c_str(), 0755);
  std::string table = folder + "/" + base_name(f.table);
  test::copy_file(test::fixture(f.table), table);
  test::copy_file(test::fixture(f.memo), folder + "/" + base_name(f.memo));
  chmod(table.c_str(), 0644);
  chmod((folder + "/" + base_name(f.memo)).c_str(), 0644);
  return folder;
}

void copy_folder(const std::string& from, const std::string& to, const Fixture& f) {
  mkdir(to.c_str(), 0755);
  for (const char* file : {f.table, f.memo}) test::copy_file(from + "/" + base_name(file), to + "/" + base_name(file));
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
  EXPECT_EQ(test::run_command(command, out), 0);
  std::map<std::string, std::string> digests;
  std::istringstream lines(out);
  for (std::string folder, digest; lines >> folder >> digest;) digests[folder] = digest;
  return digests;
}

// Runs the operation on the table at `table_path` under the plan; the plan's counts.
FaultPlan run_planned(const std::string& table_path, const Operation& op, FaultPlan plan) {
  std::unique_ptr<Table> table = open_table(table_path);
  EXPECT_TRUE(table) << table_path;
  if (!table) return plan;
  if (!mark_deleted(*table, 0) || !mark_deleted(*table, 2)) ADD_FAILURE() << "cannot prepare " << table_path;
  ScopedFaultPlan scope(plan);
  op.run(*table);
  return plan;
}

FaultPlan run_stopped(const std::string& table_path, const Operation& op, long stop_after) {
  return run_planned(table_path, op, {.stop_after = stop_after});
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

TEST(CrashSafety, EveryOperationStoppedAtAnyChangeReopensAsBeforeOrAfter) {
  int trials = 0, failures = 0;
  for (const Fixture& f : kFixtures) {
    for (const Operation& op : kOperations) {
      SCOPED_TRACE(std::string(f.table) + " " + op.name);
      TempDir dir;
      std::string original = prepare(dir, f, "original");
      std::string table = base_name(f.table);
      std::string before = dir.file("before"), after = dir.file("after");
      copy_folder(original, before, f);
      run_stopped(before + "/" + table, {"mark", [](Table&) { return 1; }}, -1);
      copy_folder(original, after, f);
      FaultPlan dry_run = run_stopped(after + "/" + table, op, -1);
      long changes = dry_run.changes;
      ASSERT_GT(changes, 0);

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
        FaultPlan plan = run_planned(folder + "/" + table, op, trial);
        if (!trial.fail_change) {
          EXPECT_GT(plan.refused, 0);
        }
        Status why = Status::kOk;
        std::unique_ptr<Table> reopened = open_table(folder + "/" + table, &why);
        EXPECT_TRUE(reopened) << int(why);
        EXPECT_EQ(leftovers(folder, f), std::vector<std::string>());
        folders.push_back(folder);
        partial.push_back(trial.fail_change && std::strcmp(op.name, "append") == 0);
      }
      std::map<std::string, std::string> digests = dbfread_digests(table, folders, dir);
      ASSERT_NE(digests[before], "FAIL");
      ASSERT_NE(digests[after], "FAIL");
      // A header written again and memos copied anew leave the same records.
      if (std::strcmp(op.name, "header") != 0 && std::strcmp(op.name, "pack memo") != 0) {
        EXPECT_NE(digests[before], digests[after]);
      }
      for (size_t i = 2; i < folders.size(); ++i) {
        const std::string& seen = digests[folders[i]];
        bool sound = seen == digests[before] || seen == digests[after] || (partial[i] && seen != "FAIL");
        ++trials;
        failures += !sound;
        EXPECT_TRUE(sound) << folders[i] << " of " << changes << " changes: " << seen;
      }
    }
  }
  std::printf("crash safety: %d trials, %d failures\n", trials, failures);
}

// A move cut short: a read-only open refuses the table and writes nothing;
// an open that may write finishes it and says so.
TEST(CrashSafety, AnInterruptedMoveIsRefusedReadOnlyAndFinishedOtherwise) {
  TempDir dir;
  const Fixture& f = kFixtures[0];
  std::string folder = prepare(dir, f, "t");
  std::string table = folder + "/" + base_name(f.table);
  long changes = 0;
  for (const Operation& op : kOperations) {
    if (std::strcmp(op.name, "insert") == 0) changes = run_stopped(table, op, 4).changes;
  }
  ASSERT_GT(changes, 4);
  std::vector<uint8_t> left = test::read_bytes(table);

  forbid_recovery_writes(true);
  Status why = Status::kOk;
  EXPECT_FALSE(open_table(table, &why));
  EXPECT_EQ(why, Status::kInterrupted);
  EXPECT_EQ(test::read_bytes(table), left);
  forbid_recovery_writes(false);

  std::unique_ptr<Table> reopened = open_table(table, &why);
  ASSERT_TRUE(reopened);
  EXPECT_EQ(reopened->recovery_note, "The insertion of record 1 was interrupted; it has been finished.");
  EXPECT_EQ(reopened->header_errors, 0);
  EXPECT_FALSE(test::file_exists(journal_path(table)));
}

}  // namespace
}  // namespace kora
