// Entry point, host version check and the message handler.
#include <cstdlib>

#include "platform/win32_api.h"
#include "xop.h"

namespace {

// The host's version from its program file's version resource: 0 whenever any
// step fails.
int32_t HostVersionFromProgramFile()
{
    void* module = GetIgorModule();
    if (!module) return 0;
    char path[256];
    DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), path, sizeof path);
    if (length == 0) return 0;
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &unused);
    if (size == 0) return 0;
    void* block = std::malloc(size);
    if (!block) return 0;
    int32_t version = 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoLength = 0;
    char root[] = "\\";
    if (GetFileVersionInfoA(path, 0, size, block) &&
        VerQueryValueA(block, root, reinterpret_cast<LPVOID*>(&info), &infoLength) && info &&
        infoLength >= sizeof(VS_FIXEDFILEINFO)) {
        DWORD ms = info->dwFileVersionMS;
        DWORD ls = info->dwFileVersionLS;
        // major x 100 + minor x 10 + patch; the build number is not used.
        version = static_cast<int32_t>((ms >> 16) * 100 + (ms & 0xFFFF) * 10 + (ls >> 16));
    }
    std::free(block);
    return version;
}

}  // namespace

extern "C" int XOPMainImpl(IORecHandle record)
{
    recordHandle = record;

    int32_t answered = 0;
    XopItem item = ItemOf(&answered);
    XopItem result = 0;
    if (CallHostSent(kMsgHostVersion, 1, &item, &result) && result == 0)
        hostVersion = answered / 10;
    else
        hostVersion = HostVersionFromProgramFile();

    hostWindow = GetIgorClientHWND();
    (*recordHandle)->entry = HandleHostMessage;

    if (hostVersion >= kMinHostVersion) {
        (*recordHandle)->result = 0;
        return 0;
    }
    (*recordHandle)->result = kHostTooOld;
    return 1;
}

XopExternalFunction FunctionAddress(void)
{
    const IORec* rec = *recordHandle;
    XopItem index = rec->itemCount > 0 ? rec->items[0] : 0;
    // Unsigned comparison: negative indexes are out of range too.
    if (static_cast<uintptr_t>(index) >= static_cast<uintptr_t>(kFunctionCount)) return nullptr;
    return kExternalFunctions[index];
}

extern "C" void HandleHostMessage(void)
{
    XopItem answer = 0;
    if ((*recordHandle)->message == kMsgFunctionAddress) answer = reinterpret_cast<XopItem>(FunctionAddress());
    (*recordHandle)->result = answer;
}
