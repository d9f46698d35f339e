#include "json.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace abfcompare {

bool ParseJson(const std::string& text, Json& out, std::string& error)
{
    out = Json::parse(text, nullptr, false);
    if (!out.is_discarded()) return true;
    error = "JSON syntax error";
    return false;
}

bool ParseJsonFile(const std::string& path, Json& out, std::string& error)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream ss;
    ss << f.rdbuf();
    if (ParseJson(ss.str(), out, error)) return true;
    error += " in " + path;
    return false;
}

const Json& At(const Json& j, const std::string& path)
{
    static const Json null;
    const Json* at = &j;
    for (size_t start = 0; start < path.size();) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string step = path.substr(start, end - start);
        start = end + 1;
        if (at->is_object()) {
            const auto it = at->find(step);
            if (it == at->end()) return null;
            at = &*it;
        } else if (at->is_array() && !step.empty() && step.find_first_not_of("0123456789") == std::string::npos &&
                   std::stoul(step) < at->size()) {
            at = &(*at)[std::stoul(step)];
        } else {
            return null;
        }
    }
    return *at;
}

double Number(const Json& j, const std::string& path)
{
    const Json& v = At(j, path);
    if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
    return v.is_number() ? v.get<double>() : 0;
}

long long Int(const Json& j, const std::string& path)
{
    const Json& v = At(j, path);
    return v.is_number_integer() ? v.get<long long>() : static_cast<long long>(Number(j, path));
}

std::string String(const Json& j, const std::string& path)
{
    const Json& v = At(j, path);
    return v.is_string() ? v.get<std::string>() : std::string();
}

}  // namespace abfcompare
