// Support for the query tests: a host with the plug-in loaded whose every call is
// checked for the ownership audit, the last-error functions, the recorded vendor
// answers, and made-up inputs in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interface/abffio.h"
#include "host/host.h"
#include "tests/support/shared_data.h"
#include "tools/abfcompare/json.h"

namespace querytest {

using kavhost::Arg;
using kavhost::CallResult;

class QueryTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Calls the function through the host; a failed call or a dirty audit fails the test.
    CallResult Call(const std::string& name, const std::vector<Arg>& args);
    double LastErr();
    std::string LastErrStr();

    kavhost::Host host;
};

// The path of a real recording as the plug-in is given it; empty without the data.
std::string RealFile(const std::string& name);
// The recorded vendor answers for one input.
struct Golden {
    std::string name;  // input name, e.g. "18425108.abf"
    std::string path;  // where the real file is (empty for made-up inputs)
    abfcompare::Json json;
};
// Every recorded answer for a real file of the data folder.
std::vector<Golden> RealGolden();
// The recorded answer for one input (json null when absent).
Golden GoldenFor(const std::string& stem);

// A scratch folder (in the test program's own notation, which is also what the
// plug-in is given) and files made in it.
std::string ScratchFile(const std::string& name);
bool WriteFile(const std::string& path, const std::string& bytes);
bool ReadFile(const std::string& path, std::string* bytes);

// The library's own text for an error number about a file, asked directly.
std::string LibraryErrorText(int32_t error, const std::string& fileName);

}  // namespace querytest
