// The address history: the menu built from cfg.ini, the value written back,
// picking an entry, and cfg.ini kept sound around it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "shell/application.h"
#include "shell/history.h"
#include "support/recording_window.h"
#include "support/test_text.h"

namespace velmora {
namespace {

using testing::read_file;
using testing::RecordingWindow;
using testing::TempDir;
using testing::write_file;

struct Item {
  std::string text;
  int id;
  bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Item& item) {
  return out << "{" << item.text << ", " << item.id << "}";
}

// "e1" ... "eN" joined, each after the separator.
std::string numbered_entries(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += "|*|e" + std::to_string(i);
  return text;
}

std::vector<Item> numbered_items(int from, int to, int first_id) {
  std::vector<Item> items;
  for (int i = from; i <= to; ++i) items.push_back({"e" + std::to_string(i), first_id + (i - from)});
  return items;
}

class HistoryTest : public ::testing::Test {
 protected:
  std::filesystem::path settings() const { return folder.path() / "cfg.ini"; }

  // cfg.ini holding just the history value.
  void store(const std::string& value) { write_file(settings(), "[ls]\r\nls=" + value + "\r\n"); }

  std::vector<Item> menu() const {
    std::vector<Item> items;
    for (const auto& item : window.history_menu()) items.push_back({item.text, item.command_id});
    return items;
  }

