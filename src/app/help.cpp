#include "app/help.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "table/code_page.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/record_scanner.h"
#include "table/value_codec.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"
#include "ui/text_editor.h"

namespace kora {

namespace {

constexpr int kContentsTopic = 0;
constexpr size_t kMaxListed = 99;
constexpr int kTopicField = 0;
constexpr int kTitleField = 1;

std::string g_program_path;
bool g_help_showing = false;

// While help is shown: the flag that keeps F1 from opening help inside
// help, and the ReadOnly setting forced on, both undone on every way out.
class HelpShowing {
 public:
  HelpShowing() : kept_read_only_(g_settings.read_only) {
    g_help_showing = true;
    g_settings.read_only = 1;
  }
  ~HelpShowing() {
    g_settings.read_only = kept_read_only_;
    g_help_showing = false;
  }
  HelpShowing(const HelpShowing&) = delete;
  HelpShowing& operator=(const HelpShowing&) = delete;

 private:
  int kept_read_only_;
};

struct HelpTopic {
  long number = 0;
  std::string title;
  long order = 0;
  uint32_t record = 0;
};

std::string trimmed(std::string text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// The topics in the order of their ORDER field (file order among equals).
std::vector<HelpTopic> read_topics(const Table& table) {
  int order_field = find_field(table, "ORDER");
  std::vector<HelpTopic> topics;
  RecordScanner scan(table, ScanOrder::kPhysical);
  ScannedRecord r;
  while (scan.next(r)) {
    RecordImage image(r.image, table.record_size);
    HelpTopic topic;
    topic.number = std::atol(field_text(table, image, kTopicField).c_str());
    topic.title = trimmed(field_text(table, image, kTitleField));
    if (order_field >= 0) topic.order = std::atol(field_text(table, image, order_field).c_str());
    topic.record = r.record;
    topics.push_back(topic);
  }
  std::stable_sort(topics.begin(), topics.end(),
                   [](const HelpTopic& a, const HelpTopic& b) { return a.order < b.order; });
  return topics;
}

// Shows the memo of the help table's record in a read-only editor window,
// titled "Help: <title>".
void show_help_text(Table& table, uint32_t record, const std::string& title) {
  if (table.first_memo_field < 0 || read_record(table, record) != 1) return;
  std::string text;
  if (!read_memo(table, table.first_memo_field, text, true)) return;
  text = display_from_table(table, text);
  char caption[256];
  std::snprintf(caption, sizeof caption, "%s: %s", "Help", title.c_str());
  std::unique_ptr<TextEditor> viewer = text_create(text.c_str(), 9, 3, screen_cols() - 10, screen_rows() - 4, 0, caption);
  if (!viewer) return;
  viewer->read_only = 1;
  // The viewer's own key bar, whatever topic it shows (F1 is idle in it).
  text_run(*viewer, kContentsTopic, idle_routine);
  text_free(viewer);
}

void show_contents(Table& table, const std::vector<HelpTopic>& topics) {
  std::vector<std::string> labels;
  for (size_t k = 0; k < topics.size() && k < kMaxListed; ++k) labels.push_back(topics[k].title);
  int current = 0;
  for (;;) {
    int chosen = pick_list(labels, current, kContentsTopic);
    if (chosen < 0 || size_t(chosen) >= labels.size()) return;
    current = chosen;
    // Two topics of one title both show the first of them.
    auto first = std::find_if(topics.begin(), topics.end(),
                              [&](const HelpTopic& t) { return t.title == labels[size_t(chosen)]; });
    show_help_text(table, first->record, first->title);
  }
}

}  // namespace

namespace {

// Beside the program (a build folder, or a copy kept in one folder), then
// where an installed program's data lives: <prefix>/share/kora/help.
std::vector<std::string> help_places(const std::string& program_path) {
  size_t slash = program_path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : program_path.substr(0, slash);
  return {folder + "/help/" + g_settings.help_file, folder + "/../share/kora/help/" + g_settings.help_file};
}

}  // namespace

std::string help_table_path(const std::string& program_path) {
  std::vector<std::string> places = help_places(program_path);
  for (const std::string& place : places)
    if (access(place.c_str(), R_OK) == 0) return place;
  return places[0];
}

void help_install(const std::string& program_path) {
  g_program_path = program_path;
  g_key_hooks.show_help = help_show;
}

const std::string& help_program_path() { return g_program_path; }

void help_show(int topic) {
  if (g_help_showing || g_program_path.empty()) return;
  HelpShowing showing;
  // Opened on its own, outside the list of tables: no recent-files entry,
  // no header question, and the engine refuses every write to it.
  std::unique_ptr<Table> table = open_table(help_table_path(g_program_path));
  if (!table || table->record_count == 0 || table->field_count() < 2) {
    std::string text = "The help table is missing. kora looked for";
    for (const std::string& place : help_places(g_program_path)) text += "\n" + place;
    message_box(text, "Help", "OK", kMessageError | kMessageUtf8, 0);
    return;
  }
  table->read_only = true;
  std::vector<HelpTopic> topics = read_topics(*table);
  if (topic == kContentsTopic) {
    show_contents(*table, topics);
  } else {
    auto found = std::find_if(topics.begin(), topics.end(), [&](const HelpTopic& t) { return t.number == topic; });
    if (found != topics.end()) show_help_text(*table, found->record, found->title);
  }
  close_table(table);
  g_app.redraw |= kRedrawAll;
}

void help_contents() { help_show(kContentsTopic); }

}  // namespace kora
