// command_bench: the Filter (Alt+F3), Sort (Ctrl+S) and SQL (Ctrl+Q) commands
// of the whole program, run in this process on a headless screen over the table
// gen_dbf.py writes, beside the engine calls alone (apply_filter,
// sort_by_field_list) on a freshly opened table:
//   engine    the call, the table already open
//   command   from the key that confirms the dialog to the next key wait of
//             the main loop (the view rebuilt and the screen repainted)
//   whole     from the key that opens the dialog to the same wait
// Every run is a forked child, so that each starts with a fresh heap; runs
// alternate and the medians of --repeat runs are printed. The screen after
// each command is checked against the engine's answer: the counter shows the
// record under the cursor and the records in view.
//
// command_bench [--dir PARENT] [--records N] [--repeat N] [--table PATH]
//               [--rows N] [--cols N] [--only NAME]
//   --table: an existing table of gen_dbf.py instead of a new one
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "table/dbf_file.h"
#include "table/field_write.h"
#include "table/record_ops.h"
#include "table/record_scanner.h"
#include "table/value_codec.h"
#include "tools/filter.h"
#include "tools/sort.h"
#include "ui/backend.h"
#include "ui/key_codes.h"
#include "ui/screen.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_between(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

int run(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

std::vector<int> typed(std::vector<int> keys, const char* text, std::vector<int> after) {
  for (const char* c = text; *c; ++c) keys.push_back(static_cast<unsigned char>(*c));
  keys.insert(keys.end(), after.begin(), after.end());
  return keys;
}

// One command: the keys from the one that opens its dialog to the one that
// confirms it, and the engine call that does the same work. The Filter and
// Sort commands keep the cursor on its record (the first); a statement keeps
// the cursor's row (the first).
struct Scenario {
  const char* name;
  std::vector<int> keys;
  std::function<kora::Status(kora::Table&)> engine;
  bool keeps_record = true;
};

std::vector<Scenario> scenarios() {
  return {
      {"filter AMOUNT>0", typed({kora::kKeyAltF3}, "AMOUNT>0", {kora::kKeyEnter}),
       [](kora::Table& t) { return kora::apply_filter(t, {kora::FilterSource::kExpression, "AMOUNT>0"}); }},
      // The typed field list is what "By several fields" sorts by.
      {"sort by NAME",
       typed({kora::kKeyCtrlS, kora::kKeyTab}, "NAME", {kora::kKeyDown, kora::kKeyDown, kora::kKeySpace, kora::kKeyEnter}),
       [](kora::Table& t) { return kora::sort_by_field_list(t, "NAME", {}, {}); }},
      {"SQL WHERE", typed({kora::kKeyCtrlQ}, "SELECT * FROM x WHERE AMOUNT>0", {kora::kKeyEnter}),
       [](kora::Table& t) { return kora::apply_filter(t, {kora::FilterSource::kExpression, "AMOUNT>0"}); }, false},
      {"SQL ORDER BY", typed({kora::kKeyCtrlQ}, "SELECT * FROM x ORDER BY NAME", {kora::kKeyEnter}),
       [](kora::Table& t) { return kora::sort_by_field_list(t, "NAME", {}, {}); }, false},
      // A block of the first column from the first record to the last, cut
      // (Edit, Cut): copied to the clipboard, then blanked in every record.
      {"block Cut column", {'*', kora::kKeyCtrlEnd, kora::kKeyAltE, 't', kora::kKeyCtrlHome},
       [](kora::Table& t) {
         return kora::rewrite_records(t, 0, kora::visible_count(t) - 1, [](kora::Table& r) { kora::blank_field(r, 0); }, {});
       }},
      // The AMOUNT column copied (Edit, Copy) and pasted back over itself
      // (Edit, Paste): every value parsed, checked and stored again.
      {"block Paste column",
       {kora::kKeyRight, kora::kKeyRight, kora::kKeyRight, '*', kora::kKeyCtrlEnd, kora::kKeyAltE, 'c',
        kora::kKeyCtrlHome, kora::kKeyAltE, 'p'},
       [](kora::Table& t) {
         constexpr int kAmount = 3;
         std::vector<std::string> values;
         kora::RecordScanner scan(t);
         kora::ScannedRecord r;
         while (scan.next(r)) values.push_back(kora::field_text(t, kora::RecordImage(r.image, t.record_size), kAmount));
         return kora::rewrite_records(t, 0, kora::visible_count(t) - 1,
                                      [&values](kora::Table& w, uint32_t position) {
                                        kora::set_field_text(w, kAmount, values[position]);
                                      },
                                      {});
       }},
      // Tools, All, Inverse: every mark changes on every run.
      {"Tools All Inverse", {kora::kKeyAltT, 'a', 'i'},
       [](kora::Table& t) { return kora::change_all_marks(t, kora::MarkChange::kInvert, {}, nullptr); }},
  };
}

// What a child brings back: plain data only.
struct Result {
  int ok = 0;
  double engine_ms = 0;
  double command_ms = 0;
  double whole_ms = 0;
  char counter[64] = {};  // the status counter the screen should show
  int screen_agrees = 0;  // the command's screen shows it
};

template <typename Work>
bool in_child(Work work, Result& result) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    close(fds[0]);
    Result r = work();
    ssize_t n = write(fds[1], &r, sizeof r);
    _exit(n == ssize_t(sizeof r) ? 0 : 1);
  }
  close(fds[1]);
  ssize_t got = read(fds[0], &result, sizeof result);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return got == ssize_t(sizeof result) && WIFEXITED(status) && WEXITSTATUS(status) == 0 && result.ok;
}

