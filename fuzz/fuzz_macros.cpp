// The macro file reader: any bytes give macros with a trigger other than 0
// and between 1 and 65535 keys, and writing them out and reading them back
// gives the same macros.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/macros.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<kora::Macro> macros = kora::macros_parse(text);
  for (const kora::Macro& macro : macros) {
    if (macro.trigger <= 0 || macro.trigger > 0xFFFF) std::abort();
    if (macro.keys.empty() || macro.keys.size() > size_t(kora::kMacroMaxKeys)) std::abort();
  }
  std::vector<kora::Macro> again = kora::macros_parse(kora::macros_format(macros));
  if (again.size() != macros.size()) std::abort();
  for (size_t i = 0; i < macros.size(); ++i) {
    if (again[i].trigger != macros[i].trigger || again[i].keys != macros[i].keys) std::abort();
  }
  return 0;
}
