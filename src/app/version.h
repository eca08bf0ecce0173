// The program's one name and version: --version, the usage text and the
// About box all say this.
#pragma once

namespace kora {

inline constexpr const char* kVersionText = "kora 0.2";

}  // namespace kora
