// engine_bench: the cost of the table engine's bulk paths, measured side by
// side in one run against the cost of plain file copies of the same data.
//
//   (a) open_table of a 10,000,000-record table against a 10-record one;
//   (b) one pass over a 1,000,000-record table reading every record and
//       the text of one field, against `cat file > /dev/null` and `cp`;
//   (c) pack_table of that table with 5% of its records deleted, against
//       the same cat and cp;
//   (d) with --gen and --dbfpass: the record scanner's walk with the text
//       of every field of every live record over the table gen_dbf.py
//       writes, against the native buffered pass (dbfpass -o /dev/null)
//       and cat, wall and CPU time (--only scan runs this part alone).
//
// Every measurement runs in a child process of its own (this program run
// again with --child, or cat and cp), so that each gets its own peak
// resident size from wait4. The tables are written to a temporary folder
// that is removed at the end.
//
// engine_bench [--dir PARENT] [--huge N] [--records N] [--deleted SHARE]
//              [--repeat N] [--opens N] [--gen GEN_DBF.PY --dbfpass DBFPASS
//              [--only scan]]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

#include "big_table.h"
#include "table/dbf_file.h"
#include "table/record_ops.h"
#include "table/record_scanner.h"
#include "table/value_codec.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---------------------------------------------------------------------------
// The child side: one engine operation, timed, printed as
// "<seconds> <check value>" on standard output.

int child_open(const char* path, int repeat) {
  unsigned long long count = 0;
  auto start = Clock::now();
  for (int k = 0; k < repeat; ++k) {
    std::unique_ptr<kora::Table> table = kora::open_table(path);
    if (!table) return 1;
    count = table->record_count;
    kora::close_table(table);
  }
  std::printf("%.9f %llu\n", seconds_since(start) / repeat, count);
  return 0;
}

int child_read(const char* path) {
  std::unique_ptr<kora::Table> table = kora::open_table(path);
  if (!table) return 1;
  int field = kora::find_field(*table, "NAME");
  unsigned long long read = 0, text_bytes = 0;
  auto start = Clock::now();
  for (uint32_t p = 0; p < table->record_count; ++p) {
    if (!kora::read_record(*table, p)) break;
    text_bytes += std::strlen(kora::field_text(*table, field));
    ++read;
  }
  double elapsed = seconds_since(start);
  if (text_bytes == 0) return 1;
  std::printf("%.9f %llu\n", elapsed, read);
  kora::close_table(table);
  return 0;
}

// The record scanner's walk over the view with the text of every field of
// every live record, the work a filter or an export does per record.
int child_scan(const char* path) {
  std::unique_ptr<kora::Table> table = kora::open_table(path);
  if (!table) return 1;
  int fields = table->field_count();
  unsigned long long live = 0, text_bytes = 0;
  auto start = Clock::now();
  kora::RecordScanner scan(*table);
  kora::ScannedRecord r;
  std::vector<std::string> texts(static_cast<size_t>(fields));
  while (scan.next(r)) {
    if (r.image[0] == '*') continue;
    kora::RecordImage image(r.image, table->record_size);
    for (int i = 0; i < fields; ++i) {
      kora::field_text(*table, image, i, texts[size_t(i)]);
      text_bytes += texts[size_t(i)].size();
    }
    ++live;
  }
  double elapsed = seconds_since(start);
  if (scan.status() != kora::Status::kOk || text_bytes == 0) return 1;
  std::printf("%.9f %llu\n", elapsed, live);
  return 0;
}

int child_pack(const char* path) {
  std::unique_ptr<kora::Table> table = kora::open_table(path);
  if (!table) return 1;
  auto start = Clock::now();
  int ok = kora::pack_table(*table, 0);
  double elapsed = seconds_since(start);
  if (!ok) return 1;
  std::printf("%.9f %llu\n", elapsed, static_cast<unsigned long long>(table->record_count));
  kora::close_table(table);
  return 0;
}

int run_as_child(int argc, char** argv) {
  if (argc < 4) return 2;
  std::string op = argv[2];
  if (op == "open") return child_open(argv[3], argc > 4 ? std::atoi(argv[4]) : 1);
  if (op == "read") return child_read(argv[3]);
  if (op == "pack") return child_pack(argv[3]);
  if (op == "scan") return child_scan(argv[3]);
  return 2;
}

