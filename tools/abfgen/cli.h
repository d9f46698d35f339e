// abfgen's command line, callable from tests.
#pragma once

#include <string>
#include <vector>

#include "abffio/writer/abf_writer.h"

namespace abfgen {

// Runs the tool: 0 success, 1 the file could not be written, 2 bad command line.
int Main(int argc, char** argv);
// The recording (and output file) a command line describes, without writing it.
// Messages go to stderr; false for a bad command line.
bool BuildRecording(const std::vector<std::string>& args, abfw::RecordingSpec* rec, std::string* file);
const char* HelpText();
const std::vector<std::string>& OptionNames();

}  // namespace abfgen
