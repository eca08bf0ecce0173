// Benchmark of browsing a small and a huge table with the whole program, run
// in this process on a headless screen, side by side:
//   first screen   from run_program() to the first key wait of the main loop
//                  (the grid has been painted by then)
//   Ctrl+End       from the key to the next key wait (the last screen shown)
//   PgDn / PgUp    each repaint, mean and max over --presses presses
//   Ctrl+Home      back to the first screen
//   memory         peak RSS of the run; RSS after the first screen with one
//                  table and after nine more were opened (hard links to the
//                  same file under other names, opened the way the Open
//                  command and the favourites open a table)
// Every run is a forked child, so that each peak is its own. Each scenario
// runs --rounds times; the median is shown. The tables are written to a
// temporary folder under --dir, removed at the end. With BROWSE_BENCH_SHOW
// set the screen after Ctrl+End goes to stderr, with BROWSE_BENCH_RAW the
// memory readings of every run.
//
// With --tables A B the two given tables are browsed side by side instead
// (the same records in two code pages, say); their ID field must count the
// records.
//
// Usage: browse_bench [--dir PARENT] [--small N] [--large N] [--deleted SHARE]
//                     [--presses N] [--rounds N] [--rows N] [--cols N]
//                     [--tables A B]
#include <sys/resource.h>
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

#include "app/app_state.h"
#include "app/main_loop.h"
#include "app/startup.h"
#include "big_table.h"
#include "ui/backend.h"
#include "ui/screen.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kCtrlEnd = 0x7500, kCtrlHome = 0x7700, kPgDn = 0x5100, kPgUp = 0x4900;
constexpr int kExtraTables = 9;

struct Options {
  std::string dir = "/tmp";
  unsigned long long small = 10000;
  unsigned long long large = 10000000;
  double deleted = 0.1;
  int presses = 50;
  int rounds = 3;
  int rows = 50;
  int cols = 132;
  std::string table_a, table_b;  // --tables
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--dir") o.dir = value;
    if (name == "--small") o.small = std::strtoull(value, nullptr, 10);
    if (name == "--large") o.large = std::strtoull(value, nullptr, 10);
    if (name == "--deleted") o.deleted = std::strtod(value, nullptr);
    if (name == "--presses") o.presses = std::max(1, std::atoi(value));
    if (name == "--rounds") o.rounds = std::max(1, std::atoi(value));
    if (name == "--rows") o.rows = std::max(10, std::atoi(value));
    if (name == "--cols") o.cols = std::max(40, std::atoi(value));
    if (name == "--tables" && i + 2 < argc) {
      o.table_a = value;
      o.table_b = argv[++i + 1];
    }
  }
  return o;
}

double ms_between(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// A size from /proc/self/status in KiB: VmRSS the resident set now, VmHWM
// its peak so far.
long status_kb(const char* key) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long value = -1;
  size_t length = std::strlen(key);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, key, length) == 0 && line[length] == ':') {
      value = std::atol(line + length + 1);
      break;
    }
  }
  std::fclose(f);
  return value;
}
long rss_kb() { return status_kb("VmRSS"); }

bool screen_contains(const std::string& text) {
  for (int y = 0; y < kora::screen_rows(); ++y) {
    if (kora::screen_row_text(y).find(text) != std::string::npos) return true;
  }
  return false;
}

// The screen as text on stderr, to see what was measured.
void show_screen() {
  for (int y = 0; y < kora::screen_rows(); ++y) std::fprintf(stderr, "%s\n", kora::screen_row_text(y).c_str());
}

// ---- the program's screen: a grid and input decided at each key wait -----

// Called at every key wait with its number; appends input to units and
// returns as Backend::wait_input does (units, 0 nothing yet, -1 no more).
using WaitHandler = std::function<int(int wait, std::vector<int>& units)>;

