// The shared reference data beside the repository: the real recordings
// (data/abf) and the vendor library's recorded answers for them (data/golden).
// CMake hands every test its place in KAV_SHARED_DIR (by default ../shared beside
// the source tree, whether or not it is there), so a test that needs a piece of
// it asks whether that piece exists, and skips, naming what is missing, when it
// does not: the one guard every data test uses.
#pragma once

#include <string>

namespace kavtest {

// `relative` ("data/abf/x.abf") inside the shared folder, in the test program's
// own notation; empty when KAV_SHARED_DIR is not set.
std::string SharedLocal(const std::string& relative);
// The same path as the plug-in and the library are given it: a Windows path
// (Z:\...) under Wine.
std::string SharedPath(const std::string& relative);
// Empty when `relative` (a file or a folder) is there; else what is missing, for
// the skip message.
std::string SharedMissing(const std::string& relative);

}  // namespace kavtest

// Skips the running test, naming what is missing, unless the shared file or
// folder `relative` is there.
#define REQUIRE_SHARED(relative)                                   \
    do {                                                           \
        const std::string missing_ = kavtest::SharedMissing(relative); \
        if (!missing_.empty()) GTEST_SKIP() << missing_;          \
    } while (0)
