// xophost (native) and IGOR.exe (Win32): the stand-in host's command line.
#include "cli.h"

int main(int argc, char** argv) { return kavhost::RunCommandLine(std::vector<std::string>(argv, argv + argc)); }
