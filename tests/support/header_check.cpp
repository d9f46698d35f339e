#include "header_check.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "tools/abfcompare/json.h"

namespace metatest {

const AbfFieldInfo* FieldByName(const std::string& name)
{
    for (const AbfFieldInfo& f : kAbfRecordFields)
        if (name == f.name) return &f;
    return nullptr;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return out;
        start = at + 1;
    }
}

namespace {

// Length of "name=" or "name = " at `at` when name is a record field, else 0;
// *key receives the name.
std::size_t KeyAt(const std::string& text, std::size_t at, bool listing, std::string* key)
{
    std::size_t end = at;
    while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])))) ++end;
    if (end == at || !FieldByName(text.substr(at, end - at))) return 0;
    *key = text.substr(at, end - at);
    if (text.compare(end, 1, "=") == 0) return end - at + 1;
    if (listing && text.compare(end, 3, " = ") == 0) return end - at + 3;
    return 0;
}

std::vector<Piece> SplitItems(const std::string& text, bool listing)
{
    std::vector<Piece> out;
    std::vector<std::size_t> starts;
    std::string key;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((i == 0 || text[i - 1] == ';') && KeyAt(text, i, listing, &key)) starts.push_back(i);
    for (std::size_t n = 0; n < starts.size(); ++n) {
        const std::size_t end = n + 1 < starts.size() ? starts[n + 1] : text.size();
        const std::size_t head = KeyAt(text, starts[n], listing, &key);
        std::string value = text.substr(starts[n] + head, end - starts[n] - head);
        // A ";" closes the item unless the item ends the listing's line (a text list's
        // last separator is its carriage return).
        const bool last = n + 1 == starts.size();
        if ((!listing || !last) && !value.empty() && value.back() == ';') value.pop_back();
        out.push_back(Piece{key, value});
    }
    return out;
}

std::string TrimBlanks(const std::string& s)
{
    std::size_t a = 0, b = s.size();
    while (a < b && s[a] == ' ') ++a;
    while (b > a && s[b - 1] == ' ') --b;
    return s.substr(a, b - a);
}

std::string FormatElement(const unsigned char* record, const AbfFieldInfo& f, int i)
{
    const unsigned char* p = record + f.offset + i * f.width;
    char text[64];
    switch (f.kind) {
    case AbfFieldKind::kF32: {
        float v;
        std::memcpy(&v, p, 4);
        std::snprintf(text, sizeof text, "%f", static_cast<double>(v));
        break;
    }
    case AbfFieldKind::kI8: std::snprintf(text, sizeof text, "%d", static_cast<int>(static_cast<int8_t>(*p))); break;
    case AbfFieldKind::kU8: std::snprintf(text, sizeof text, "%d", static_cast<int>(*p)); break;
    case AbfFieldKind::kI16: {
        int16_t v;
        std::memcpy(&v, p, 2);
        std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
        break;
    }
    case AbfFieldKind::kU16: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
        break;
    }
    default: {  // 32-bit integers, the unsigned ones shown signed
        int32_t v;
        std::memcpy(&v, p, 4);
        std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
        break;
    }
    }
    return text;
}

}  // namespace

std::vector<Piece> SplitHeaderString(const std::string& text) { return SplitItems(text, false); }

std::vector<Piece> SplitListing(const std::string& history)
{
    std::vector<Piece> out;
    for (const std::string& line : Split(history, '\r')) {
        std::vector<Piece> items = SplitItems(line, true);
        out.insert(out.end(), items.begin(), items.end());
    }
    return out;
}

std::string ListingValueAsString(const Piece& listed)
{
    const AbfFieldInfo* f = FieldByName(listed.key);
    if (!f) return "?";
    const int elements = f->rows * f->cols;
    if (elements == 1 && f->kind != AbfFieldKind::kChar) return listed.value;
    if (f->kind == AbfFieldKind::kChar && elements == 1) return TrimBlanks(listed.value);
    // 32-bit lists and text lists separate with ";" in the listing.
    const char separator = (f->kind == AbfFieldKind::kChar || f->kind == AbfFieldKind::kI32) ? ';' : ',';
    std::string joined;
    std::vector<std::string> parts = Split(listed.value, separator);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) joined += ',';
        joined += f->kind == AbfFieldKind::kChar ? TrimBlanks(parts[i]) : parts[i];
    }
    return joined;
}

