// The host's demo: writes two small sample recordings (a two-channel gap-free one
// with tags and an episodic step protocol) and calls the plug-in's functions on
// them by name, as a user's procedure would, printing a readable account.
#pragma once

#include <ostream>
#include <string>

#include "host.h"

namespace kavhost {

// File names of the demo recordings inside the demo folder.
extern const char kDemoGapFreeFile[];
extern const char kDemoStepsFile[];

// Number as the account prints it ("%.6g").
std::string DemoNumber(double v);

// Runs the demo on a loaded host. The recordings go into `dir` (created when
// missing), or into a temporary folder removed afterwards when `dir` is empty.
// Functions the plug-in has not built are shown as "(not built)" and skipped.
// Returns 0 when the files were written, every built function did its work and
// the host's audit stayed clean; 1 otherwise.
int RunDemo(Host& host, const std::string& dir, std::ostream& out);

}  // namespace kavhost
