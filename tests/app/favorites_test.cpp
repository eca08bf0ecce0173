// The recent-files list and the favourites: put on top, reading the entries,
// the Favorites pull-down, the Recent files pick list and Organize favorites.
#include "app/favorites.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "app/app_state.h"
#include "app/commands.h"
#include "app/menu_tree.h"
#include "ui/popup_fixture.h"

namespace kora {
namespace {

using Lines = std::vector<std::string>;

std::string read_text(const std::string& path) {
  std::vector<uint8_t> bytes = test::read_bytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void write_text(const std::string& path, const std::string& text) {
  test::write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// The labels of the Favorites pull-down as it is now.
Lines favorites_menu_labels() {
  Lines labels;
  for (const MenuItem* item = kMenuBar[5].menu->items; item && item->label; ++item) labels.push_back(item->label);
  return labels;
}

class RecentList : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string list = dir.file("kora.lst");
};

// A table opened again moves to the top once; a name that differs in letter
// case is another file, and a path of any length stays whole.
TEST_F(RecentList, ATableOpenedAgainMovesToTheTopOnceAndPathsStayWhole) {
  EXPECT_EQ(put_on_top(list, "/data/a.dbf"), 1);
  put_on_top(list, "/data/b.dbf");
  put_on_top(list, "/data/c.dbf");
  EXPECT_EQ(read_text(list), "/data/c.dbf\n/data/b.dbf\n/data/a.dbf\n");
  put_on_top(list, "/data/a.dbf");
  put_on_top(list, "/DATA/A.DBF");
  EXPECT_EQ(read_text(list), "/DATA/A.DBF\n/data/a.dbf\n/data/c.dbf\n/data/b.dbf\n");
  std::string deep = "/" + std::string(300, 'd') + "/" + std::string(200, 'n') + ".dbf";
  put_on_top(list, deep);
  put_on_top(list, "/data/c.dbf");
  EXPECT_EQ(read_list_entries(list, 20, false),
            (Lines{"/data/c.dbf", deep, "/DATA/A.DBF", "/data/a.dbf", "/data/b.dbf"}));
}

TEST_F(RecentList, TheTwentyFirstTablePushesTheOldestOut) {
  for (int i = 1; i <= 20; ++i) put_on_top(list, "/t/table" + std::to_string(i) + ".dbf");
  Lines entries = read_list_entries(list, 20, false);
  ASSERT_EQ(entries.size(), 20u);
  EXPECT_EQ(entries.front(), "/t/table20.dbf");
  EXPECT_EQ(entries.back(), "/t/table1.dbf");
  put_on_top(list, "/t/table21.dbf");
  entries = read_list_entries(list, 20, false);
  ASSERT_EQ(entries.size(), 20u);
  EXPECT_EQ(entries.front(), "/t/table21.dbf");
  EXPECT_EQ(entries.back(), "/t/table2.dbf");
}

TEST_F(RecentList, OtherLinesAreWrittenBackByteForByte) {
  write_text(list, "; mine\n/x/100%s.dbf  \r\n\n/x/b.dbf\n/x/last.dbf");
  put_on_top(list, "/x/%d%n.dbf");
  EXPECT_EQ(read_text(list), "/x/%d%n.dbf\n; mine\n/x/100%s.dbf  \r\n\n/x/b.dbf\n/x/last.dbf");
  // A line saved with CR LF, or the last line without its line feed, is
  // the same table.
  put_on_top(list, "/x/last.dbf");
  put_on_top(list, "/x/100%s.dbf  ");
  EXPECT_EQ(read_text(list), "/x/100%s.dbf  \n/x/last.dbf\n/x/%d%n.dbf\n; mine\n\n/x/b.dbf\n");
  EXPECT_EQ(read_list_entries(list, 20, false),
            (Lines{"/x/100%s.dbf  ", "/x/last.dbf", "/x/%d%n.dbf", "/x/b.dbf"}));
}

TEST_F(RecentList, AFileThatCannotBeWrittenIsLeftAsItWas) {
  put_on_top(list, "/x/a.dbf");
  ASSERT_EQ(chmod(list.c_str(), 0444), 0);
  struct Context {
    std::string list;
  } context{list};
  int status = test::run_without_root(
      [](void* c) { return put_on_top(static_cast<Context*>(c)->list, "/x/b.dbf") == 0 ? 0 : 1; },
      &context);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_text(list), "/x/a.dbf\n");
  EXPECT_TRUE(read_list_entries(dir.file("missing.lst"), 20, false).empty());
}

TEST_F(RecentList, FavouritesSkipCommentsBlankLinesAndCarriageReturnLines) {
  std::string fvr = dir.file("kora.fvr");
  write_text(fvr, "; my tables\r\n/a/one.dbf\r\n\r\n\n/a/two.dbf\n;/a/old.dbf\n\r/a/odd.dbf\n/a/three.dbf");
  EXPECT_EQ(read_list_entries(fvr, 96, true), (Lines{"/a/one.dbf", "/a/two.dbf", "/a/three.dbf"}));
  EXPECT_EQ(read_list_entries(fvr, 2, true), (Lines{"/a/one.dbf", "/a/two.dbf"}));
}

// ---- the menus, with the program in a temporary folder ----------------------------

class FavoritesMenus : public test::PopupTest {
 protected:
  void SetUp() override {
    PopupTest::SetUp();
    program = dir.file("kora");
    favorites_install(program.c_str(), [this](const std::string& path) { opened.push_back(path); },
                      nullptr);
  }
  void TearDown() override {
    menu_set_favorites({});
    g_favorites = FavoritesSetup{};
    PopupTest::TearDown();
  }

