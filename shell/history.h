#pragma once
// The address history: the album addresses that produced an album list, kept
// in cfg.ini (section "ls", key "ls") and offered again in history_menu.
#include <string>

namespace velmora {

struct Application;

inline constexpr int history_id_base = 13145;

// Empty entry: reload history_menu from cfg.ini and write the value back in
// its normalised form. Otherwise: put the entry first unless it is already
// there, rebuild the menu and write the file. Any thread.
void remember_address(Application& app, const std::string& entry);

// The menu command `command_id`: when it names a history item whose text has
// exactly two "|"-separated pieces, the address goes into url_edit.
void pick_history_item(Application& app, int command_id);

}  // namespace velmora
