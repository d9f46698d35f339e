// The plug-in's custom resources as bytes, for builds without a Win32 resource
// section (the native plug-in answers KavFindResource from this table).
#pragma once

#include <cstdint>

struct KavResource {
    const char* type;  // "XOPF", "XOPI" or "STR#"
    int id;
    const unsigned char* data;
    uint32_t size;
};

extern const KavResource kKavResources[];
extern const int kKavResourceCount;
