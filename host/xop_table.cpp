#include "xop_table.h"

#include "interface/host_abi.h"

namespace kavhost {

namespace {
bool ReadWord(const unsigned char* b, std::size_t size, std::size_t* pos, uint16_t* v)
{
    if (*pos + 2 > size) return false;
    *v = static_cast<uint16_t>(b[*pos] | (b[*pos + 1] << 8));
    *pos += 2;
    return true;
}
}  // namespace

bool ParseFunctionTable(const unsigned char* b, std::size_t size, std::vector<FunctionInfo>* out, std::string* error)
{
    out->clear();
    std::size_t pos = 0;
    auto fail = [&](const std::string& why) {
        if (error) *error = why + " at byte " + std::to_string(pos);
        return false;
    };
    for (;;) {
        if (pos >= size) return fail("table not closed");
        if (b[pos] == 0) {
            // An empty name: the closing word of the table.
            if (pos + 2 > size || b[pos + 1] != 0) return fail("bad table end");
            return true;
        }
        FunctionInfo f;
        f.index = static_cast<int>(out->size());
        while (pos < size && b[pos] != 0) f.name.push_back(static_cast<char>(b[pos++]));
        if (pos >= size) return fail("unterminated name");
        ++pos;
        if (!ReadWord(b, size, &pos, &f.category) || !ReadWord(b, size, &pos, &f.returnType))
            return fail("truncated entry");
        for (;;) {
            uint16_t t = 0;
            if (!ReadWord(b, size, &pos, &t)) return fail("truncated parameter list");
            if (t == 0) break;
            f.params.push_back(t);
        }
        out->push_back(std::move(f));
    }
}

std::vector<std::string> ParseStringList(const unsigned char* b, std::size_t size)
{
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < size) {
        std::string s;
        while (pos < size && b[pos] != 0) s.push_back(static_cast<char>(b[pos++]));
        ++pos;
        if (s.empty()) break;
        out.push_back(std::move(s));
    }
    return out;
}

std::string ParamTypeName(uint16_t type)
{
    switch (type) {
    case kParamNumber: return "number";
    case kParamString: return "string";
    case kParamWave: return "wave";
    case kParamNumberRef: return "number by reference";
    case kParamStringRef: return "string by reference";
    default:
        return "type 0x" + [&] {
            static const char* hex = "0123456789abcdef";
            std::string s;
            for (int sh = 12; sh >= 0; sh -= 4) s.push_back(hex[(type >> sh) & 15]);
            return s;
        }();
    }
}

BlockLayout ComputeLayout(const std::vector<uint16_t>& params, uint16_t returnType, uint16_t category,
                          std::size_t pointerSize)
{
    BlockLayout l;
    const int count = static_cast<int>(params.size());
    l.params.resize(params.size());
    for (int i = 0; i < count; ++i)
        l.params[static_cast<std::size_t>(i)] =
            Slot{XopParamOffset(params.data(), count, i, pointerSize), XopSlotBytes(params[static_cast<std::size_t>(i)], pointerSize)};
    l.result = Slot{XopResultOffset(params.data(), count, category, pointerSize), XopSlotBytes(returnType, pointerSize)};
    l.size = XopBlockBytes(params.data(), count, category, returnType, pointerSize);
    return l;
}

}  // namespace kavhost
