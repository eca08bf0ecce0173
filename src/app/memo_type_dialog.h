// The memo type dialog of the DBF export: the kind of table to create
// (MemoType) and the memo block size (BlockSize), saved in [ExportDBF].
#pragma once

namespace kora {

// 1 when confirmed: the settings then hold the choice and are saved.
int memo_type_dialog();

}  // namespace kora
