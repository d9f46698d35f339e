// The plug-in's spine: entry point, global state, the message handler, the
// function-address table (generated from resources/functions.csv) and CallHost,
// through which every host message goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "interface/host_abi.h"
#include "resources/external_functions.h"

// Natively only the entry points and KavFindResource leave the shared object
// (built with -fvisibility=hidden). On Win32 the module-definition file decides.
#if KAV_WINDOWS
#define KAV_XOP_EXPORT extern "C"
#else
#define KAV_XOP_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Global state, set by XOPMainImpl and kept while the library is loaded.
extern IORecHandle recordHandle;  // the host's plug-in record
extern int32_t hostVersion;       // major x 100 + minor x 10 + patch; 0 when unknown
extern void* hostWindow;          // the host's client window (owner of our dialogs)

// The oldest host accepted: version 5.00, in hostVersion's form (major x 100 +
// minor x 10 + patch). The plug-in speaks the host interface of version 5 and
// later (the messages it sends, the parameter blocks it expects); an older host
// is refused at start-up rather than met with calls it may not answer. Hosts
// answer the version message with version x 1000 (6220 for 6.22), which the
// start-up divides by 10 to this form.
inline constexpr int32_t kMinHostVersion = 500;
// What a refused host finds in the record's result: 163 is the host's own error
// code for a plug-in that needs a newer version of the host. The host has the
// text for it, so the plug-in's error list (STR# 1100) has no entry for it.
inline constexpr int32_t kHostTooOld = 163;

// Start-up, behind both exported entry points (XOPMain and main): returns 0 when
// the host is accepted, 1 when it is refused.
extern "C" int XOPMainImpl(IORecHandle record);

// The message handler installed in the record's `entry`: answers the
// function-address message and leaves `result` 0 for every other message.
extern "C" void HandleHostMessage(void);

// Address of the external function whose index is item 0 of the current message
// (index 0 when the message has no items) in kExternalFunctions; null for an index
// outside the table.
XopExternalFunction FunctionAddress(void);

// What CallHost answers when the record could be grown neither to the full size
// nor to the size of the message's items: the message is not sent.
inline constexpr XopItem kCallHostRecordError = -1;

// Sends message `message` with `itemCount` items (0 to 16) to the host and
// returns the host's result, or kCallHostRecordError when the record could not
// be made large enough (the host then never sees the message).
XopItem CallHost(int message, int itemCount, const XopItem* items);
inline XopItem CallHost(int message, std::initializer_list<XopItem> items)
{
    return CallHost(message, static_cast<int>(items.size()), items.begin());
}
// The same, telling whether the message was sent; *result is written only then.
bool CallHostSent(int message, int itemCount, const XopItem* items, XopItem* result);

// When a debugger is attached: hands it the text (OutputDebugStringA) and breaks
// into it. Without a debugger nothing happens: a break would end the host.
void DebugBreakWith(const char* text);

// A pointer or handle as a message item.
template <typename T>
inline XopItem ItemOf(T* p)
{
    return reinterpret_cast<XopItem>(p);
}
