// The stand-in host's command line (xophost; its file is IGOR.exe or Igor64.exe under Wine).
#include "cli.h"

int main(int argc, char** argv) { return kavhost::RunCommandLine(std::vector<std::string>(argv, argv + argc)); }
