// The binary interface between the host and a plug-in: the plug-in record, the
// message numbers, parameter-block conventions and the memory functions the host
// exports. Included by the plug-in and by the stand-in host alike.
//
// On Win32 every layout here is the host's fixed 32-bit interface. In the native
// Linux build the same fields keep their order with natural, pointer-sized items.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define KAV_WIN32 1
#define KAV_HOST_API extern "C"
#else
#define KAV_WIN32 0
#define KAV_HOST_API extern "C" __attribute__((visibility("default")))
#endif

// A relocatable block of host memory: a pointer to the block's master pointer.
// The block may move whenever it is resized; always dereference anew.
typedef char** Handle;
// Waves are host handles too (see the wave record below).
typedef Handle waveHndl;

// One message item: a 32-bit integer, pointer or handle on Win32; pointer-sized natively.
typedef intptr_t XopItem;

struct IORec;
typedef IORec** IORecHandle;
typedef void (*XopCallbackProc)(IORecHandle record);
typedef void (*XopEntryProc)(void);

inline constexpr int kIORecMaxItems = 16;

#if KAV_WIN32
#pragma pack(push, 2)
#endif
struct IORec {
    int16_t version;  // host's own; not used by the plug-in
    int32_t refNum;   // host's own
    XopItem result;   // answer of the last message, either direction (an address
                      // for messages 15 and 37: pointer-sized natively)
    int32_t reserved1;
    XopCallbackProc callback;  // host routine carrying out `message`
    XopEntryProc entry;        // plug-in's message handler
    int32_t reserved2[2];
    int16_t message;
    int16_t reserved3[3];
    int16_t itemCount;
    XopItem items[kIORecMaxItems];
};
#if KAV_WIN32
#pragma pack(pop)
#endif

#if KAV_WIN32
static_assert(offsetof(IORec, result) == 6, "IORec.result");
static_assert(offsetof(IORec, callback) == 14, "IORec.callback");
static_assert(offsetof(IORec, entry) == 18, "IORec.entry");
static_assert(offsetof(IORec, message) == 30, "IORec.message");
static_assert(offsetof(IORec, itemCount) == 38, "IORec.itemCount");
static_assert(offsetof(IORec, items) == 40, "IORec.items");
static_assert(sizeof(IORec) == 104, "IORec size");
#endif

// Size of a record that holds exactly n items (the fallback when the full record
// cannot be had): 40 + 4 x n bytes on Win32.
inline constexpr std::size_t IORecSizeForItems(int n)
{
    return offsetof(IORec, items) + sizeof(XopItem) * static_cast<std::size_t>(n);
}

// Messages the plug-in sends to the host.
enum HostMessage : int16_t {
    kMsgWaveModified = 1,     // wave
    kMsgHistoryPrint = 8,     // NUL-terminated text
    kMsgWaveType = 34,        // wave -> type code
    kMsgWavePoints = 35,      // wave -> number of points
    kMsgWaveData = 37,        // wave -> address of the data
    kMsgChangeWave = 43,      // wave, points, type -> 0 or error
    kMsgSetWaveScaling = 51,  // wave, &step, &start, null, null
    kMsgSetWaveUnits = 53,    // wave, x units, data units
    kMsgSetWaveNote = 55,     // wave, note handle (passes to the host)
    kMsgWaveDimensions = 78,  // wave, &count, null -> 0 or error
    kMsgNativePath = 172,     // text handle rewritten in place
    kMsgHostVersion = 238,    // &version -> 0 when answered
};

// Messages the host sends to the plug-in.
enum PluginMessage : int16_t {
    kMsgFunctionAddress = 15,  // item 0: function index -> address in result
};

// Wave numeric type codes.
enum WaveTypeCode : int32_t {
    kWaveText = 0,
    kWaveComplex = 1,  // flag added to a numeric type
    kWaveFloat32 = 2,
    kWaveFloat64 = 4,
    kWaveInt8 = 8,
    kWaveInt16 = 0x10,
    kWaveInt32 = 0x20,
    kWaveUnsigned = 0x40,  // flag added to an integer type
};

// The wave record behind a wave handle. Callers that find `directAccess` == 1
// read the record instead of asking with messages 34, 35, 37 and 78.
inline constexpr std::size_t kWaveRecPoints = 12;    // int32 point count
inline constexpr std::size_t kWaveRecType = 16;      // int16 type code
inline constexpr std::size_t kWaveRecDirect = 26;    // int16, 1 = read the record directly
inline constexpr std::size_t kWaveRecDimSizes = 68;  // 4 x int32 dimension sizes
inline constexpr std::size_t kWaveRecData = 320;     // the data

// Parameter-block type codes of the function table.
enum XopParamType : uint16_t {
    kParamNumber = 4,
    kParamString = 0x2000,
    kParamWave = 0x4000,
    kParamByRef = 0x1000,  // flag added to a number or string parameter
    kParamNumberRef = kParamNumber | kParamByRef,
    kParamStringRef = kParamString | kParamByRef,
};

// External function: one argument, the parameter block; returns a status.
typedef int (*XopExternalFunction)(void* params);

// Plug-in status codes of its own: 10001 on, one after the other, in the order of
// their texts in the error string resource (resources/errors.txt).
enum XopStatus : int {
    kStatusOk = 0,
    kStatusOutOfMemory = 1,
    kErrNullString = 10001,
    kErrNeedFloatWave,   // 10002
    kErrNeedByteWave,    // 10003
    kErrTooManySamples,  // 10004
    kErrNoWave,          // 10005
    kErrNeed1DWave,      // 10006
    kErrWaveLength,      // 10007
    kErrChannel,         // 10008
    kErrEpisode,         // 10009
    kErrNotGapFree,      // 10010
};

// Memory and query functions the host program exports (IGOR.exe; natively the
// xophost executable, resolved when the plug-in is loaded).
KAV_HOST_API Handle NewHandle(intptr_t size);
KAV_HOST_API void SetHandleSize(Handle h, intptr_t size);
KAV_HOST_API intptr_t GetHandleSize(Handle h);
KAV_HOST_API void DisposeHandle(Handle h);
KAV_HOST_API int PtrToHand(const void* src, Handle* dest, intptr_t size);
KAV_HOST_API int MemError(void);
KAV_HOST_API void* GetIgorModule(void);      // HMODULE of the host program
KAV_HOST_API void* GetIgorClientHWND(void);  // HWND of the host's client window