// "%20d (%d) / %d" with the cursor on the first record, or on the first row.
void note_counter(const kora::Table& table, bool keeps_record, Result& r) {
  uint32_t count = kora::visible_count(table);
  uint32_t row = keeps_record ? kora::view_position_of(table, 0) : 0;
  uint32_t record = keeps_record ? 0 : kora::physical_record(table, 0);
  if (!table.view.has_list()) {
    std::snprintf(r.counter, sizeof r.counter, "%u / %u", row + 1, count);  // no list: no record number
  } else if (row == kora::kNoRecord || record == kora::kNoRecord) {
    std::snprintf(r.counter, sizeof r.counter, " / %u", count);
  } else {
    std::snprintf(r.counter, sizeof r.counter, "%u (%u) / %u", row + 1, record + 1, count);
  }
}

Result engine_run(const std::string& path, const Scenario& s) {
  Result r;
  std::unique_ptr<kora::Table> table = kora::open_table(path);
  if (!table) return r;
  Clock::time_point start = Clock::now();
  kora::Status status = s.engine(*table);
  r.engine_ms = ms_between(start, Clock::now());
  note_counter(*table, s.keeps_record, r);
  r.ok = status == kora::Status::kOk;
  return r;
}

// ---- the program on a headless screen, given one key at each key wait ----

class BenchBackend : public kora::Backend {
 public:
  std::function<int(int wait, std::vector<int>& units)> handler;
  // Only a key wait is given a key: a walk's look for typed keys or for
  // Esc (no waiting) finds nothing.
  int wait_input(int timeout_ms, std::vector<int>& units) override {
    if (timeout_ms <= 0) return 0;
    clock_ms_ += timeout_ms;
    return handler(waits_++, units);
  }
  int poll_input(std::vector<int>&) override { return 0; }
  long long now_ms() override { return clock_ms_; }
  void present() override {}

 private:
  long long clock_ms_ = 0;
  int waits_ = 0;
};

BenchBackend* g_backend = nullptr;
int g_rows = 50;
int g_cols = 132;

int open_bench_screen() {
  kora::screen_open_headless(g_rows, g_cols);
  kora::g_screen.backend = g_backend;
  return 1;
}
int keep_screen() { return 1; }

bool screen_contains(const std::string& text) {
  for (int y = 0; y < kora::screen_rows(); ++y) {
    if (kora::screen_row_text(y).find(text) != std::string::npos) return true;
  }
  return false;
}

