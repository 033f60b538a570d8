// What the window's events do behind the window: the help box, the key
// release in the address box, and the start-up work.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/application.h"
#include "shell/cut_text.h"
#include "shell/events.h"
#include "support/recording_window.h"
#include "support/test_text.h"

namespace velmora {
namespace {

using testing::RecordingWindow;
using testing::TempDir;

class ShellEvents : public ::testing::Test {
 protected:
  TempDir folder;
  RecordingWindow window;
  // Nothing listens on the update host: the start-up check fails fast.
  Application app{window, Hosts{"127.0.0.1:1", "127.0.0.1:1"}, ProgramFiles{folder.path() / "velmora", folder.path()}};
};

TEST_F(ShellEvents, HelpShowsTheUsageTextInABoxOwnedByTheWindow) {
  show_help(app);
  auto boxes = window.message_boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "1.输入相册完整网址\r\n2.单击查看缩略图，双击下载\r\n3.不懂别问我");
  EXPECT_EQ(boxes[0].title, "使用教程");
  EXPECT_EQ(boxes[0].buttons, MessageBoxButtons::ok);
  EXPECT_TRUE(boxes[0].owned_by_window);
}

TEST_F(ShellEvents, EnterIsHandledWhateverTheModifiersOtherKeysPassOn) {
  for (int modifiers = 0; modifiers <= (modifier_ctrl | modifier_shift | modifier_alt); ++modifiers) {
    EXPECT_TRUE(address_key_up(app, key_code_enter, modifiers)) << "modifiers " << modifiers;
  }
  for (int key : {27, int{'A'}, 10, 9, 0}) {
    EXPECT_FALSE(address_key_up(app, key, 0)) << "key " << key;
    EXPECT_FALSE(address_key_up(app, key, modifier_ctrl)) << "key " << key;
  }
}

TEST_F(ShellEvents, StartUpLoadsTheHistoryBeforeTheUpdateCheck) {
  testing::write_file(folder.path() / "cfg.ini", "[ls]\r\nls=http://x/|a|*|http://y/|b\r\n");

  start_up(app);

  auto calls = window.calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "set_history_menu");
  auto menu = window.history_menu();
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_EQ(menu[0].text, "http://x/|a");
  EXPECT_EQ(menu[0].command_id, 13146);
  EXPECT_EQ(menu[1].command_id, 13147);
  // The value is written back in its normalised form.
  EXPECT_EQ(testing::read_file(folder.path() / "cfg.ini"), "[ls]\r\nls=|*|http://x/|a|*|http://y/|b\r\n");
  EXPECT_FALSE(window.quit_requested());
}

struct CutCase {
  std::string text;
  std::size_t limit;
  std::string cut;
};

TEST(CutText, NeverSplitsADoubleByteCharacter) {
  const std::string long_title(300, 'x');
  const std::string chinese = std::string(258, 'x') + "安娜";  // 安 would straddle byte 259
  for (const CutCase& c : std::vector<CutCase>{{"", 259, ""},
                                               {"abc", 259, "abc"},
                                               {long_title, 259, std::string(259, 'x')},
                                               {chinese, 259, std::string(258, 'x')},
                                               {std::string(257, 'x') + "安娜", 259, std::string(257, 'x') + "安"},
                                               // A lone lead byte at the end counts as one byte.
                                               {"ab\x81", 3, "ab\x81"}}) {
    EXPECT_EQ(cut_text(c.text, c.limit), c.cut) << c.text.size() << " bytes";
  }
}

}  // namespace
}  // namespace velmora
