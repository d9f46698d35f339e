// The plug-in's external function table (resource XOPF), its error texts (STR#)
// and the parameter-block layout the host builds from the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavhost {

struct FunctionInfo {
    int index = 0;
    std::string name;
    uint16_t category = 0;
    uint16_t returnType = 0;
    std::vector<uint16_t> params;
};

// Parses the XOPF bytes; false (with a reason in *error) when they are malformed.
bool ParseFunctionTable(const unsigned char* bytes, std::size_t size, std::vector<FunctionInfo>* out,
                        std::string* error);
// Parses the STR# bytes: NUL-terminated texts up to an empty one.
std::vector<std::string> ParseStringList(const unsigned char* bytes, std::size_t size);

// "number", "string", "wave", "number by reference", "string by reference".
std::string ParamTypeName(uint16_t type);

struct Slot {
    std::size_t offset = 0;
    std::size_t size = 0;
};
struct BlockLayout {
    std::vector<Slot> params;  // in table order
    Slot result;
    std::size_t size = 0;
};
// The block of a function as the host's block rule (interface/host_abi.h) lays
// it out for pointers of `pointerSize` bytes: last parameter first, packed, the
// thread pointer of a threadsafe function (category 0x4000), the result slot last.
BlockLayout ComputeLayout(const std::vector<uint16_t>& params, uint16_t returnType, uint16_t category = 0,
                          std::size_t pointerSize = sizeof(void*));

}  // namespace kavhost