  test::TempDir dir;
  std::string program;
  Lines opened;
};

TEST_F(FavoritesMenus, FilesAreNamedAfterTheProgramAndTheMenuFollowsTheFile) {
  EXPECT_EQ(g_favorites.recent_file, dir.file("kora.lst"));
  EXPECT_EQ(g_favorites.favorites_file, dir.file("kora.fvr"));
  EXPECT_EQ(favorites_menu_labels(), (Lines{"&Add to favorites", "&Organize favorites"}));

  // A favourite whose file is not there says so; choosing it names the file
  // itself, never the label.
  std::string one = dir.file("one.dbf");
  write_text(one, "");
  std::string two = dir.file("two.dbf");
  write_text(g_favorites.favorites_file, ";\n\n" + one + "\n" + two + "\n");
  favorites_load();
  EXPECT_EQ(favorites_menu_labels(),
            (Lines{"&Add to favorites", "&Organize favorites", "-", one, "(not found) " + two}));
  EXPECT_EQ(favorite_file(kMenuBar[5].menu->items[4].label), two);

  favorites_add(two);
  favorites_add("/a/new 100%.dbf");
  EXPECT_EQ(read_text(g_favorites.favorites_file), "/a/new 100%.dbf\n" + two + "\n;\n\n" + one + "\n");
  EXPECT_EQ(favorites_menu_labels(), (Lines{"&Add to favorites", "&Organize favorites", "-",
                                            "(not found) /a/new 100%.dbf", "(not found) " + two, one}));
}

TEST_F(FavoritesMenus, RecentFilesOpensTheChosenTable) {
  recent_files();  // no list: nothing shown, nothing opened
  EXPECT_TRUE(seen_.empty());
  for (const char* name : {"/t/a.dbf", "/t/b.dbf", "/t/c.dbf"}) recent_add(name);
  press({test::kDown, test::kEnter});
  recent_files();
  EXPECT_EQ(opened, Lines{"/t/b.dbf"});
  ASSERT_EQ(seen_.size(), 2u);
  press({test::kEsc});
  recent_files();
  EXPECT_EQ(opened, Lines{"/t/b.dbf"});

  // A name in UTF-8 is listed as its characters, wide ones included.
  recent_add("/t/\u0446\u0435\u043d\u044b \u570b\u8a9e.dbf");
  press({test::kEsc});
  recent_files();
  std::string listed;
  for (int y = 0; y < 25; ++y) listed += seen_row_utf8(seen_.size() - 1, y) + "\n";
  EXPECT_NE(listed.find("(not found) /t/\u0446\u0435\u043d\u044b \u570b\u8a9e.dbf"), std::string::npos) << listed;
}

TEST_F(FavoritesMenus, MenuCommandsAreBound) {
  MenuItem* recent = menu_item_of(Cmd::RecentFiles);
  ASSERT_NE(recent, nullptr);
  EXPECT_STREQ(recent->label, "Recent &files");
  recent_add("/t/only.dbf");
  press({test::kEnter});
  run_command(Cmd::RecentFiles);
  EXPECT_EQ(opened, Lines{"/t/only.dbf"});
  ASSERT_NE(menu_item_of(Cmd::AddFavorite), nullptr);
  reset_app_state();
  run_command(Cmd::AddFavorite);  // no table: nothing added
  EXPECT_FALSE(test::file_exists(g_favorites.favorites_file));
  ASSERT_NE(menu_item_of(Cmd::OrganizeFavorites), nullptr);
  EXPECT_EQ(command_binding(Cmd::OrganizeFavorites).run, &favorites_organize);
}

TEST_F(FavoritesMenus, OrganizeSavesTheEditedTextAndEscWritesNothing) {
  write_text(g_favorites.favorites_file, "/a/one.dbf\n/a/two.dbf\n");
  press({'x', test::kEsc, test::kRight, test::kEnter});  // typed, then "Don't save"
  favorites_organize();
  EXPECT_EQ(read_text(g_favorites.favorites_file), "/a/one.dbf\n/a/two.dbf\n");
  // The window's frame lies around (9,3)-(70,21), titled.
  ASSERT_FALSE(seen_.empty());
  EXPECT_NE(seen_text(0, 8, 2, 64).find("Organize favorites"), std::string::npos) << seen_text(0, 0, 2, 80);
  EXPECT_EQ(seen_text(0, 9, 3, 10), "/a/one.dbf");
  EXPECT_EQ(seen_text(0, 9, 4, 10), "/a/two.dbf");

  press({0x1519, test::kEnd, 'x', 0x3C00});  // Ctrl+Y the first line, edit the second, F2
  favorites_organize();
  Lines entries = read_list_entries(g_favorites.favorites_file, 96, true);
  EXPECT_EQ(entries, Lines{"/a/two.dbfx"});
  EXPECT_EQ(favorites_menu_labels(),
            (Lines{"&Add to favorites", "&Organize favorites", "-", "(not found) /a/two.dbfx"}));
}

TEST_F(FavoritesMenus, OrganizeWithAnEmptyTextDeletesTheFile) {
  write_text(g_favorites.favorites_file, "/a/one.dbf\n/a/two.dbf\n");
  favorites_load();
  press({0x1519, 0x1519, 0x1519, 0x3C00});
  favorites_organize();
  EXPECT_FALSE(test::file_exists(g_favorites.favorites_file));
  EXPECT_EQ(favorites_menu_labels(), (Lines{"&Add to favorites", "&Organize favorites"}));
}

}  // namespace
}  // namespace kora
