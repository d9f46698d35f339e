// Compares what our ABF library answers for one input with the vendor library's
// recorded answers (one reference JSON per input).
#pragma once

#include <string>
#include <vector>

#include "json.h"

namespace abfcompare {

// The inputs that are not real recordings: made on the fly from the real files.
// Returns the path to open for the reference's "file" (created in scratchDir when
// needed; a missing file gets a path that does not exist).
std::string PrepareInput(const std::string& fileName, const std::string& abfDir, const std::string& scratchDir);

// Every difference for one reference, one line each: "what: ours X, vendor Y".
std::vector<std::string> CompareReference(const Json& ref, const std::string& inputPath);

// The error-text reference (which numbers the library has a text for).
std::vector<std::string> CompareErrorTexts(const Json& ref);

// Joins folder and name with the platform's separator.
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace abfcompare
