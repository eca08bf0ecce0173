#include "app/memo_type_dialog.h"

#include <charconv>
#include <string>

#include "ui/dialog.h"
#include "ui/settings.h"

namespace kora {

namespace {

constexpr int kMemoTypeHelp = 44;
enum MemoTypeValue { kMemoType = 0 };

const DialogDecoration kMemoTypeBoxes[] = {
    {27, 7, 52, 13, "Memo type"},
    {29, 14, 29, 14, "Blocksize:"},
    {},
};
DialogRadio g_as_is{29, 8, 0, "As is", kMemoType, 0};
DialogRadio g_dbase3{29, 9, 0, "dBase III", kMemoType, 1};
DialogRadio g_foxpro{29, 10, 0, "FoxPro", kMemoType, 2};
DialogRadio g_dbase4{29, 11, 0, "dBase IV", kMemoType, 3};
DialogRadio g_visual_foxpro{29, 12, 0, "Visual FoxPro", kMemoType, 4};
EditField g_block_size_field{.x = 40, .y = 14, .width = 5, .size = 5, .allowed = kAllowRecord};
DialogPushButton g_memo_ok{22, 16, nullptr, "OK", 1, 1};
DialogPushButton g_memo_cancel{42, 16, nullptr, "Cancel", 0, 0};
DialogControl g_memo_controls[] = {
    {kControlRadio, 0, &g_as_is},      {kControlRadio, 0, &g_dbase3},  {kControlRadio, 0, &g_foxpro},
    {kControlRadio, 0, &g_dbase4},     {kControlRadio, 0, &g_visual_foxpro},
    {kControlEdit, 0, &g_block_size_field}, {kControlButton, 0, &g_memo_ok}, {kControlButton, 0, &g_memo_cancel},
    {},
};
Dialog g_memo_dialog{20, 5, 59, 18, kMemoTypeHelp, "DBF", 0, kMemoTypeBoxes, g_memo_controls};

}  // namespace

int memo_type_dialog() {
  dialog_prepare(g_memo_dialog);
  g_memo_dialog.values[kMemoType] = g_settings.export_dbf.memo_type;
  edit_set_text(g_block_size_field, std::to_string(g_settings.export_dbf.block_size).c_str());
  int result = dialog_run(g_memo_dialog, nullptr);
  int memo_type = g_memo_dialog.values[kMemoType];
  std::string text = g_block_size_field.text;
  dialog_finish(g_memo_dialog);
  if (result != 1) return 0;
  int block_size = 0;
  std::from_chars(text.data(), text.data() + text.size(), block_size);
  g_settings.export_dbf.memo_type = memo_type;
  g_settings.export_dbf.block_size = block_size;
  settings_save_export_dbf();
  return 1;
}

}  // namespace kora
