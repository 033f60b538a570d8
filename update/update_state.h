#pragma once
#include <string>

namespace velmora {

// What the update check keeps: the information page as read at start-up.
struct UpdateState {
  std::string update_page;
};

}  // namespace velmora
