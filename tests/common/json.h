// A small JSON reader for the tests' recorded reference data: objects, arrays,
// strings (with \uXXXX kept as '?' beyond Latin-1), numbers, booleans and null.
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace kavtest {

struct Json {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    bool Has(const std::string& key) const { return kind == kObject && fields.count(key) != 0; }
    const Json& operator[](const std::string& key) const
    {
        static const Json none;
        auto it = fields.find(key);
        return it == fields.end() ? none : it->second;
    }
    const Json& operator[](std::size_t i) const { return items.at(i); }
    std::size_t size() const { return kind == kArray ? items.size() : fields.size(); }
    bool IsNull() const { return kind == kNull; }
    long long Int() const { return static_cast<long long>(number); }
};

class JsonParser {
public:
    explicit JsonParser(const std::string& s) : s_(s) {}
    bool Parse(Json& out)
    {
        if (!Value(out)) return false;
        Ws();
        return pos_ == s_.size();
    }

private:
    void Ws()
    {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
            ++pos_;
    }
    bool Lit(const char* word)
    {
        std::size_t n = std::char_traits<char>::length(word);
        if (s_.compare(pos_, n, word) != 0) return false;
        pos_ += n;
        return true;
    }
    bool String(std::string& out)
    {
        if (s_[pos_] != '"') return false;
        ++pos_;
        while (pos_ < s_.size() && s_[pos_] != '"') {
            char c = s_[pos_++];
            if (c != '\\') { out += c; continue; }
            if (pos_ >= s_.size()) return false;
            char e = s_[pos_++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                if (pos_ + 4 > s_.size()) return false;
                long v = std::strtol(s_.substr(pos_, 4).c_str(), nullptr, 16);
                pos_ += 4;
                out += v < 256 ? static_cast<char>(v) : '?';
                break;
            }
            default: out += e;
            }
        }
        if (pos_ >= s_.size()) return false;
        ++pos_;
        return true;
    }
    bool Value(Json& v)
    {
        Ws();
        if (pos_ >= s_.size()) return false;
        char c = s_[pos_];
        if (c == '{') {
            v.kind = Json::kObject;
            ++pos_;
            Ws();
            if (pos_ < s_.size() && s_[pos_] == '}') { ++pos_; return true; }
            for (;;) {
                Ws();
                std::string key;
                if (pos_ >= s_.size() || !String(key)) return false;
                Ws();
                if (pos_ >= s_.size() || s_[pos_++] != ':') return false;
                if (!Value(v.fields[key])) return false;
                Ws();
                if (pos_ >= s_.size()) return false;
                if (s_[pos_] == ',') { ++pos_; continue; }
                if (s_[pos_] == '}') { ++pos_; return true; }
                return false;
            }
        }
        if (c == '[') {
            v.kind = Json::kArray;
            ++pos_;
            Ws();
            if (pos_ < s_.size() && s_[pos_] == ']') { ++pos_; return true; }
            for (;;) {
                v.items.emplace_back();
                if (!Value(v.items.back())) return false;
                Ws();
                if (pos_ >= s_.size()) return false;
                if (s_[pos_] == ',') { ++pos_; continue; }
                if (s_[pos_] == ']') { ++pos_; return true; }
                return false;
            }
        }
        if (c == '"') { v.kind = Json::kString; return String(v.text); }
        if (Lit("true")) { v.kind = Json::kBool; v.boolean = true; return true; }
        if (Lit("false")) { v.kind = Json::kBool; return true; }
        if (Lit("null")) { v.kind = Json::kNull; return true; }
        if (Lit("NaN")) { v.kind = Json::kNumber; v.number = std::strtod("nan", nullptr); return true; }
        const char* start = s_.c_str() + pos_;
        char* end = nullptr;
        v.number = std::strtod(start, &end);
        if (end == start) return false;
        v.kind = Json::kNumber;
        pos_ += static_cast<std::size_t>(end - start);
        return true;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
};

// Reads and parses a JSON file; false when it cannot be read or is malformed.
inline bool LoadJsonFile(const std::string& path, Json& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    return JsonParser(text).Parse(out);
}

}  // namespace kavtest
