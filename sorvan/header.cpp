// sorvan header: the header as the plug-in's key=value catalogue gives it, one
// "key=value" a line; with --key only the values of the named keys, one a line
// in the order asked; --json as one object (numbers as numbers, lists as arrays).
#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "reader/recording.h"
#include "sorvan/commands.h"
#include "sorvan/text.h"

namespace sorvan {

using reader::HeaderField;
using reader::Recording;

namespace {

nlohmann::ordered_json Number(const std::string& text)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end) return Latin1ToUtf8(text);
    // Integers stay integers ("%d" values have no point).
    if (text.find_first_of(".eEn") == std::string::npos) return static_cast<int64_t>(v);
    return v;
}

nlohmann::ordered_json Value(const HeaderField& f)
{
    nlohmann::ordered_json j;
    switch (f.kind) {
    case HeaderField::kNumber: return Number(f.value);
    case HeaderField::kText: return Latin1ToUtf8(f.value);
    case HeaderField::kNumberList:
        j = nlohmann::ordered_json::array();
        for (const std::string& e : f.elements) j.push_back(Number(e));
        return j;
    case HeaderField::kTextList:
        j = nlohmann::ordered_json::array();
        for (const std::string& e : f.elements) j.push_back(Latin1ToUtf8(e));
        return j;
    }
    return j;
}

}  // namespace

int RunHeader(const HeaderOptions& o)
{
    Recording rec;
    if (!rec.Open(o.file)) {
        Complain(o.file, rec.Error());
        return kExitFailed;
    }
    const std::vector<HeaderField> fields = rec.HeaderFields();
    std::vector<const HeaderField*> chosen;
    if (o.keys.empty()) {
        for (const HeaderField& f : fields) chosen.push_back(&f);
    } else {
        for (const std::string& key : o.keys) {
            const HeaderField* found = nullptr;
            for (const HeaderField& f : fields)
                if (f.key == key) found = &f;
            if (!found) {
                std::fprintf(stderr, "sorvan: the header has no key %s (sorvan header FILE lists them)\n", key.c_str());
                return kExitUsage;
            }
            chosen.push_back(found);
        }
    }
    if (o.json) {
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        for (const HeaderField* f : chosen) j[f->key] = Value(*f);
        std::printf("%s\n", j.dump(2).c_str());
    } else {
        for (const HeaderField* f : chosen) {
            if (o.keys.empty())
                std::printf("%s=%s\n", f->key.c_str(), f->value.c_str());
            else
                std::printf("%s\n", f->value.c_str());
        }
    }
    return kExitOk;
}

}  // namespace sorvan
