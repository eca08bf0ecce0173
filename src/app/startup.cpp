#include "app/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/app_state.h"
#include "app/batch_check.h"
#include "app/batch_export.h"
#include "app/help.h"
#include "app/status_text.h"
#include "app/command_line.h"
#include "app/browse_view.h"
#include "app/export_command.h"
#include "app/favorites.h"
#include "app/file_panel.h"
#include "app/main_loop.h"
#include "table/undo_log.h"
#include "app/sharing.h"
#include "table/dbf_file.h"
#include "table/text_code_page.h"
#include "tools/condition.h"
#include "ui/history.h"
#include "ui/macros.h"
#include "app/structure_dialog.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {

ScreenStarter g_screen_starter;
StructureEditor g_structure_editor = start_up_structure_editor;

namespace {

// The program's own file; it stands in argv[0] from the start on.
char g_program_path[kPathBufferSize];

struct Startup {
  StartSwitches switches;
  std::shared_ptr<const CodePage> code_page;  // /cp:NAME
  std::string table_name;
  bool screen_up = false;

  void open_screen() {
    if (screen_up) return;
    g_screen_starter.open ? g_screen_starter.open() : screen_open();
    screen_up = true;
  }
  void close_screen() {
    if (!screen_up) return;
    g_screen_starter.close ? g_screen_starter.close() : screen_close();
    screen_up = false;
  }
};

// The structure editor; 1 when it made the table, 0 when cancelled.
int run_structure_editor(std::string& name, const char* title, int create) {
  return g_structure_editor ? g_structure_editor(name, title, create) : 0;
}

bool can_read(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// The /cr switch on a file that does not exist: 0 when the program ends.
int create_table(Startup& run) {
  if (!run.switches.create || (!run.table_name.empty() && can_read(run.table_name))) return 1;
  run.open_screen();
  std::string name = run.table_name;
  if (!run_structure_editor(name, "Create", 1)) {
    run.close_screen();
    return 0;
  }
  if (run.table_name.empty()) run.table_name = name;
  return 1;
}

// The /ms switch: 0 when the program ends.
int modify_structure(Startup& run) {
  if (!run.switches.modify || g_settings.read_only) return 1;
  Table& table = *g_app.table();
  std::string name = table.file_name;
  if (!run_structure_editor(name, "Modify structure", 0)) return 0;
  // The editor replaced the table's files: open it again under the same name.
  remove_open_table(g_app.current);
  set_table_list_options();
  int index = add_open_table(name);
  if (index < 0) return 0;
  g_app.current = index;
  prepare_new_table(*g_app.table());
  if (offer_header_repair(*g_app.table(), true, run.switches.auto_correct)) return 0;
  apply_settings(*g_app.table());
  return 1;
}

// Steps from opening the table to the end of the main loop; the exit status.
int show_table(Startup& run) {
  // The table named at start-up goes on the recent list too.
  g_favorites.recent_file = side_file_path(g_program_path, ".lst");
  g_app.tables.on_added = [](const std::string& path) { recent_add(path); };
  install_sharing_questions(g_app.tables);
  set_table_list_options();
  forbid_recovery_writes(run.switches.read_only != 0);
  OpenFailure why;
  int index = add_open_table(run.table_name, &why);
  if (index < 0) {
    run.close_screen();
    std::string cause = failure_text(why);
    if (cause.empty()) {
      std::printf("%s: %s...\n", "Cannot open file", run.table_name.c_str());
    } else {
      std::printf("%s: %s: %s\n", "Cannot open file", run.table_name.c_str(), cause.c_str());
    }
    return kExitNotOpened;
  }
  g_app.current = index;
  run.open_screen();
  macros_install(side_file_path(g_program_path, ".mac"));
  macros_load();
  Table& table = *g_app.table();
  show_recovery_note(table);
  // Read-only mode holds from the first question on: nothing is written.
  if (run.switches.read_only) g_settings.read_only = 1;
  if (offer_header_repair(table, true, run.switches.auto_correct)) {
    run.close_screen();
    return 1;
  }
  prepare_new_table(table);
  if (!modify_structure(run)) {
    run.close_screen();
    return 0;
  }
  Table& shown = *g_app.table();
  set_code_page(shown, run.code_page);
  view_of(shown).view_mode = g_settings.start_mode == 1 ? 1 : 0;
  if (run.switches.review_order) shown.view.reverse = run.switches.review_order == 2;
  favorites_install(g_program_path, [](const std::string& path) { open_and_show(path); }, idle_routine);
  run_main_loop();
  // The undo history of every table goes with the session.
  for (int i = 0; i <= g_app.tables.last; ++i) drop_undo_history(*g_app.tables.at(i));
  macros_save();
  macros_free();
  run.close_screen();
  remove_open_table(g_app.current);
  return 0;
}

// kora /x:FORMAT TABLE [OUTPUT]: every argument is checked before anything
// is opened or written.
int batch_export(const CommandLine& line, std::shared_ptr<const CodePage> code_page) {
  auto usage = [](const std::string& what) {
    std::fprintf(stderr, "kora: %s\n", what.c_str());
    return kBatchUsage;
  };
  if (!line.problems.empty()) return usage(line.problems.front());
  if (line.names.size() > 2) return usage(line.names[2] + ": extra argument (kora /x:FORMAT TABLE [OUTPUT])");
  BatchExport batch;
  batch.format = line.export_format;
  batch.filter = line.filter;
  batch.sort = line.sort;
  batch.columns = line.columns;
  batch.encoding = line.encoding;
  batch.table = line.names.empty() ? "" : line.names[0];
  batch.output = line.names.size() > 1 ? line.names[1] : "";
  batch.code_page = std::move(code_page);
  batch.append = line.append;
  batch.deleted = line.deleted;
  batch.ini = line.ini;
  batch.strict = line.strict;
  return run_batch_export(batch);
}

// kora /check [/json] TABLE...
int batch_check(const CommandLine& line) {
  auto usage = [](const std::string& what) {
    std::fprintf(stderr, "kora: %s\n", what.c_str());
    return kBatchUsage;
  };
  if (!line.problems.empty()) return usage(line.problems.front());
  if (line.batch_export) return usage("/check and /x: one at a time");
  if (line.names.empty()) return usage("no table named (kora /check [/json] TABLE...)");
  return run_batch_check(line.names, line.json, stdout, stderr);
}

}  // namespace

int run_program(int argc, char** argv) {
  reset_app_state();
  locate_program(argc > 0 ? argv[0] : nullptr, g_program_path);
  if (argc > 0) argv[0] = g_program_path;

  g_settings_file = side_file_path(g_program_path, ".ini");
  std::vector<std::string> unreadable = settings_load();
  if (!unreadable.empty()) {
    g_app.notice = side_file_name(g_program_path, ".ini");
    g_app.notice = g_app.notice.substr(g_app.notice.rfind('/') + 1) + " " + unreadable.front() + " (default used)";
    if (unreadable.size() > 1) g_app.notice += " (and " + std::to_string(unreadable.size() - 1) + " more)";
  }
  g_settings_hooks.apply_to_tables = [] {
    for (int i = 0; i <= g_app.tables.last; ++i) apply_settings(*g_app.tables.at(i));
  };
  g_settings_hooks.request_redraw = [] { g_app.redraw |= kRedrawAll; };
  g_settings_hooks.report = [](const std::string& text) {
    g_app.notice = text;
    g_app.redraw |= kRedrawAll;
  };
  history_install(side_file_path(g_program_path, ".hst"));
  help_install(g_program_path);
  export_install(g_program_path);
  install_file_panel_hook();
  install_computed_column_hooks();

  Startup run;
  g_file_panel_settings.date_format = g_settings.date_format;
  if (argc <= 1) {
    run.open_screen();
    if (!file_panel("", "*.dbf", run.table_name)) {
      run.close_screen();
      return 0;
    }
    return show_table(run);
  }
  CommandLine line = parse_command_line(argc, argv);
  if (line.help) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (line.version) {
    std::fputs(version_text().c_str(), stdout);
    return 0;
  }
  if (line.code_page_given) {
    run.code_page = CodePage::find(line.code_page);
    if (!run.code_page) {
      std::string known;
      for (const std::string& name : known_code_pages()) known += (known.empty() ? "" : ", ") + name;
      std::fprintf(stderr, "kora: unknown code page \"%s\"; kora knows %s\n", line.code_page.c_str(), known.c_str());
      return kExitNotOpened;
    }
  }
  if (line.check) return batch_check(line);
  if (line.batch_export) return batch_export(line, run.code_page);
  if (line.switches.auto_correct == 2) {
    if (line.names.empty()) {
      std::fputs("Filename required...\n", stdout);
      return kExitNotOpened;
    }
    forbid_recovery_writes(line.switches.read_only != 0);
    return batch_repair(line.names, stderr, line.switches.read_only != 0) > 0 ? kExitNotOpened : 0;
  }
  run.switches = line.switches;
  g_app.auto_correct = line.switches.auto_correct;
  if (!line.names.empty()) {
    run.table_name = absolute_path(line.names[0]);
  }
  if (!create_table(run)) return 0;
  if (run.table_name.empty()) {
    run.close_screen();
    std::fputs("Filename required...\n", stdout);
    return kExitNotOpened;
  }
  return show_table(run);
}

}  // namespace kora
