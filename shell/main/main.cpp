#include "shell/program.h"

int main(int argc, char** argv) { return velmora::program_start(argc, argv); }
