#include "json.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace abfcompare {
namespace {

const Json& NullJson()
{
    static const Json null;
    return null;
}

class Parser {
public:
    explicit Parser(const std::string& t) : t_(t) {}
    bool Parse(Json& out, std::string& error)
    {
        if (!Value(out, 0) || (Skip(), pos_ != t_.size())) {
            error = "JSON syntax error at offset " + std::to_string(pos_);
            return false;
        }
        return true;
    }

private:
    void Skip()
    {
        while (pos_ < t_.size() && (t_[pos_] == ' ' || t_[pos_] == '\n' || t_[pos_] == '\r' || t_[pos_] == '\t'))
            ++pos_;
    }
    bool Lit(const char* word)
    {
        const std::string w(word);
        if (t_.compare(pos_, w.size(), w) != 0) return false;
        pos_ += w.size();
        return true;
    }
    bool String(std::string& s)
    {
        if (pos_ >= t_.size() || t_[pos_] != '"') return false;
        ++pos_;
        while (pos_ < t_.size() && t_[pos_] != '"') {
            char c = t_[pos_++];
            if (c != '\\') {
                s += c;
                continue;
            }
            if (pos_ >= t_.size()) return false;
            c = t_[pos_++];
            switch (c) {
            case 'n': s += '\n'; break;
            case 't': s += '\t'; break;
            case 'r': s += '\r'; break;
            case 'b': s += '\b'; break;
            case 'f': s += '\f'; break;
            case 'u': {
                if (pos_ + 4 > t_.size()) return false;
                const unsigned long cp = strtoul(t_.substr(pos_, 4).c_str(), nullptr, 16);
                pos_ += 4;
                // Code points up to 255 stand for the file's own (Windows-1252) bytes.
                if (cp < 0x100) {
                    s += static_cast<char>(cp);
                } else if (cp < 0x800) {
                    s += static_cast<char>(0xC0 | (cp >> 6));
                    s += static_cast<char>(0x80 | (cp & 0x3F));
                } else {
                    s += static_cast<char>(0xE0 | (cp >> 12));
                    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                    s += static_cast<char>(0x80 | (cp & 0x3F));
                }
                break;
            }
            default: s += c;
            }
        }
        if (pos_ >= t_.size()) return false;
        ++pos_;
        return true;
    }
    bool Value(Json& v, int depth)
    {
        if (depth > 64) return false;
        Skip();
        if (pos_ >= t_.size()) return false;
        const char c = t_[pos_];
        if (c == '{') {
            v.type = Json::kObject;
            ++pos_;
            Skip();
            if (pos_ < t_.size() && t_[pos_] == '}') return ++pos_, true;
            for (;;) {
                Skip();
                std::string key;
                if (!String(key)) return false;
                Skip();
                if (pos_ >= t_.size() || t_[pos_] != ':') return false;
                ++pos_;
                if (!Value(v.obj[key], depth + 1)) return false;
                Skip();
                if (pos_ < t_.size() && t_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < t_.size() && t_[pos_] == '}') return ++pos_, true;
                return false;
            }
        }
        if (c == '[') {
            v.type = Json::kArray;
            ++pos_;
            Skip();
            if (pos_ < t_.size() && t_[pos_] == ']') return ++pos_, true;
            for (;;) {
                v.arr.emplace_back();
                if (!Value(v.arr.back(), depth + 1)) return false;
                Skip();
                if (pos_ < t_.size() && t_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < t_.size() && t_[pos_] == ']') return ++pos_, true;
                return false;
            }
        }
        if (c == '"') {
            v.type = Json::kString;
            return String(v.str);
        }
        if (Lit("true")) {
            v.type = Json::kBool;
            v.b = true;
            return true;
        }
        if (Lit("false")) {
            v.type = Json::kBool;
            v.b = false;
            return true;
        }
        if (Lit("null")) {
            v.type = Json::kNull;
            return true;
        }
        if (Lit("NaN")) {
            v.type = Json::kNumber;
            v.num = std::strtod("nan", nullptr);
            return true;
        }
        const char* begin = t_.c_str() + pos_;
        char* end = nullptr;
        v.num = std::strtod(begin, &end);
        if (end == begin) return false;
        v.type = Json::kNumber;
        pos_ += static_cast<size_t>(end - begin);
        return true;
    }

    const std::string& t_;
    size_t pos_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const
{
    if (type != kObject) return NullJson();
    auto it = obj.find(key);
    return it == obj.end() ? NullJson() : it->second;
}

const Json& Json::operator[](size_t i) const
{
    if (type != kArray || i >= arr.size()) return NullJson();
    return arr[i];
}

bool ParseJson(const std::string& text, Json& out, std::string& error)
{
    out = Json();
    return Parser(text).Parse(out, error);
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
    return ParseJson(ss.str(), out, error);
}

}  // namespace abfcompare