class BenchBackend : public kora::Backend {
 public:
  WaitHandler handler;
  int wait_input(int timeout_ms, std::vector<int>& units) override {
    clock_ms_ += timeout_ms > 0 ? timeout_ms : 0;
    return handler(waits_++, units);
  }
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

// Runs the program on the table; the handler answers every key wait.
// Returns run_program's status.
int run_on(const std::string& table, WaitHandler handler) {
  BenchBackend backend;
  backend.handler = std::move(handler);
  g_backend = &backend;
  kora::g_screen_starter = {open_bench_screen, keep_screen};
  kora::g_screen.open = false;
  // A program folder that does not exist: no side file is read or written.
  std::vector<std::string> words = {"/nonexistent-kora-bench/kora", table};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int status = kora::run_program(int(words.size()), argv.data());
  g_backend = nullptr;
  return status;
}

// ---- scenarios, each in a child ---------------------------------------------

struct BrowseResult {
  int ok = 0;
  int grid_seen = 0;      // the field names were on the first screen
  int last_seen = 0;      // the last record's ID was on screen after Ctrl+End
  double first_ms = 0;
  double ctrl_end_ms = 0;
  double ctrl_home_ms = 0;
  double pgdn_mean = 0, pgdn_max = 0;
  double pgup_mean = 0, pgup_max = 0;
  long base_kb = 0;       // RSS of the child before the program started
  long first_kb = 0;      // RSS at the first screen
  long peak_kb = 0;       // peak RSS of the child (VmHWM, and wait4's figure)
};

struct TablesResult {
  int ok = 0;
  int opened = 0;
  long base_kb = 0;
  long one_kb = 0;
  long ten_kb = 0;
  long peak_kb = 0;  // VmHWM, and wait4's figure
};

BrowseResult browse(const std::string& table, unsigned long long records, int presses) {
  BrowseResult r;
  r.base_kb = rss_kb();
  std::vector<int> keys(size_t(presses), kPgDn);
  keys.push_back(kCtrlEnd);
  keys.insert(keys.end(), size_t(presses), kPgUp);
  keys.push_back(kCtrlHome);
  std::vector<double> spent;  // spent[k]: key k to the next key wait
  Clock::time_point start = Clock::now();
  Clock::time_point given = start;
  std::string last_id = std::to_string(records);
  auto handler = [&](int wait, std::vector<int>& units) {
    Clock::time_point now = Clock::now();
    if (wait == 0) {
      r.first_ms = ms_between(start, now);
      r.first_kb = rss_kb();
      r.grid_seen = screen_contains("NAME") && screen_contains("AMOUNT");
    } else if (size_t(wait) <= keys.size()) {
      spent.push_back(ms_between(given, now));
      if (keys[size_t(wait) - 1] == kCtrlEnd) {
        r.last_seen = screen_contains(" " + last_id);
        if (std::getenv("BROWSE_BENCH_SHOW")) show_screen();
      }
    }
    if (size_t(wait) >= keys.size()) return -1;
    units.push_back(kora::final_key_token(keys[size_t(wait)]));
    given = Clock::now();
    return 1;
  };
  run_on(table, handler);
  if (spent.size() != keys.size()) return r;
  auto summary = [&](size_t from, double& mean, double& most) {
    double sum = 0;
    most = 0;
    for (size_t k = from; k < from + size_t(presses); ++k) {
      sum += spent[k];
      most = std::max(most, spent[k]);
    }
    mean = sum / presses;
  };
  summary(0, r.pgdn_mean, r.pgdn_max);
  r.ctrl_end_ms = spent[size_t(presses)];
  summary(size_t(presses) + 1, r.pgup_mean, r.pgup_max);
  r.ctrl_home_ms = spent.back();
  r.ok = 1;
  // The kernel's counts are approximate (batched): a reading taken during
  // the run may exceed the high-water mark.
  r.peak_kb = std::max(status_kb("VmHWM"), r.first_kb);
  return r;
}

TablesResult ten_tables(const std::vector<std::string>& names) {
  TablesResult r;
  r.base_kb = rss_kb();
  auto handler = [&](int wait, std::vector<int>&) {
    if (wait == 0) r.one_kb = rss_kb();
    // One more table at each wait; the loop's idle routine paints it.
    if (wait <= kExtraTables) {
      if (wait > 0 && !kora::open_and_show(names[size_t(wait)])) return -1;
      return 0;
    }
    if (wait == kExtraTables + 1) {
      r.ten_kb = rss_kb();
      r.opened = kora::g_app.tables.last + 1;
      r.ok = r.opened == kExtraTables + 1 && screen_contains("NAME");
    }
    return -1;
  };
  run_on(names[0], handler);
  r.peak_kb = std::max(status_kb("VmHWM"), r.ten_kb);
  return r;
}

// Runs work in a forked child and brings back its plain result and the
// child's peak resident set in KiB (from wait4, counted once it has ended).
template <typename Result>
bool in_child(const std::function<Result()>& work, Result& result, long* peak_kb = nullptr) {
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
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  // The kernel counts resident pages in batches: keep the larger figure.
  if (peak_kb) *peak_kb = std::max(*peak_kb, long(usage.ru_maxrss));
  return got == ssize_t(sizeof result) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

template <typename T>
T median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Sized {
  unsigned long long records = 0;
  std::vector<std::string> names;  // the table and its nine other names
  std::vector<BrowseResult> browse;
  std::vector<TablesResult> tables;
};

// The table, and nine other tables for the memory of ten open ones: copies
// of `extras_from` (a table open under another name is the same table, so
// links would not do).
bool make_tables(const std::string& folder, Sized& s, double deleted, const Sized* extras_from) {
  std::string base = folder + "/t" + std::to_string(s.records);
  s.names.push_back(base + "_0.dbf");
  int ok = 0;
  std::function<int()> work = [&] { return kora::bench::write_big_table(s.names[0], s.records, deleted) ? 1 : 0; };
  if (!in_child(work, ok) || !ok) return false;
  if (extras_from) {
    s.names.insert(s.names.end(), extras_from->names.begin() + 1, extras_from->names.end());
    return true;
  }
  for (int k = 1; k <= kExtraTables; ++k) {
    s.names.push_back(base + "_" + std::to_string(k) + ".dbf");
    std::error_code error;
    if (!fs::copy_file(s.names[0], s.names.back(), error)) return false;
  }
  return true;
}

// A table given by name, browsed only: its record count from the header.
bool take_table(const std::string& path, Sized& s) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  unsigned char header[8] = {};
  bool read = f && std::fread(header, 1, sizeof header, f) == sizeof header;
  if (f) std::fclose(f);
  if (!read) return false;
  s.records = header[4] | header[5] << 8 | header[6] << 16 | (unsigned long long)header[7] << 24;
  s.names.push_back(path);
  return true;
}

void print_row(const char* label, double small, double large, const char* format) {
  char a[32], b[32];
  std::snprintf(a, sizeof a, format, small);
  std::snprintf(b, sizeof b, format, large);
  double ratio = small > 0 ? large / small : 0;
  std::printf("%-30s %12s %12s %10.2f\n", label, a, b, ratio);
}

template <typename R, typename F>
double med(const std::vector<R>& runs, F field) {
  std::vector<double> values;
  for (const R& r : runs) values.push_back(double(field(r)));
  return values.empty() ? 0 : median(values);
}

void report(const Sized& s, const Sized& l, const Options& o) {
  std::printf("\nbrowse_bench: %d x %d screen, %.0f%% deleted, %d presses, median of %d rounds\n", o.cols,
              o.rows, o.deleted * 100, o.presses, o.rounds);
  std::printf("%-30s %12llu %12llu %10s\n", "records", s.records, l.records, "ratio");
  auto b = [&](auto field, const char* label, const char* format) {
    print_row(label, med(s.browse, field), med(l.browse, field), format);
  };
  b([](const BrowseResult& r) { return r.first_ms; }, "first screen, ms", "%.3f");
  b([](const BrowseResult& r) { return r.ctrl_end_ms; }, "Ctrl+End, ms", "%.3f");
  b([](const BrowseResult& r) { return r.ctrl_home_ms; }, "Ctrl+Home, ms", "%.3f");
  b([](const BrowseResult& r) { return r.pgdn_mean; }, "PgDn mean, ms", "%.3f");
  b([](const BrowseResult& r) { return r.pgdn_max; }, "PgDn max, ms", "%.3f");
  b([](const BrowseResult& r) { return r.pgup_mean; }, "PgUp mean, ms", "%.3f");
  b([](const BrowseResult& r) { return r.pgup_max; }, "PgUp max, ms", "%.3f");
  b([](const BrowseResult& r) { return r.base_kb / 1024.0; }, "RSS before start, MiB", "%.1f");
  b([](const BrowseResult& r) { return r.first_kb / 1024.0; }, "RSS at first screen, MiB", "%.1f");
  b([](const BrowseResult& r) { return r.peak_kb / 1024.0; }, "peak RSS of browse run, MiB", "%.1f");
  if (s.tables.empty() || l.tables.empty()) return;
  auto t = [&](auto field, const char* label, const char* format) {
    print_row(label, med(s.tables, field), med(l.tables, field), format);
  };
  t([](const TablesResult& r) { return r.one_kb / 1024.0; }, "RSS with 1 table, MiB", "%.1f");
  t([](const TablesResult& r) { return r.ten_kb / 1024.0; }, "RSS with 10 tables, MiB", "%.1f");
  t([](const TablesResult& r) { return (r.ten_kb - r.one_kb) / 9.0; }, "RSS per extra table, KiB", "%.0f");
  t([](const TablesResult& r) { return r.peak_kb / 1024.0; }, "peak RSS of 10-table run, MiB", "%.1f");
}

// Runs both scenarios on one size; false when a run failed or looked wrong.
bool measure(Sized& s, const Options& o) {
  std::function<BrowseResult()> b = [&] { return browse(s.names[0], s.records, o.presses); };
  std::function<TablesResult()> t = [&] { return ten_tables(s.names); };
  BrowseResult br;
  TablesResult tr;
  if (!in_child(b, br, &br.peak_kb) || !br.ok) return false;
  if (!br.grid_seen || !br.last_seen) {
    std::fprintf(stderr, "browse_bench: %llu records: grid %d, last record %d on screen\n", s.records,
                 br.grid_seen, br.last_seen);
    return false;
  }
  if (s.names.size() == 1) {
    s.browse.push_back(br);
    return true;
  }
  if (!in_child(t, tr, &tr.peak_kb) || !tr.ok) {
    std::fprintf(stderr, "browse_bench: %llu records: %d of 10 tables open\n", s.records, tr.opened);
    return false;
  }
  if (std::getenv("BROWSE_BENCH_RAW")) std::fprintf(stderr, "raw %llu: base %ld first %ld peak %ld; tables base %ld one %ld ten %ld peak %ld\n", s.records, br.base_kb, br.first_kb, br.peak_kb, tr.base_kb, tr.one_kb, tr.ten_kb, tr.peak_kb);
  s.browse.push_back(br);
  s.tables.push_back(tr);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse(argc, argv);
  g_rows = o.rows;
  g_cols = o.cols;
  std::string pattern = o.dir + "/browse_bench.XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror(pattern.c_str());
    return 1;
  }
  std::string folder = pattern;
  Sized small, large;
  small.records = o.small;
  large.records = o.large;
  const bool pair = !o.table_a.empty();
  bool ok = pair ? take_table(o.table_a, small) && take_table(o.table_b, large)
                 : make_tables(folder, small, o.deleted, nullptr) && make_tables(folder, large, o.deleted, &small);
  if (!ok) std::fprintf(stderr, "browse_bench: cannot write the tables in %s\n", folder.c_str());
  // Small and large alternate, so that a load on the machine hits both.
  for (int round = 0; ok && round < o.rounds; ++round) {
    ok = measure(small, o) && measure(large, o);
    std::fprintf(stderr, "round %d of %d done\n", round + 1, o.rounds);
    std::fflush(stderr);
  }
  std::error_code error;
  fs::remove_all(folder, error);
  if (!ok) return 1;
  report(small, large, o);
  return 0;
}
