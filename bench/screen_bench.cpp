// Benchmark of the screen: full repaints of a 200 x 60 screen through the
// curses backend, and save_screen / restore_screen of the same size, each
// beside a baseline measured in the same run:
//   repaint            every cell changes each frame, then screen_refresh()
//   write baseline     write() of as many bytes as a repaint sent, to the
//                      same output
//   save / restore     the pop-up snapshot calls
//   memcpy baseline    a plain copy of the grid's cells
// Output goes to a pseudo-terminal (read and thrown away by a thread, the
// way a terminal emulator would take it) or to /dev/null.
//
// Usage: screen_bench [--out pty|null] [--frames N] [--copies N]
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ui/screen.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 60;
constexpr int kCols = 200;

struct Options {
  bool pty = true;
  int frames = 300;
  int copies = 20000;
};

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--out") options.pty = std::strcmp(argv[i + 1], "null") != 0;
    if (name == "--frames") options.frames = std::max(1, std::atoi(argv[i + 1]));
    if (name == "--copies") options.copies = std::max(1, std::atoi(argv[i + 1]));
  }
  return options;
}

// Bytes this process has written so far (all write calls, any file).
long long bytes_written() {
  std::FILE* io = std::fopen("/proc/self/io", "r");
  if (!io) return -1;
  char line[128];
  long long value = -1;
  while (std::fgets(line, sizeof line, io)) {
    if (std::sscanf(line, "wchar: %lld", &value) == 1) break;
  }
  std::fclose(io);
  return value;
}

double thread_cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The far end of the pseudo-terminal: read everything and throw it away.
struct PtyReader {
  int master = -1;
  std::atomic<bool> stop{false};
  std::atomic<long long> received{0};
  std::thread thread;

  void start() {
    thread = std::thread([this] {
      std::vector<char> buffer(1 << 16);
      while (!stop.load()) {
        ssize_t got = read(master, buffer.data(), buffer.size());
        if (got <= 0) break;
        received += got;
      }
    });
  }
};

// Points standard input and output at the bench's terminal; returns a
// stream on the original standard output for the report.
std::FILE* redirect_terminal(const Options& options, PtyReader& reader) {
  int report_fd = dup(STDOUT_FILENO);
  setenv("TERM", "xterm-256color", 1);
  setenv("LC_ALL", "C.UTF-8", 1);
  if (options.pty) {
    int slave = -1;
    winsize size{};
    size.ws_row = kRows;
    size.ws_col = kCols;
    if (openpty(&reader.master, &slave, nullptr, nullptr, &size) != 0) {
      std::perror("openpty");
      std::exit(1);
    }
    reader.start();
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    close(slave);
  } else {
    setenv("LINES", std::to_string(kRows).c_str(), 1);
    setenv("COLUMNS", std::to_string(kCols).c_str(), 1);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
  }
  return fdopen(report_fd, "w");
}

// Every cell different from the frame before: Latin and Cyrillic letters
// (the mix of one- and two-byte UTF-8) and a colour per 10-column block.
// The pattern never repeats a row of the previous frame on another row,
// so curses cannot save work by scrolling.
void draw_frame(int frame) {
  static const unsigned char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZ\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c"
      "\x8d\x8e\x8f\xa0\xa1\xa2\xa3\xa4\xa5\xa6\xa7\xa8\xa9\xaa\xab\xac";
  constexpr int kLetters = sizeof kAlphabet - 1;  // 52
  for (int y = 0; y < kRows; ++y) {
    for (int x = 0; x < kCols; ++x) {
      int letter = (x * 7 + y * 13 + frame * 5) % kLetters;
      auto attr = static_cast<unsigned char>((((x / 10 + frame) % 8) << 4) | (frame % 2 ? 0x0F : 0x0E));
      kora::put_char(x, y, kAlphabet[letter], attr);
    }
  }
}

struct Result {
  double seconds_per_op;
  double cpu_per_op;
  long long bytes_per_op;
};

Result time_repaints(int frames) {
  draw_frame(0);
  kora::screen_refresh();
  long long bytes_before = bytes_written();
  double cpu_before = thread_cpu_seconds();
  Clock::time_point start = Clock::now();
  for (int f = 1; f <= frames; ++f) {
    draw_frame(f);
    kora::screen_refresh();
  }
  double wall = seconds_since(start);
  double cpu = thread_cpu_seconds() - cpu_before;
  long long bytes = bytes_written() - bytes_before;
  return {wall / frames, cpu / frames, bytes / frames};
}

Result time_draw_only(int frames) {
  Clock::time_point start = Clock::now();
  double cpu_before = thread_cpu_seconds();
  for (int f = 1; f <= frames; ++f) draw_frame(f);
  return {seconds_since(start) / frames, (thread_cpu_seconds() - cpu_before) / frames, 0};
}

