// Fuzz target: the configuration reader and writer. The input is the file's
// bytes; every section is loaded from it, every section is saved into it,
// and the saved file is loaded again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_files.h"
#include "ui/ini_text.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace {

fuzz::WorkFolder g_files({"kora.ini"});

void check_settings() {
  const kora::Settings& s = kora::g_settings;
  if (s.date_format < 0 || s.date_format > 3 || s.bak_files < 0 || s.bak_files > 2) abort();
  if (s.help_file.empty() || s.help_file.size() > size_t(kora::kSettingsTextLimit)) abort();
  if (s.filter.expression.size() > size_t(kora::kSettingsTextLimit)) abort();
  if (!s.xlat.to_ansi.empty() && s.xlat.to_ansi.size() != size_t(kora::kXlatLength)) abort();
  if (s.export_dbf.block_size < 1) abort();
}

void save_everything() {
  kora::settings_save_options();
  kora::settings_save_append_from();
  kora::settings_save_export();
  kora::settings_save_export_txt();
  kora::settings_save_export_prg();
  kora::settings_save_export_sql();
  kora::settings_save_export_html();
  kora::settings_save_export_dbf();
  kora::settings_save_filter();
  kora::settings_save_search();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = g_files.path("kora.ini");
  g_files.write("kora.ini", data, size);
  kora::g_settings = kora::Settings{};
  kora::g_colors = kora::default_colors();
  kora::g_frames = kora::default_frames();
  kora::g_settings_file = path;

  kora::settings_load();
  check_settings();
  // Lookups of keys that begin like others, and of odd section names.
  if (std::unique_ptr<kora::IniText> ini = kora::ini_open(path, false)) {
    kora::ini_get_str("", "", "x", 5, *ini);
    kora::ini_get_int("Colors", "M", 0, *ini);
    kora::ini_set_str("[", "", nullptr, *ini);
    kora::ini_set_int("Options", "=", 1, *ini);
  }
  save_everything();
  const kora::Settings first = kora::g_settings;
  kora::settings_load();
  check_settings();
  // What was saved reads back as it was written.
  if (kora::g_settings.date_format != first.date_format || kora::g_settings.search.direction != first.search.direction)
    abort();
  return 0;
}
