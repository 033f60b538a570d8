#pragma once
namespace velmora {
struct Application;
// The start-up version check: reads the information page of the update server
// and, when it names another version and the user agrees, replaces the
// program with the new one, starts it and asks the window to quit. UI thread,
// synchronous.
void check_for_update(Application& app);
}  // namespace velmora
