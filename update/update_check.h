#pragma once
namespace velmora {
struct Application;
// The start-up version check: reads the information page of the update server
// and reports a failed read or an up-to-date program in the status bar
// (removing the program an earlier update left behind), says nothing when the
// page names no version, and offers any other version. When the user agrees,
// the new program is downloaded and put in the running program's place only
// once it has arrived whole; it is then started and the window asked to quit.
// Any failure on that road is told in a message box, the old program stays
// (or is put back) and the program runs on. UI thread, synchronous.
void check_for_update(Application& app);
}  // namespace velmora