  TempDir folder;
  RecordingWindow window;
  Application app{window, Hosts{"127.0.0.1:1", "127.0.0.1:1"}, ProgramFiles{folder.path() / "velmora", folder.path()}};
};

TEST_F(HistoryTest, SettingsFileIsInTheWorkingDirectory) {
  EXPECT_EQ(app.shell.settings_path, folder.path() / "cfg.ini");
}

struct RememberCase {
  const char* name;
  std::optional<std::string> stored;  // the history value in cfg.ini; nullopt: no file
  std::string entry;                  // empty: the start-up load
  std::vector<Item> menu;
  std::optional<std::string> written;  // the value afterwards; nullopt: no file
};

class RememberAddress : public HistoryTest, public ::testing::WithParamInterface<RememberCase> {};

TEST_P(RememberAddress, BuildsTheMenuAndWritesTheNormalisedValue) {
  const RememberCase& c = GetParam();
  if (c.stored) store(*c.stored);

  remember_address(app, c.entry);

  EXPECT_EQ(menu(), c.menu);
  if (c.written) {
    EXPECT_EQ(read_file(settings()), "[ls]\r\nls=" + *c.written + "\r\n");
  } else {
    EXPECT_FALSE(std::filesystem::exists(settings()));
  }
  // The window received the same items the shell keeps for picking.
  std::lock_guard lock(app.shell.history_mutex);
  ASSERT_EQ(app.shell.history_items.size(), c.menu.size());
  for (std::size_t i = 0; i < c.menu.size(); ++i) EXPECT_EQ(app.shell.history_items[i].command_id, c.menu[i].id);
}

const std::string a = "http://localhost/photos/a/albums/|安娜";
const std::string b = "http://localhost/photos/b/albums/|Bob";
const std::string c = "http://localhost/photos/c/albums/|";

INSTANTIATE_TEST_SUITE_P(
    Cases, RememberAddress,
    ::testing::Values(
        // The new entry goes in front; the empty piece it leaves behind costs
        // a position but no item.
        RememberCase{"worked_shape_new_entry", "|*|" + b + "|*|" + c, a,
                     {{a, 13146}, {b, 13148}, {c, 13149}}, "|*|" + a + "|*|" + b + "|*|" + c},
        RememberCase{"worked_shape_next_start", "|*|" + a + "|*|" + b + "|*|" + c, "",
                     {{a, 13147}, {b, 13148}, {c, 13149}}, "|*|" + a + "|*|" + b + "|*|" + c},
        RememberCase{"first_run_start_up_creates_nothing", std::nullopt, "", {}, std::nullopt},
        RememberCase{"first_entry_creates_the_file", std::nullopt, a, {{a, 13146}}, "|*|" + a},
        RememberCase{"nineteen_entries_and_a_new_one_drop_the_oldest", numbered_entries(1, 19), "new",
                     [] {
                       std::vector<Item> items{{"new", 13146}};
                       for (Item item : numbered_items(1, 18, 13148)) items.push_back(item);
                       return items;
                     }(),
                     "|*|new" + numbered_entries(1, 18)},
        RememberCase{"entry_already_present_keeps_its_place", "|*|" + a + "|*|" + b, b,
                     {{a, 13147}, {b, 13148}}, "|*|" + a + "|*|" + b},
        // Found inside a longer entry (a prefix with a longer owner name):
        // not added either.
        RememberCase{"entry_inside_a_longer_one_is_not_added", "|*|http://x/|alice2", "http://x/|alice",
                     {{"http://x/|alice2", 13147}}, "|*|http://x/|alice2"},
        RememberCase{"same_address_other_owner_is_another_entry", "|*|http://x/|bob", "http://x/|alice",
                     {{"http://x/|alice", 13146}, {"http://x/|bob", 13148}}, "|*|http://x/|alice|*|http://x/|bob"},
        RememberCase{"empty_owner_name_is_kept", std::nullopt, c, {{c, 13146}}, "|*|" + c},
        RememberCase{"owner_name_with_a_bar_is_kept", std::nullopt, "http://x/|a|b", {{"http://x/|a|b", 13146}},
                     "|*|http://x/|a|b"},
        // Edited by hand without the leading separator: positions 1 to 20
        // are all entries.
        RememberCase{"hand_edited_value_shows_twenty", "e1" + numbered_entries(2, 21), "",
                     numbered_items(1, 20, 13146), "|*|e1" + numbered_entries(2, 20)},
        RememberCase{"adjacent_separators_cost_positions", "|*||*|" + a + "|*||*|" + b, "",
                     {{a, 13148}, {b, 13150}}, "|*|" + a + "|*|" + b},
        RememberCase{"only_separators_write_nothing", "|*||*|", "", {}, "|*||*|"},
        // A line break would split the cfg.ini line: it is stored as a blank,
        // so the same entry is found again next time.
        RememberCase{"line_break_in_an_entry_stays_on_one_line", std::nullopt, "http://x/|a\r\nb",
                     {{"http://x/|a  b", 13146}}, "|*|http://x/|a  b"}),
    [](const ::testing::TestParamInfo<RememberCase>& info) { return std::string(info.param.name); });

TEST_F(HistoryTest, TheSameEntryTwiceIsRememberedOnce) {
  for (const std::string& entry : {a, std::string("http://x/|a\nb"), a, std::string("http://x/|a\nb")}) {
    remember_address(app, entry);
  }
  EXPECT_EQ(menu(), (std::vector<Item>{{"http://x/|a b", 13147}, {a, 13148}}));
}

struct PickCase {
  const char* name;
  std::string entry;
  int command_id;
  std::string url_after;  // the box held "typed" before
};

class PickHistoryItem : public HistoryTest, public ::testing::WithParamInterface<PickCase> {};

TEST_P(PickHistoryItem, FillsTheAddressBoxOnlyForAnAddressAndAnOwner) {
  const PickCase& p = GetParam();
  store("|*|" + p.entry);
  remember_address(app, "");
  window.set_url_text("typed");

  pick_history_item(app, p.command_id);

  EXPECT_EQ(window.url_text(), p.url_after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PickHistoryItem,
    ::testing::Values(PickCase{"address_and_owner", a, 13147, "http://localhost/photos/a/albums/"},
                      PickCase{"empty_owner_name_does_nothing", c, 13147, "typed"},
                      PickCase{"owner_name_with_a_bar_does_nothing", "http://x/|a|b", 13147, "typed"},
                      // "億" is 83 7C: its second byte is "|", which the split
                      // steps over.
                      PickCase{"double_byte_character_ending_in_a_bar_byte", "http://x/|億", 13147, "http://x/"},
                      PickCase{"enter_command_names_no_item", a, 1, "typed"},
                      PickCase{"escape_command_names_no_item", a, 2, "typed"},
                      PickCase{"id_of_the_empty_first_position", a, 13146, "typed"}),
    [](const ::testing::TestParamInfo<PickCase>& info) { return std::string(info.param.name); });

TEST_F(HistoryTest, PickingStartsNoAddressCheck) {
  store("|*|" + a);
  remember_address(app, "");
  pick_history_item(app, 13147);
  EXPECT_EQ(window.calls(), (std::vector<std::string>{"set_history_menu", "set_url_text"}));
}

// cfg.ini as a settings file others may edit: everything but the history
// value stays as it was.
TEST_F(HistoryTest, OtherSectionsAndKeysAreKeptByteForByte) {
  const std::string before =
      "; settings\r\n[other]\r\nls=keep me\r\n\r\n[LS]\r\nx=1\r\n  Ls = |*|old  \r\ny = \"2\"\r\n\r\n[tail]\nk=v";
  write_file(settings(), before);

  remember_address(app, "new");

  EXPECT_EQ(read_file(settings()),
            "; settings\r\n[other]\r\nls=keep me\r\n\r\n[LS]\r\nx=1\r\n  Ls = |*|new|*|old\r\ny = \"2\"\r\n\r\n[tail]\nk=v");
  EXPECT_EQ(menu(), (std::vector<Item>{{"new", 13146}, {"old", 13148}}));
}

TEST_F(HistoryTest, DamagedFileGivesAnEmptyHistoryAndKeepsItsBytes) {
  std::string garbage("\x00\xff\xfe[l\x00s]\n=\x81", 11);
  for (int i = 0; i < 200; ++i) garbage.push_back(static_cast<char>((i * 37) % 256));
  write_file(settings(), garbage);

  remember_address(app, "");
  EXPECT_TRUE(menu().empty());
  EXPECT_EQ(read_file(settings()), garbage);

  remember_address(app, a);
  EXPECT_EQ(menu(), (std::vector<Item>{{a, 13146}}));
  std::string after = read_file(settings());
  EXPECT_EQ(after.substr(0, garbage.size()), garbage);
  remember_address(app, "");
  EXPECT_EQ(menu(), (std::vector<Item>{{a, 13147}}));
}

TEST_F(HistoryTest, UnreadableSettingsGiveAnEmptyHistoryAndNoFailure) {
  // A folder where the file should be: it can be neither read nor replaced.
  std::filesystem::create_directory(settings());

  remember_address(app, "");
  EXPECT_TRUE(menu().empty());

  remember_address(app, a);
  EXPECT_EQ(menu(), (std::vector<Item>{{a, 13146}}));
  EXPECT_TRUE(std::filesystem::is_directory(settings()));
}

TEST_F(HistoryTest, ReadOnlyFileIsLeftAloneAndTheMenuStillShowsTheNewEntry) {
  store("|*|" + b);
  const std::string before = read_file(settings());
  std::filesystem::permissions(settings(), std::filesystem::perms::owner_read | std::filesystem::perms::group_read);

  remember_address(app, a);

  EXPECT_EQ(menu(), (std::vector<Item>{{a, 13146}, {b, 13148}}));
  EXPECT_EQ(read_file(settings()), before);
  EXPECT_EQ(std::filesystem::status(settings()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
}

TEST_F(HistoryTest, WriteReplacesTheFileWholeAndLeavesNothingBehind) {
  store("|*|" + b);
  ::chmod(settings().c_str(), 0600);
  struct stat before {};
  ASSERT_EQ(::stat(settings().c_str(), &before), 0);

  remember_address(app, a);

  struct stat after {};
  ASSERT_EQ(::stat(settings().c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "the new content comes in a new file, renamed into place";
  EXPECT_EQ(after.st_mode & 07777, 0600u);
  std::vector<std::string> names;
  for (const auto& file : std::filesystem::directory_iterator(folder.path())) {
    names.push_back(file.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"cfg.ini"});
}

TEST_F(HistoryTest, LinkedSettingsFileIsWrittenThroughTheLink) {
  std::filesystem::create_directory(folder.path() / "real");
  write_file(folder.path() / "real" / "settings.ini", "[ls]\r\nls=|*|" + b + "\r\n");
  std::filesystem::create_symlink("real/settings.ini", settings());

  remember_address(app, a);

  EXPECT_TRUE(std::filesystem::is_symlink(settings()));
  EXPECT_EQ(read_file(folder.path() / "real" / "settings.ini"), "[ls]\r\nls=|*|" + a + "|*|" + b + "\r\n");
}

TEST_F(HistoryTest, RebuildFromAnotherThreadReachesTheWindow) {
  store("|*|" + b);
  remember_address(app, "");
  std::thread scraper([this] { remember_address(app, a); });
  scraper.join();
  EXPECT_EQ(menu(), (std::vector<Item>{{a, 13146}, {b, 13148}}));
  pick_history_item(app, 13146);
  EXPECT_EQ(window.url_text(), "http://localhost/photos/a/albums/");
}

}  // namespace
}  // namespace velmora
