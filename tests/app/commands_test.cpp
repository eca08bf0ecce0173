// The command space: every menu item and every bound key reaches a command
// that has a function, unless the command is one of those knowingly left
// for later; one key table with one matching rule.
#include "app/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "app/menu_tree.h"
#include "ui/key_codes.h"

namespace kora {
namespace {

// Commands that are known but not built yet: their keys and items do
// nothing. Building one means giving it its function and taking it off here.
const Cmd kNotBuiltYet[] = {
    Cmd::ClearSelection,
};

// Items that open a submenu carry an identifier for their state rules only.
const Cmd kSubmenuOpeners[] = {
    Cmd::SaveAsMenu, Cmd::SelectionMenu, Cmd::DuplicateMenu, Cmd::PackMenu,
    Cmd::EncodingMenu, Cmd::AllMenu, Cmd::GroupMenu,
};

template <size_t N>
bool listed(const Cmd (&list)[N], Cmd command) {
  return std::find(std::begin(list), std::end(list), command) != std::end(list);
}

struct Reached {
  std::set<int> commands;
  std::vector<std::string> faults;
};

void walk(const Menu* menu, const std::string& path, Reached& reached) {
  for (const MenuItem* item = menu->items; item && item->label; ++item) {
    std::string where = path + " / " + item->label;
    if (std::string(item->label) == "-") continue;
    Cmd command = static_cast<Cmd>(item->command);
    reached.commands.insert(item->command);
    if (item->submenu) {
      if (!listed(kSubmenuOpeners, command)) reached.faults.push_back(where + ": opener without its identifier");
      walk(item->submenu, where, reached);
    } else if (command == Cmd::None || listed(kSubmenuOpeners, command)) {
      reached.faults.push_back(where + ": no command");
    } else if (!command_binding(command).run && !listed(kNotBuiltYet, command)) {
      reached.faults.push_back(where + ": command without a function");
    }
  }
}

TEST(CommandSpace, EveryItemAndKeyReachesACommandOrIsKnowinglyEmpty) {
  Reached reached;
  for (const Pulldown& pulldown : kMenuBar) walk(pulldown.menu, pulldown.title, reached);
  for (const KeyBinding& row : key_bindings()) {
    reached.commands.insert(command_id(row.command));
    bool empty = !command_binding(row.command).run;
    if (row.command == Cmd::None || listed(kSubmenuOpeners, row.command) || (empty && !listed(kNotBuiltYet, row.command))) {
      reached.faults.push_back("key " + std::to_string(row.key) + ": no command with a function");
    }
  }
  EXPECT_EQ(reached.faults, std::vector<std::string>{});

  // Every command is bound to its own row, is reached by a key or an item,
  // and the list of commands left empty holds only empty ones.
  for (int id = 1; id < command_id(Cmd::Count); ++id) {
    Cmd command = static_cast<Cmd>(id);
    EXPECT_EQ(command_binding(command).command, command) << id;
    EXPECT_TRUE(reached.commands.count(id)) << "command " << id << " is reached by no key and no item";
    if (listed(kNotBuiltYet, command) || listed(kSubmenuOpeners, command)) {
      EXPECT_EQ(command_binding(command).run, nullptr) << "command " << id << " is built: take it off the list";
    }
  }
  EXPECT_EQ(command_binding(Cmd::None).run, nullptr);
  EXPECT_EQ(command_binding(Cmd::Count).run, nullptr);
}

TEST(CommandSpace, EachKeyRowIsReachedAndKeysMatchByOneRule) {
  // No row is hidden behind an earlier one.
  for (const KeyBinding& row : key_bindings()) {
    EXPECT_EQ(command_for_key(row.key), row.command) << std::hex << row.key;
  }
  struct Case {
    int key;
    Cmd command;
  };
  const Case cases[] = {
      {kKeyEsc, Cmd::Quit},
      {0x0100, Cmd::None},                // Alt+Esc has Esc's scan code, no character
      {kKeyF10, Cmd::Quit},
      {kKeyF4, Cmd::EditMode},
      {0x3E34, Cmd::None},                // a character key never matches by scan code
      {kKeyEnter, Cmd::EnterAction},
      {kKeyCtrlEnter, Cmd::None},         // Enter matches by its whole code
      {kKeySpace, Cmd::SpaceKey},
      {' ', Cmd::SpaceKey},               // Space by its character from anywhere
      {0x092A, Cmd::BlockMark},           // '*' of the main block
      {0x372A, Cmd::BlockMark},           // and of the keypad
      {kKeyAltTab, Cmd::PreviousTable},
      {kKeyAltTabSequence, Cmd::PreviousTable},
      {kKeyCtrlTab, Cmd::NextTable},
      {kKeyCtrlF1, Cmd::None},            // no effect
      {kKeyShiftF2, Cmd::FieldsInfo},
      {kKeyAltF2, Cmd::DatabaseInfo},
      {kKeyAltF9, Cmd::ColumnSetup},
      {kKeyDel, Cmd::MarkDeleted},
      {0, Cmd::None},
  };
  for (const Case& c : cases) EXPECT_EQ(command_for_key(c.key), c.command) << std::hex << c.key;
}

}  // namespace
}  // namespace kora
