// Global state and sending messages to the host.
#include <cstring>

#include "platform/win32_api.h"
#include "xop.h"

IORecHandle recordHandle = nullptr;
int32_t hostVersion = 0;
void* hostWindow = nullptr;

namespace {
constexpr BCInt kFullRecordSize = static_cast<BCInt>(sizeof(IORec));
}

void DebugBreakWith(const char* text)
{
    // A break without a debugger would end the host; only stop when someone can look.
    if (!IsDebuggerPresent()) return;
    OutputDebugStringA(text);
    DebugBreak();
}

bool CallHostSent(int message, int itemCount, const XopItem* items, XopItem* result)
{
    if (!recordHandle || itemCount < 0 || itemCount > kIORecMaxItems) return false;
    // The record must hold the items: grow it to the full size, or at least to
    // exactly what this message needs.
    SetHandleSize(reinterpret_cast<Handle>(recordHandle), kFullRecordSize);
    if (MemError() != 0) {
        SetHandleSize(reinterpret_cast<Handle>(recordHandle), static_cast<BCInt>(IORecSizeForItems(itemCount)));
        if (MemError() != 0) {
            DebugBreakWith("SetRecHandle error");
            // Writing the items would run past the record: send nothing.
            return false;
        }
    }
    IORec* rec = *recordHandle;  // the record may have moved
    rec->itemCount = static_cast<int16_t>(itemCount);
    for (int i = 0; i < itemCount; ++i) rec->items[i] = items[i];
    rec->result = 0;
    rec->message = static_cast<int16_t>(message);
    rec->callback(recordHandle);
    XopItem answer = (*recordHandle)->result;
    if (result) *result = answer;
    return true;
}

XopItem CallHost(int message, int itemCount, const XopItem* items)
{
    XopItem result = 0;
    if (!CallHostSent(message, itemCount, items, &result)) return kCallHostRecordError;
    return result;
}
