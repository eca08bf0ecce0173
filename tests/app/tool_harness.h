// The data tools as the user drives them on the headless screen: a built
// table opened as the current one, keys that wait until a dialog reads them
// (and `late` ones that arrive while a walk is under way), a picture of every
// distinct screen a key wait saw, and the file's bytes afterwards.
#pragma once

#include <gtest/gtest.h>

#include <type_traits>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/commands.h"
#include "app/main_loop.h"
#include "table/record_ops.h"
#include "ui/backend.h"
#include "ui/key_codes.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora::test {

inline std::vector<std::string> g_pictures;

inline void take_picture(int, int, int, int) {
  std::string text;
  for (int y = 0; y < screen_rows(); ++y) text += screen_row_text(y) + "\n";
  if (g_pictures.empty() || g_pictures.back() != text) g_pictures.push_back(text);
}

class ToolHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_app_state();
    screen_open_headless(25, 80);
    backend = headless_backend();
    install_cell_editing();
    g_ui_idle_hook = take_picture;
    g_pictures.clear();
  }
  void TearDown() override {
    g_ui_idle_hook = nullptr;
    g_cell_edit_hooks = CellEditHooks{};
    g_settings_file.clear();
    g_settings = Settings{};
    reset_app_state();
  }

  Table& open(const DbfLayout& layout) {
    write_bytes(path = dir.file("t.dbf"), build_dbf(layout));
    EXPECT_GE(g_app.current = add_open_table(path), 0);
    return *g_app.table();
  }

  // Spaced keys arrive 50 ms apart, so that a box answered by one is
  // pictured while it waits; late ones 1 ms after the last.
  void push(const std::vector<int>& keys, const std::vector<int>& late = {}) {
    long long at = backend->now_ms();
    for (int k : keys) backend->push_key(k, spaced ? at += 50 : -1);
    for (int k : late) backend->push_key(k, at + 1);
  }
  // A key's command, a menu's command or any call, with its keys; then the
  // view is painted as the main loop would.
  template <typename Command>
  void run(Command command, const std::vector<int>& keys = {}, const std::vector<int>& late = {}) {
    push(keys, late);
    if constexpr (std::is_same_v<Command, Cmd>) run_command(command);
    else if constexpr (std::is_integral_v<Command>) dispatch_key(command);
    else command();
    if (g_app.redraw & kRedrawAll) full_repaint();
    paint_view();
  }
  // The characters of text, then the other keys.
  static std::vector<int> text(const std::string& typed, std::vector<int> then = {}) {
    then.insert(then.begin(), typed.begin(), typed.end());
    return then;
  }

  static bool shown(const std::string& text) {
    for (const std::string& picture : g_pictures) {
      if (picture.find(text) != std::string::npos) return true;
    }
    return false;
  }
  // Bytes of record q in the file, from offset (1 is the first field).
  std::string cell(uint32_t q, int offset, int length) const {
    std::vector<uint8_t> bytes = read_bytes(path);
    if (bytes.size() < 12) return "";
    size_t at = size_t(bytes[8] | bytes[9] << 8) + q * size_t(bytes[10] | bytes[11] << 8) + size_t(offset);
    return at + size_t(length) <= bytes.size() ? std::string(bytes.begin() + long(at), bytes.begin() + long(at) + length)
                                               : "";
  }
  // The physical records in view, in view order.
  static std::string view(const Table& t) {
    std::string out;
    for (uint32_t p = 0; p < visible_count(t); ++p) out += std::to_string(physical_record(t, p)) + " ";
    return out;
  }
  static std::string ini() {
    std::vector<uint8_t> bytes = read_bytes(g_settings_file);
    return {bytes.begin(), bytes.end()};
  }

  TempDir dir;
  std::string path;
  HeadlessBackend* backend = nullptr;
  bool spaced = false;
};

}  // namespace kora::test
