#include "app/about.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/app_state.h"
#include "app/help.h"
#include "app/version.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/text_editor.h"

namespace kora {

namespace {

constexpr int kReadmeHelp = 33;
constexpr int kManualHelp = 34;
constexpr int kAboutHelp = 67;

// A text in the read-only viewer, titled.
void show_text(const std::string& text, const std::string& title, int help_topic) {
  std::unique_ptr<TextEditor> viewer =
      text_create(text.c_str(), 2, 2, screen_cols() - 3, screen_rows() - 3, 0, title);
  if (!viewer) return;
  viewer->read_only = 1;
  text_run(*viewer, help_topic, g_ui_idle_hook);
  text_free(viewer);
  g_app.redraw |= kRedrawAll;
}

}  // namespace

std::string readme_path(const std::string& program_path) {
  size_t slash = program_path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : program_path.substr(0, slash);
  const std::string places[] = {folder + "/README.md", folder + "/../README.md",
                                folder + "/../share/doc/kora/README.md"};
  for (const std::string& place : places)
    if (access(place.c_str(), R_OK) == 0) return place;
  return {};
}

void show_readme() {
  std::string path = readme_path(help_program_path());
  std::ifstream in(path, std::ios::binary);
  if (path.empty() || !in) {
    message_box("The README is not installed beside kora\nnor in share/doc/kora.", "Read me", "OK", 0, kReadmeHelp);
    return;
  }
  std::ostringstream text;
  text << in.rdbuf();
  show_text(text.str(), path, kReadmeHelp);
}

void show_manual_page() {
  // man formats the page for the viewer's width, without bold or underline.
  std::string command = "MANWIDTH=" + std::to_string(std::max(40, screen_cols() - 8)) +
                        " MAN_KEEP_FORMATTING= man -P cat kora 2>/dev/null | col -bx 2>/dev/null";
  std::string text;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
    pclose(pipe);
  }
  if (text.empty()) {
    message_box("The manual page is not installed:\nsee the README instead.", "Manual page", "OK", 0, kManualHelp);
    return;
  }
  show_text(text, "man kora", kManualHelp);
}

void show_about() {
  std::string text = std::string(kVersionText) +
                     "\nViewer and editor of DBF tables\n\nRead: man kora, and the README\ninstalled with kora";
  message_box(text, "About", "OK", 0, kAboutHelp);
}

}  // namespace kora
