// The vendor library's recorded answers are JSON documents; nlohmann::json reads them.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace abfcompare {

using Json = nlohmann::json;

// Parses `text`, or the file at `path`; on a syntax or reading error returns false and
// describes it in `error`.
bool ParseJson(const std::string& text, Json& out, std::string& error);
bool ParseJsonFile(const std::string& path, Json& out, std::string& error);

// The value at a '/'-separated path of member names and array indexes below `j`
// ("ord340/count", "first8/0"; "" is `j` itself), or null where a step is missing: a
// reference leaves out what was not asked, such as the episodes of a file the library
// could not open.
const Json& At(const Json& j, const std::string& path);
// The value at `path` as a number (true and false as 1 and 0, anything else 0), as a
// whole number, or as a text ("" when it is none).
double Number(const Json& j, const std::string& path);
long long Int(const Json& j, const std::string& path);
std::string String(const Json& j, const std::string& path);

}  // namespace abfcompare