Result command_run(const std::string& path, const Scenario& s, const Result& engine) {
  Result r;
  BenchBackend backend;
  Clock::time_point first_key, confirmed, repainted;
  size_t given = 0;
  backend.handler = [&](int, std::vector<int>& units) {
    if (given < s.keys.size()) {
      Clock::time_point now = Clock::now();
      if (given == 0) first_key = now;
      if (given + 1 == s.keys.size()) confirmed = now;
      units.push_back(kora::final_key_token(s.keys[given++]));
      return 1;
    }
    if (!r.ok) {
      repainted = Clock::now();
      r.ok = 1;
      r.screen_agrees = screen_contains(engine.counter);
      if (std::getenv("COMMAND_BENCH_SHOW")) {
        for (int y = 0; y < kora::screen_rows(); ++y) std::fprintf(stderr, "%s\n", kora::screen_row_text(y).c_str());
      }
    }
    return -1;
  };
  g_backend = &backend;
  kora::g_screen_starter = {open_bench_screen, keep_screen};
  kora::g_screen.open = false;
  // A program folder that does not exist: no side file is read or written.
  std::vector<std::string> words = {"/nonexistent-kora-bench/kora", path};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  kora::run_program(int(words.size()), argv.data());
  g_backend = nullptr;
  r.command_ms = ms_between(confirmed, repainted);
  r.whole_ms = ms_between(first_key, repainted);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  std::string parent = "/tmp";
  long records = 1000000;
  int repeat = 5;
  std::string given;
  std::string only;  // the one scenario to run, by the start of its name
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--dir")) parent = argv[i + 1];
    if (!std::strcmp(argv[i], "--records")) records = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--repeat")) repeat = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--table")) given = argv[i + 1];
    if (!std::strcmp(argv[i], "--rows")) g_rows = std::max(10, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--cols")) g_cols = std::max(40, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
  }
  std::string dir = parent + "/command_bench.XXXXXX";
  if (!mkdtemp(dir.data())) return 1;
  const std::string table = given.empty() ? dir + "/big.dbf" : given;
  bool failed = (given.empty() && run("python3 " + std::string(KORA_SHARED_BENCH_DIR) + "/gen_dbf.py " +
                                      std::to_string(records) + " " + table + " >/dev/null 2>&1") != 0) ||
                run("cat " + table + " >/dev/null") != 0;
  double load[3] = {};
  getloadavg(load, 3);
  std::vector<Scenario> all = scenarios();
  std::erase_if(all, [&only](const Scenario& s) { return std::string(s.name).rfind(only, 0) != 0; });
  std::vector<std::vector<Result>> engine(all.size()), command(all.size());
  for (int k = 0; k < repeat && !failed; ++k) {
    for (size_t s = 0; s < all.size() && !failed; ++s) {
      Result e, c;
      failed = !in_child([&] { return engine_run(table, all[s]); }, e) ||
               !in_child([&] { return command_run(table, all[s], e); }, c);
      if (!failed && !c.screen_agrees) {
        std::fprintf(stderr, "command_bench: %s: the counter is not \"%s\"\n", all[s].name, e.counter);
      }
      engine[s].push_back(e);
      command[s].push_back(c);
    }
  }
  std::filesystem::remove_all(dir);
  if (failed) {
    std::fprintf(stderr, "command_bench: a run failed\n");
    return 1;
  }
  std::printf("command_bench: %ld records, %d x %d screen, median of %d, load %.2f\n", records, g_cols, g_rows,
              repeat, load[0]);
  std::printf("%-18s %12s %12s %12s %8s\n", "", "engine, ms", "command, ms", "whole, ms", "ratio");
  for (size_t s = 0; s < all.size(); ++s) {
    auto pick = [](const std::vector<Result>& runs, double Result::*field) {
      std::vector<double> values;
      for (const Result& r : runs) values.push_back(r.*field);
      return median(values);
    };
    bool agrees = std::all_of(command[s].begin(), command[s].end(), [](const Result& r) { return r.screen_agrees; });
    if (!agrees) {
      std::printf("%-18s the command's screen did not show the engine's result\n", all[s].name);
      continue;
    }
    double e = pick(engine[s], &Result::engine_ms), c = pick(command[s], &Result::command_ms);
    std::printf("%-18s %12.1f %12.1f %12.1f %8.2f\n", all[s].name, e, c, pick(command[s], &Result::whole_ms),
                e > 0 ? c / e : 0);
  }
  return 0;
}
