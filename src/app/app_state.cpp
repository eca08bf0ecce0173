#include "app/app_state.h"

#include "app/browse_view.h"

namespace kora {

CellEditHooks g_cell_edit_hooks;
AppState g_app;

void reset_app_state() {
  g_settings = Settings{};
  g_app = AppState{};
  reset_keybar_labels(g_app.keybar);
}

}  // namespace kora
