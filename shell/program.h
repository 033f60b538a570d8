#pragma once
namespace velmora {
// The whole run of the program: the window, its events, and the exit code.
int program_start(int argc, char** argv);
}  // namespace velmora