// write() of bytes_per_frame bytes per frame, in pieces as large as curses
// writes, to the same standard output.
Result time_plain_writes(int frames, long long bytes_per_frame) {
  std::vector<char> frame_bytes(static_cast<size_t>(bytes_per_frame));
  for (size_t i = 0; i < frame_bytes.size(); ++i) frame_bytes[i] = static_cast<char>('A' + i % 26);
  constexpr size_t kPiece = 4096;
  double cpu_before = thread_cpu_seconds();
  Clock::time_point start = Clock::now();
  for (int f = 0; f < frames; ++f) {
    for (size_t done = 0; done < frame_bytes.size();) {
      size_t piece = std::min(kPiece, frame_bytes.size() - done);
      ssize_t written = write(STDOUT_FILENO, frame_bytes.data() + done, piece);
      if (written <= 0) break;
      done += static_cast<size_t>(written);
    }
  }
  return {seconds_since(start) / frames, (thread_cpu_seconds() - cpu_before) / frames,
          bytes_per_frame};
}

struct CopyResults {
  double save, restore, memcpy_copy, restore_refresh;
};

CopyResults time_copies(int copies, int refresh_frames) {
  CopyResults results{};
  draw_frame(1);
  kora::ScreenSnapshot first = kora::save_screen();
  draw_frame(2);
  kora::ScreenSnapshot second = kora::save_screen();

  Clock::time_point start = Clock::now();
  size_t checksum = 0;
  for (int i = 0; i < copies; ++i) {
    kora::ScreenSnapshot snapshot = kora::save_screen();
    checksum += snapshot.cells[static_cast<size_t>(i) % snapshot.cells.size()].ch;
  }
  results.save = seconds_since(start) / copies;

  start = Clock::now();
  for (int i = 0; i < copies; ++i) kora::restore_screen(i % 2 ? first : second);
  results.restore = seconds_since(start) / copies;

  std::vector<kora::Cell> target(kora::g_screen.cells.size());
  start = Clock::now();
  for (int i = 0; i < copies; ++i) {
    const std::vector<kora::Cell>& source = i % 2 ? first.cells : second.cells;
    std::memcpy(target.data(), source.data(), source.size() * sizeof(kora::Cell));
    asm volatile("" : : "r"(target.data()) : "memory");
  }
  results.memcpy_copy = seconds_since(start) / copies;

  // Closing a pop-up that covered the whole screen: restore and show it.
  start = Clock::now();
  for (int i = 0; i < refresh_frames; ++i) {
    kora::restore_screen(i % 2 ? first : second);
    kora::screen_refresh();
  }
  results.restore_refresh = seconds_since(start) / refresh_frames;
  if (checksum == 0) std::fputc(' ', stderr);  // keeps the copies from being dropped
  return results;
}

void report_line(std::FILE* out, const char* name, double seconds, const char* note) {
  std::fprintf(out, "  %-34s %10.1f us/op  %s\n", name, seconds * 1e6, note);
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);
  PtyReader reader;
  std::FILE* out = redirect_terminal(options, reader);
  kora::screen_open();
  int rows = kora::screen_rows();
  int cols = kora::screen_cols();

  Result repaint = time_repaints(options.frames);
  Result draw = time_draw_only(options.frames);
  Result writes = time_plain_writes(options.frames, repaint.bytes_per_op);
  CopyResults copies = time_copies(options.copies, options.frames);

  kora::screen_close();
  if (options.pty) {
    // The reader's read() ends (EIO) once no descriptor of the slave side
    // is left open; closing the master would not wake it.
    reader.stop = true;
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
    reader.thread.join();
    close(reader.master);
  }

  std::fprintf(out, "screen_bench: %dx%d cells (terminal reported %dx%d), output %s, TERM=xterm-256color\n",
               kCols, kRows, cols, rows, options.pty ? "pseudo-terminal" : "/dev/null");
  std::fprintf(out, "full repaint, every cell changed, %d frames:\n", options.frames);
  char note[128];
  std::snprintf(note, sizeof note, "cpu %.1f us, %lld bytes/frame, %.0f frames/s",
                repaint.cpu_per_op * 1e6, repaint.bytes_per_op, 1.0 / repaint.seconds_per_op);
  report_line(out, "draw into grid + screen_refresh", repaint.seconds_per_op, note);
  report_line(out, "  of which drawing into the grid", draw.seconds_per_op, "");
  std::snprintf(note, sizeof note, "cpu %.1f us, same bytes, same output", writes.cpu_per_op * 1e6);
  report_line(out, "baseline: write() of the bytes", writes.seconds_per_op, note);
  std::fprintf(out, "save/restore of the whole screen (%zu bytes of cells), %d copies:\n",
               kora::g_screen.cells.size() * sizeof(kora::Cell), options.copies);
  report_line(out, "save_screen", copies.save, "");
  report_line(out, "restore_screen", copies.restore, "");
  report_line(out, "baseline: memcpy of the cells", copies.memcpy_copy, "");
  report_line(out, "restore_screen + screen_refresh", copies.restore_refresh,
              "(a full-screen pop-up closing)");
  if (options.pty) std::fprintf(out, "pty reader took %lld bytes in all\n", reader.received.load());
  std::fclose(out);
  return 0;
}
