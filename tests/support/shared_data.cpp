#include "tests/support/shared_data.h"

#include <cstdlib>
#include <filesystem>

namespace kavtest {

std::string SharedLocal(const std::string& relative)
{
    const char* dir = std::getenv("KAV_SHARED_DIR");
    if (!dir || !*dir) return std::string();
    return std::string(dir) + "/" + relative;
}

std::string SharedPath(const std::string& relative)
{
    std::string p = SharedLocal(relative);
#if defined(_WIN32)
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    for (char& c : p)
        if (c == '/') c = '\\';
#endif
    return p;
}

std::string SharedMissing(const std::string& relative)
{
    const std::string p = SharedLocal(relative);
    if (p.empty()) return "KAV_SHARED_DIR is not set: no shared data (" + relative + ")";
    std::error_code ec;
    if (std::filesystem::exists(p, ec)) return std::string();
    return "the shared data is not there: " + p + " does not exist";
}

}  // namespace kavtest
