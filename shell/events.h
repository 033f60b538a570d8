#pragma once
// What the main window's events do, apart from the window itself: the window
// (shell/wx/) only translates its toolkit's events into these calls.
namespace velmora {

struct Application;

// The virtual key code of Enter and the modifier bits of a key event.
inline constexpr int key_code_enter = 13;
inline constexpr int modifier_ctrl = 1;
inline constexpr int modifier_shift = 2;
inline constexpr int modifier_alt = 4;

// A key released in url_edit. Enter, whatever the modifiers, runs the album
// address check and is reported as handled (true: the box must not see it);
// every other key is passed on (false). UI thread.
bool address_key_up(Application& app, int key_code, int modifiers);

// The help button: the usage text in a message box owned by the window.
void show_help(Application& app);

// The help text and its title, as the message box shows them.
inline constexpr const char* help_text = "1.输入相册完整网址\r\n2.单击查看缩略图，双击下载\r\n3.不懂别问我";
inline constexpr const char* help_title = "使用教程";

// The work of the window's initialisation that is not about controls, in its
// order: the history is loaded (which fills the history menu), the update
// check runs (it may ask the program to quit), and then the download lock is
// ready. UI thread, before the window is shown.
void start_up(Application& app);

}  // namespace velmora
