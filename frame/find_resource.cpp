// Natively the plug-in carries its resources as data and hands them out here
// (the Win32 build has them in its resource section).
#include <cstring>

#include "resources/resource_data.h"
#include "xop.h"

KAV_XOP_EXPORT const void* KavFindResource(const char* type, int id, uint32_t* size)
{
    if (!type) return nullptr;
    for (int i = 0; i < kKavResourceCount; ++i) {
        const KavResource& r = kKavResources[i];
        if (r.id == id && std::strcmp(r.type, type) == 0) {
            if (size) *size = r.size;
            return r.data;
        }
    }
    return nullptr;
}