// ---------------------------------------------------------------------------
// The parent side: running children and collecting time and peak memory.

struct Run {
  bool ok = false;
  double wall = 0;      // fork to wait, seconds
  double inner = 0;     // the child's own timing of the operation, seconds
  double cpu = 0;       // the child's user and system time, seconds
  unsigned long long check = 0;
  long max_rss_kb = 0;
};

// Runs argv[0] with the arguments; its standard output goes to /dev/null
// when `quiet`, else it is read as "<seconds> <check>".
Run run_child(const std::vector<std::string>& args, bool quiet) {
  Run run;
  int fds[2];
  if (pipe(fds) != 0) return run;
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    int out = quiet ? ::open("/dev/null", O_WRONLY) : fds[1];
    dup2(out, 1);
    if (quiet) dup2(out, 2);  // the reference tools' own reports
    close(fds[0]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  run.wall = seconds_since(start);
  run.max_rss_kb = usage.ru_maxrss;
  run.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.inner = run.wall;
  if (!quiet && run.ok) run.ok = std::sscanf(out.c_str(), "%lf %llu", &run.inner, &run.check) == 2;
  return run;
}

// One measurement: the child's command line and the best of its runs (the
// least time; the largest peak memory of any run).
struct Measurement {
  std::vector<std::string> args;
  bool quiet;                    // output not read (cat, cp)
  std::function<void()> before;  // untimed preparation before each run
  Run best;
  int runs = 0;

  void run_once() {
    if (before) before();
    Run run = run_child(args, quiet);
    if (runs > 0 && !best.ok) return;
    long rss = std::max(best.max_rss_kb, run.max_rss_kb);
    if (runs == 0 || !run.ok || run.inner < best.inner) best = run;
    best.max_rss_kb = rss;
    ++runs;
  }
};

// Runs the measurements in rounds, one run of each per round, so that a
// change in the machine's load falls on all of them alike.
void run_rounds(std::vector<Measurement*> all, int repeat) {
  for (int k = 0; k < repeat; ++k)
    for (Measurement* m : all) m->run_once();
}

std::string self_path() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

std::string find_program(const char* name) {
  for (const char* dir : {"/bin/", "/usr/bin/"}) {
    std::string path = std::string(dir) + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return name;
}

std::string human_time(double s) {
  char buf[32];
  if (s < 1e-3)
    std::snprintf(buf, sizeof buf, "%.1f us", s * 1e6);
  else if (s < 1)
    std::snprintf(buf, sizeof buf, "%.1f ms", s * 1e3);
  else
    std::snprintf(buf, sizeof buf, "%.2f s", s);
  return buf;
}

void print_row(const char* what, double time, const std::string& ratio, long rss_kb) {
  std::printf("%-44s %12s  %-26s %8.1f MB\n", what, human_time(time).c_str(), ratio.c_str(), rss_kb / 1024.0);
}

std::string ratio_text(double a, double b, const char* to) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1fx %s", b > 0 ? a / b : 0.0, to);
  return buf;
}

// A child's peak resident size counts the pages it had before exec, which a
// forked child shares with this process. The tables are therefore written
// by a child of their own, so that this process never grows by the write
// buffers and the peaks measured afterwards are the children's own.
struct TableJob {
  std::string path;
  unsigned long long records;
  double deleted;
};

bool write_tables_in_child(const std::vector<TableJob>& jobs) {
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    for (const TableJob& job : jobs)
      if (!kora::bench::write_big_table(job.path, job.records, job.deleted)) _exit(1);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Options {
  std::string parent = std::filesystem::temp_directory_path().string();
  std::string gen, dbfpass;  // the reference table writer and native pass
  bool scan_only = false;
  unsigned long long huge = 10000000, records = 1000000;
  double deleted = 0.05;
  int repeat = 3;
  int opens = 200;
};

bool parse_options(int argc, char** argv, Options& o) {
  for (int k = 1; k < argc; ++k) {
    std::string a = argv[k];
    if (k + 1 >= argc) return false;
    const char* v = argv[++k];
    if (a == "--dir") o.parent = v;
    else if (a == "--huge") o.huge = std::strtoull(v, nullptr, 10);
    else if (a == "--records") o.records = std::strtoull(v, nullptr, 10);
    else if (a == "--deleted") o.deleted = std::strtod(v, nullptr);
    else if (a == "--repeat") o.repeat = std::max(1, std::atoi(v));
    else if (a == "--opens") o.opens = std::max(1, std::atoi(v));
    else if (a == "--gen") o.gen = v;
    else if (a == "--dbfpass") o.dbfpass = v;
    else if (a == "--only") o.scan_only = std::strcmp(v, "scan") == 0;
    else return false;
  }
  return true;
}

int fail(const char* what, const std::string& folder) {
  std::fprintf(stderr, "engine_bench: %s\n", what);
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return 1;
}

// (d) The scanner's walk with the text of every field against the native
// buffered pass writing CSV and against cat, on the reference table.
int run_scan_benchmark(const Options& o, const std::string& dir) {
  namespace fs = std::filesystem;
  std::string self = self_path(), cat = find_program("cat"), python = find_program("python3");
  std::string table = dir + "/reference.dbf";
  auto start = Clock::now();
  Run written = run_child({python, o.gen, std::to_string(o.records), table}, true);
  if (!written.ok) return fail("gen_dbf.py could not write the reference table", dir);
  double mb = double(fs::file_size(table)) / 1e6;
  std::printf("\nreference table written by gen_dbf.py in %s: %llu records (%.0f MB)\n",
              human_time(seconds_since(start)).c_str(), o.records, mb);
  run_child({cat, table}, true);

  Measurement m_cat{{cat, table}, true, nullptr, {}};
  Measurement m_native{{o.dbfpass, "-o", "/dev/null", table}, true, nullptr, {}};
  Measurement m_scan{{self, "--child", "scan", table}, false, nullptr, {}};
  run_rounds({&m_cat, &m_native, &m_scan}, o.repeat);
  const Run &cat_run = m_cat.best, &native = m_native.best, &scan = m_scan.best;
  if (!cat_run.ok || !native.ok || !scan.ok) return fail("a scan measurement failed", dir);
  if (scan.check == 0 || scan.check > o.records) return fail("the scan saw a wrong number of live records", dir);

  std::printf("%-44s %12s  %-26s %11s\n", "measurement (process wall / CPU)", "time", "ratio", "max RSS");
  char label[96];
  std::snprintf(label, sizeof label, "cat %.0f MB > /dev/null", mb);
  print_row(label, cat_run.wall, "", cat_run.max_rss_kb);
  print_row("dbfpass buffered CSV pass, wall", native.wall, "", native.max_rss_kb);
  print_row("dbfpass buffered CSV pass, CPU", native.cpu, "", native.max_rss_kb);
  print_row("scanner + every field_text, wall", scan.wall, ratio_text(scan.wall, native.wall, "dbfpass, ") +
            ratio_text(scan.wall, cat_run.wall, "cat"), scan.max_rss_kb);
  print_row("scanner + every field_text, CPU", scan.cpu, ratio_text(scan.cpu, native.cpu, "dbfpass"),
            scan.max_rss_kb);
  std::printf("\nscan of %llu live records: %.0f ns per record inside the walk\n", scan.check,
              scan.inner / double(o.records) * 1e9);
  return 0;
}

int run_benchmarks(const Options& o, const std::string& dir) {
  if (o.scan_only) {
    if (o.gen.empty() || o.dbfpass.empty()) return fail("--only scan needs --gen and --dbfpass", dir);
    int status = run_scan_benchmark(o, dir);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
  }
  namespace fs = std::filesystem;
  std::string self = self_path(), cat = find_program("cat"), cp = find_program("cp");
  std::string tiny = dir + "/tiny.dbf", huge = dir + "/huge.dbf", big = dir + "/big.dbf";
  std::string copy = dir + "/copy.dbf", packed = dir + "/packed.dbf";

  auto start = Clock::now();
  if (!write_tables_in_child({{tiny, 10, 0}, {huge, o.huge, 0}, {big, o.records, o.deleted}}))
    return fail("cannot write the tables", dir);
  unsigned long long live = 0;
  for (unsigned long long q = 0; q < o.records; ++q) live += !kora::bench::big_record_deleted(q, o.deleted);
  double big_mb = double(fs::file_size(big)) / 1e6;
  std::printf("tables written in %s: %llu and %llu records of %d bytes (%.0f MB and %.1f MB), %llu deleted\n",
              human_time(seconds_since(start)).c_str(), o.huge, o.records, kora::bench::kBigRecordSize,
              double(fs::file_size(huge)) / 1e6, big_mb, o.records - live);
  std::printf("best of %d runs each; every measurement in its own process\n\n", o.repeat);
  std::printf("%-44s %12s  %-26s %11s\n", "measurement", "time", "ratio", "max RSS");

  auto remove_copy = [&] { std::error_code ec; fs::remove(copy, ec); };
  auto fresh_packed = [&] {
    std::error_code ec;
    fs::copy_file(big, packed, fs::copy_options::overwrite_existing, ec);
  };

  // Warm the page cache the same way for everyone.
  run_child({cat, big}, true);

  std::string opens = std::to_string(o.opens);
  Measurement m_open_tiny{{self, "--child", "open", tiny, opens}, false, nullptr, {}};
  Measurement m_open_huge{{self, "--child", "open", huge, opens}, false, nullptr, {}};
  Measurement m_cat{{cat, big}, true, nullptr, {}};
  Measurement m_cp{{cp, big, copy}, true, remove_copy, {}};
  Measurement m_read{{self, "--child", "read", big}, false, nullptr, {}};
  Measurement m_pack{{self, "--child", "pack", packed}, false, fresh_packed, {}};
  run_rounds({&m_open_tiny, &m_open_huge, &m_cat, &m_cp, &m_read, &m_pack}, o.repeat);
  remove_copy();
  const Run &open_tiny = m_open_tiny.best, &open_huge = m_open_huge.best, &cat_run = m_cat.best,
            &cp_run = m_cp.best, &read_run = m_read.best, &pack_run = m_pack.best;

  if (!open_tiny.ok || !open_huge.ok || !cat_run.ok || !cp_run.ok || !read_run.ok || !pack_run.ok)
    return fail("a measurement failed", dir);
  if (open_tiny.check != 10 || open_huge.check != o.huge) return fail("open_table saw a wrong record count", dir);
  if (read_run.check != o.records) return fail("the pass did not read every record", dir);
  if (pack_run.check != live) return fail("pack_table left a wrong number of records", dir);

  char label[96];
  print_row("open_table, 10 records", open_tiny.inner, "", open_tiny.max_rss_kb);
  std::snprintf(label, sizeof label, "open_table, %llu records", o.huge);
  print_row(label, open_huge.inner, ratio_text(open_huge.inner, open_tiny.inner, "the 10-record open"),
            open_huge.max_rss_kb);
  std::snprintf(label, sizeof label, "cat %.1f MB > /dev/null", big_mb);
  print_row(label, cat_run.wall, "", cat_run.max_rss_kb);
  std::snprintf(label, sizeof label, "cp %.1f MB", big_mb);
  print_row(label, cp_run.wall, ratio_text(cp_run.wall, cat_run.wall, "cat"), cp_run.max_rss_kb);
  std::snprintf(label, sizeof label, "read_record + field_text, %llu records", o.records);
  print_row(label, read_run.inner,
            ratio_text(read_run.inner, cat_run.wall, "cat, ") + ratio_text(read_run.inner, cp_run.wall, "cp"),
            read_run.max_rss_kb);
  std::snprintf(label, sizeof label, "pack_table, %llu records, %.0f%% deleted", o.records, o.deleted * 100);
  print_row(label, pack_run.inner,
            ratio_text(pack_run.inner, cat_run.wall, "cat, ") + ratio_text(pack_run.inner, cp_run.wall, "cp"),
            pack_run.max_rss_kb);
  std::printf("\nper record: read %.0f ns, pack %.0f ns; engine process wall incl. start: read %s, pack %s\n",
              read_run.inner / double(o.records) * 1e9, pack_run.inner / double(o.records) * 1e9,
              human_time(read_run.wall).c_str(), human_time(pack_run.wall).c_str());
  fs::remove(huge);
  if (!o.gen.empty() && !o.dbfpass.empty() && run_scan_benchmark(o, dir) != 0) return 1;
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return run_as_child(argc, argv);
  Options o;
  if (!parse_options(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: engine_bench [--dir PARENT] [--huge N] [--records N] [--deleted SHARE] [--repeat N] "
                 "[--opens N] [--gen GEN_DBF.PY --dbfpass DBFPASS [--only scan]]\n");
    return 2;
  }
  std::string pattern = o.parent + "/kora-bench-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror(o.parent.c_str());
    return 1;
  }
  return run_benchmarks(o, pattern);
}
