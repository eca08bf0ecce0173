// The progress box of long operations: "Please wait..." and a bar.
#include <memory>

#include "app/app_state.h"
#include "app/main_loop.h"
#include "ui/screen.h"

namespace kora {

namespace {

constexpr int kBarCells = 30;

struct ProgressBox {
  ScreenSnapshot saved;
  long total = 0;
  long steps = 0;
  long cells = 0;  // cells of the bar drawn so far
};
std::unique_ptr<ProgressBox> g_progress;

int bar_left() { return screen_cols() / 2 - 15; }
int bar_row() { return screen_rows() / 2 + 1; }

void draw_bar() {
  long cells = g_progress->total > 0 ? g_progress->steps * kBarCells / g_progress->total : kBarCells;
  if (cells >= kBarCells) cells = kBarCells - 1;
  if (cells == g_progress->cells) return;
  g_progress->cells = cells;
  put_repeat(bar_left(), bar_row(), int(cells), 219, g_colors.DialogFill);
  screen_refresh();
}

}  // namespace

void progress_open(long total) {
  progress_close();
  g_progress = std::make_unique<ProgressBox>();
  g_progress->saved = save_screen();
  g_progress->total = total;
  int cols = screen_cols(), rows = screen_rows();
  draw_box(cols / 2 - 16, rows / 2 - 2, cols / 2 + 15, rows / 2 + 2, g_colors.DialogFrame, g_frames.single_frame, 0);
  put_title(rows / 2 - 1, "Please wait...", g_colors.DialogText);
  if (g_settings.progress_bar) put_repeat(bar_left(), bar_row(), kBarCells, 176, g_colors.DialogFill);
  screen_refresh();
}

void progress_step() {
  if (!g_progress || !g_settings.progress_bar) return;
  ++g_progress->steps;
  draw_bar();
}

void progress_show(long done, long total) {
  if (!g_progress || !g_settings.progress_bar) return;
  g_progress->steps = done;
  g_progress->total = total;
  draw_bar();
}

void progress_close() {
  if (!g_progress) return;
  restore_screen(g_progress->saved);
  g_progress.reset();
}

}  // namespace kora
