// The progress box of long operations: "Please wait..." and a bar.
#include <memory>

#include "app/app_state.h"
#include "app/main_loop.h"
#include "ui/screen.h"

namespace kora {

namespace {

constexpr int kBarCells = 30;

int bar_left() { return screen_cols() / 2 - 15; }
int bar_row() { return screen_rows() / 2 + 1; }

void draw_bar_cells(long cells) {
  put_repeat(bar_left(), bar_row(), int(cells), 219, g_colors.DialogFill);
}

// The box with the bar as far as it has gone; a resize draws it again.
void draw_progress_box(long cells) {
  int cols = screen_cols(), rows = screen_rows();
  draw_box(cols / 2 - 16, rows / 2 - 2, cols / 2 + 15, rows / 2 + 2, g_colors.DialogFrame, g_frames.single_frame, 0);
  put_title(rows / 2 - 1, "Please wait...", g_colors.DialogText);
  if (!g_settings.progress_bar) return;
  put_repeat(bar_left(), bar_row(), kBarCells, 176, g_colors.DialogFill);
  draw_bar_cells(cells);
}

struct ProgressBox {
  // Taken before the box's own layer opens: it is what lies beneath.
  ScreenSnapshot saved = save_screen();
  long total = 0;
  long steps = 0;
  long cells = 0;  // cells of the bar drawn so far
  PaintLayer layer{[this] { draw_progress_box(cells); }};
};
std::unique_ptr<ProgressBox> g_progress;

void draw_bar() {
  long cells = g_progress->total > 0 ? g_progress->steps * kBarCells / g_progress->total : kBarCells;
  if (cells >= kBarCells) cells = kBarCells - 1;
  if (cells == g_progress->cells) return;
  g_progress->cells = cells;
  draw_bar_cells(cells);
  screen_refresh();
}

}  // namespace

void progress_open(long total) {
  progress_close();
  g_progress = std::make_unique<ProgressBox>();
  g_progress->total = total;
  draw_progress_box(0);
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