std::string TrimmedEnd(const char* field, int width)
{
    std::string buf(field, static_cast<std::size_t>(width));
    buf.push_back('\0');
    for (int i = width; i >= 0; --i) {
        if (buf[i] == '\0') continue;
        if (buf[i] != ' ') break;
        buf[i] = '\0';
    }
    return std::string(buf.c_str());
}

std::string UpToNul(const char* field, int width)
{
    std::string buf(field, static_cast<std::size_t>(width));
    return std::string(buf.c_str());
}

std::string TrimmedBothEnds(const char* field, int width)
{
    std::string value = TrimmedEnd(field, width);
    std::size_t lead = value.find_first_not_of(' ');
    return lead == std::string::npos ? std::string() : value.substr(lead);
}

namespace {

const AbfFieldInfo* FieldIn(const AbfFieldInfo* table, std::size_t n, const std::string& name)
{
    for (std::size_t i = 0; i < n; ++i)
        if (name == table[i].name) return &table[i];
    return nullptr;
}

std::string CompareFields(const std::vector<Piece>& pieces, const unsigned char* record, const AbfFieldInfo* table,
                          std::size_t tableSize)
{
    std::string problems;
    for (const Piece& piece : pieces) {
        const AbfFieldInfo* f = FieldIn(table, tableSize, piece.key);
        if (!f) {
            problems += piece.key + ": not a field of the record\n";
            continue;
        }
        const int elements = f->rows * f->cols;
        if (f->kind == AbfFieldKind::kChar) {
            const char* base = reinterpret_cast<const char*>(record) + f->offset;
            std::string expected;
            for (int k = 0; k < elements; ++k) {
                if (k) expected += ',';
                expected += TrimmedBothEnds(base + k * f->width, f->width);
            }
            if (piece.value != expected)
                problems += piece.key + ": \"" + piece.value + "\", record \"" + expected + "\"\n";
            continue;
        }
        std::vector<std::string> values = Split(piece.value, ',');
        if (static_cast<int>(values.size()) > elements) {
            problems += piece.key + ": " + std::to_string(values.size()) + " values, the field has " +
                        std::to_string(elements) + "\n";
            continue;
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::string expected = FormatElement(record, *f, static_cast<int>(i));
            if (values[i] != expected)
                problems += piece.key + "[" + std::to_string(i) + "]: " + values[i] + ", record " + expected + "\n";
        }
    }
    return problems;
}

bool LoadHex(const std::string& jsonPath, const char* member, void* out, std::size_t size, std::string* error)
{
    abfcompare::Json doc;
    if (!abfcompare::ParseJsonFile(jsonPath, doc, *error)) return false;
    const std::string hex = abfcompare::String(abfcompare::At(doc, "ord110"), member);
    if (hex.size() < 2 * size) {
        *error = jsonPath + ": no " + member;
        return false;
    }
    unsigned char* bytes = static_cast<unsigned char*>(out);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return true;
}

}  // namespace

std::string CompareWithRecord(const std::vector<Piece>& pieces, const ABFFileHeader& header)
{
    return CompareFields(pieces, reinterpret_cast<const unsigned char*>(&header), kAbfRecordFields,
                         sizeof kAbfRecordFields / sizeof kAbfRecordFields[0]);
}

std::string CompareWithLibraryRecord(const std::vector<Piece>& pieces, const ABFLibraryHeader& header)
{
    return CompareFields(pieces, reinterpret_cast<const unsigned char*>(&header), kAbfLibraryRecordFields,
                         sizeof kAbfLibraryRecordFields / sizeof kAbfLibraryRecordFields[0]);
}

bool LoadGoldenRecord(const std::string& jsonPath, ABFFileHeader* header, std::string* error)
{
    return LoadHex(jsonPath, "header_hex", header, sizeof *header, error);
}

bool LoadGoldenLibraryRecord(const std::string& jsonPath, ABFLibraryHeader* header, std::string* error)
{
    return LoadHex(jsonPath, "library_record_hex", header, sizeof *header, error);
}

}  // namespace metatest
