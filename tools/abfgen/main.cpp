// abfgen: writes sample ABF recordings (ABF2, or ABF1 1.83). See --help.
#include "cli.h"

int main(int argc, char** argv) { return abfgen::Main(argc, argv); }
