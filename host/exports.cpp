// The memory and query functions the host program exports to the plug-in. They
// act on the active host's memory; without one, on a heap of their own.
#include "host.h"

#if defined(_WIN32)
#include <windows.h>
#define KAV_EXPORT_DEF extern "C" __declspec(dllexport)
#else
#define KAV_EXPORT_DEF extern "C" __attribute__((visibility("default")))
#endif

namespace {
kavhost::HandleHeap& Heap()
{
    static kavhost::HandleHeap spare;
    kavhost::Host* h = kavhost::CurrentHost();
    return h ? h->Heap() : spare;
}
}  // namespace

KAV_EXPORT_DEF Handle NewHandle(BCInt size) { return Heap().NewHandle(size); }
KAV_EXPORT_DEF void SetHandleSize(Handle h, BCInt size) { Heap().SetHandleSize(h, size); }
KAV_EXPORT_DEF BCInt GetHandleSize(Handle h) { return Heap().GetHandleSize(h); }
KAV_EXPORT_DEF void DisposeHandle(Handle h) { Heap().DisposeHandle(h); }
KAV_EXPORT_DEF int PtrToHand(const void* src, Handle* dest, BCInt size) { return Heap().PtrToHand(src, dest, size); }
KAV_EXPORT_DEF int MemError(void) { return Heap().MemError(); }

KAV_EXPORT_DEF void* GetIgorModule(void)
{
    kavhost::Host* h = kavhost::CurrentHost();
    if (h) return h->ProgramModule();
#if defined(_WIN32)
    return GetModuleHandleA(nullptr);
#else
    return nullptr;
#endif
}

KAV_EXPORT_DEF void* GetIgorClientHWND(void)
{
    kavhost::Host* h = kavhost::CurrentHost();
    return h ? h->ClientWindow() : nullptr;
}
