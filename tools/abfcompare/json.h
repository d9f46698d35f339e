// A small JSON reader: enough for the reference answers (objects, arrays, numbers,
// strings, true/false/null).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace abfcompare {

struct Json {
    enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
    bool b = false;
    double num = 0;
    std::string str;
    std::vector<Json> arr;
    std::map<std::string, Json> obj;

    bool Has(const std::string& key) const { return type == kObject && obj.count(key) != 0; }
    // Member or a null value when absent.
    const Json& operator[](const std::string& key) const;
    const Json& operator[](size_t i) const;
    bool IsNull() const { return type == kNull; }
    double Num() const { return type == kBool ? (b ? 1 : 0) : num; }
    long long Int() const { return static_cast<long long>(Num()); }
};

// Parses `text`; on a syntax error returns false and describes it in `error`.
bool ParseJson(const std::string& text, Json& out, std::string& error);
bool ParseJsonFile(const std::string& path, Json& out, std::string& error);

}  // namespace abfcompare
