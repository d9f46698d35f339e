// The binary interface between the host and a plug-in: the plug-in record, the
// message numbers, parameter-block conventions, the wave record and the memory
// functions the host exports. Included by the plug-in and by the stand-in host alike.
//
// One description serves every build; what differs is the width of a pointer:
//   KAV_WIN32  32-bit Windows: the host's fixed 32-bit interface (IGOR.exe).
//   KAV_WIN64  64-bit Windows: the same fields with pointer-sized items and 64-bit
//              counts (Igor64.exe). Windows defines _WIN32 on x64 as well, so the
//              64-bit build is told by _WIN64.
//   neither    native Linux: the same fields in their order, natural alignment.
// On both Windows builds every structure shared with the host is packed to two
// bytes; the layouts follow from pointer-sized members and are asserted below.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN64)
#define KAV_WIN32 0
#define KAV_WIN64 1
#elif defined(_WIN32)
#define KAV_WIN32 1
#define KAV_WIN64 0
#else
#define KAV_WIN32 0
#define KAV_WIN64 0
#endif
#define KAV_WINDOWS (KAV_WIN32 || KAV_WIN64)

#if KAV_WINDOWS
#define KAV_HOST_API extern "C"
#else
#define KAV_HOST_API extern "C" __attribute__((visibility("default")))
#endif

// A relocatable block of host memory: a pointer to the block's master pointer.
// The block may move whenever it is resized; always dereference anew.
typedef char** Handle;
// Waves are host handles too (see the wave record below).
typedef Handle waveHndl;

// One message item: an integer, pointer or handle of pointer width (32 bits on
// Win32, 64 on Win64 and natively). Integers go in sign-extended.
typedef intptr_t XopItem;
// Point counts and dimension sizes of waves, and byte counts of handles: as wide as
// a pointer, so a 64-bit host's waves of more than 2^31 points and handles of more
// than 2 GB are counted whole. Never `long`, which stays 32 bits on Win64.
typedef intptr_t CountInt;
typedef intptr_t BCInt;

struct IORec;
typedef IORec** IORecHandle;
typedef void (*XopCallbackProc)(IORecHandle record);
typedef void (*XopEntryProc)(void);

inline constexpr int kIORecMaxItems = 16;

#if KAV_WINDOWS
#pragma pack(push, 2)
#endif
struct IORec {
    int16_t version;  // host's own; not used by the plug-in
    int32_t refNum;   // host's own
    XopItem result;   // answer of the last message, either direction (an address
                      // for messages 15 and 37, a point count for 35)
    int32_t reserved1;
    XopCallbackProc callback;  // host routine carrying out `message`
    XopEntryProc entry;        // plug-in's message handler
    void* hostHandle;          // host's own bookkeeping
    XopItem refCon;            // the plug-in's own; not used
    int16_t message;
    int16_t reserved3[3];
    int16_t itemCount;
    XopItem items[kIORecMaxItems];
};
#if KAV_WINDOWS
#pragma pack(pop)
#endif

#if KAV_WIN32
static_assert(offsetof(IORec, result) == 6, "IORec.result");
static_assert(offsetof(IORec, reserved1) == 10, "IORec.reserved1");
static_assert(offsetof(IORec, callback) == 14, "IORec.callback");
static_assert(offsetof(IORec, entry) == 18, "IORec.entry");
static_assert(offsetof(IORec, hostHandle) == 22, "IORec.hostHandle");
static_assert(offsetof(IORec, refCon) == 26, "IORec.refCon");
static_assert(offsetof(IORec, message) == 30, "IORec.message");
static_assert(offsetof(IORec, itemCount) == 38, "IORec.itemCount");
static_assert(offsetof(IORec, items) == 40, "IORec.items");
static_assert(sizeof(IORec) == 104, "IORec size");
#elif KAV_WIN64
static_assert(offsetof(IORec, result) == 6, "IORec.result");
static_assert(offsetof(IORec, reserved1) == 14, "IORec.reserved1");
static_assert(offsetof(IORec, callback) == 18, "IORec.callback");
static_assert(offsetof(IORec, entry) == 26, "IORec.entry");
static_assert(offsetof(IORec, hostHandle) == 34, "IORec.hostHandle");
static_assert(offsetof(IORec, refCon) == 42, "IORec.refCon");
static_assert(offsetof(IORec, message) == 50, "IORec.message");
static_assert(offsetof(IORec, itemCount) == 58, "IORec.itemCount");
static_assert(offsetof(IORec, items) == 60, "IORec.items");
static_assert(sizeof(IORec) == 188, "IORec size");
#endif

// Size of a record that holds exactly n items (the fallback when the full record
// cannot be had): 40 + 4 x n bytes on Win32, 60 + 8 x n on Win64.
inline constexpr std::size_t IORecSizeForItems(int n)
{
    return offsetof(IORec, items) + sizeof(XopItem) * static_cast<std::size_t>(n);
}

// Messages the plug-in sends to the host.
enum HostMessage : int16_t {
    kMsgWaveModified = 1,     // wave
    kMsgHistoryPrint = 8,     // NUL-terminated text
    kMsgWaveType = 34,        // wave -> type code
    kMsgWavePoints = 35,      // wave -> number of points (CountInt)
    kMsgWaveData = 37,        // wave -> address of the data
    kMsgChangeWave = 43,      // wave, points (CountInt), type -> 0 or error
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

// The wave record behind a wave handle, as hosts up to version 6 laid it out
// (record version 1): callers that find version 1 may read the record instead of
// asking with messages 34, 35, 37 and 78. Later hosts give version 2 and answer
// the messages only. The counts in the record are CountInt wide, so every field
// after the first count moves with the pointer width.
struct WaveRecordLayout {
    std::size_t points;      // CountInt point count
    std::size_t type;        // int16 type code
    std::size_t version;     // int16 record version: 1 = the record may be read directly
    std::size_t dimSizes;    // 4 x CountInt dimension sizes
    std::size_t data;        // the data
    std::size_t countBytes;  // bytes of one count
};
inline constexpr WaveRecordLayout kWaveRecord32 = {12, 16, 26, 68, 320, 4};
inline constexpr WaveRecordLayout kWaveRecord64 = {16, 24, 34, 80, 400, 8};
// This build's: the 32-bit record on Win32, the 64-bit one on Win64 and natively.
inline constexpr WaveRecordLayout kWaveRecord = sizeof(void*) == 8 ? kWaveRecord64 : kWaveRecord32;
static_assert(kWaveRecord.countBytes == sizeof(CountInt), "wave record counts are CountInt");
inline constexpr std::size_t kWaveRecPoints = kWaveRecord.points;
inline constexpr std::size_t kWaveRecType = kWaveRecord.type;
inline constexpr std::size_t kWaveRecDirect = kWaveRecord.version;
inline constexpr std::size_t kWaveRecDimSizes = kWaveRecord.dimSizes;
inline constexpr std::size_t kWaveRecData = kWaveRecord.data;

// Parameter-block type codes of the function table.
enum XopParamType : uint16_t {
    kParamNumber = 4,
    kParamString = 0x2000,
    kParamWave = 0x4000,
    kParamByRef = 0x1000,  // flag added to a number or string parameter
    kParamNumberRef = kParamNumber | kParamByRef,
    kParamStringRef = kParamString | kParamByRef,
};

// The category flag of a function the host may call from its own threads.
inline constexpr uint16_t kCategoryThreadSafe = 0x4000;

// The parameter-block rule, for a host whose pointers are `pointerSize` bytes: the
// parameters in reverse order of the function table (the last one at offset 0);
// for a threadsafe function the host's thread pointer after them; the result slot
// last. A number (and a numeric result) is a double, 8 bytes; every other slot
// (string and wave handles, the addresses of by-reference values, a string result,
// the thread pointer) is a pointer. The blocks are packed: no padding, ever (on
// Win32 a double after a 4-byte pointer stays at a 4-byte offset; on 64-bit hosts
// every slot is 8 bytes). The generated parameter blocks are asserted against this
// rule and the stand-in host builds its blocks with it.
constexpr std::size_t XopSlotBytes(uint16_t type, std::size_t pointerSize)
{
    return type == kParamNumber ? 8 : pointerSize;
}
// Offset of parameter `index` (table order) of `count` parameters `params`.
constexpr std::size_t XopParamOffset(const uint16_t* params, int count, int index, std::size_t pointerSize)
{
    std::size_t offset = 0;
    for (int i = count - 1; i > index; --i) offset += XopSlotBytes(params[i], pointerSize);
    return offset;
}
// Offset of the thread pointer of a threadsafe function (meaningless for others).
constexpr std::size_t XopThreadOffset(const uint16_t* params, int count, std::size_t pointerSize)
{
    return XopParamOffset(params, count, -1, pointerSize);
}
constexpr std::size_t XopResultOffset(const uint16_t* params, int count, uint16_t category, std::size_t pointerSize)
{
    return XopThreadOffset(params, count, pointerSize) + ((category & kCategoryThreadSafe) ? pointerSize : 0);
}
constexpr std::size_t XopBlockBytes(const uint16_t* params, int count, uint16_t category, uint16_t returnType,
                                    std::size_t pointerSize)
{
    return XopResultOffset(params, count, category, pointerSize) + XopSlotBytes(returnType, pointerSize);
}

// The rule pinned to the host's documented blocks, for both pointer widths.
namespace xop_block_examples {
// f(string s, double d, wave w) -> double, plain and threadsafe.
inline constexpr uint16_t kSdw[] = {kParamString, kParamNumber, kParamWave};
static_assert(XopParamOffset(kSdw, 3, 2, 4) == 0 && XopParamOffset(kSdw, 3, 1, 4) == 4 &&
                  XopParamOffset(kSdw, 3, 0, 4) == 12 && XopResultOffset(kSdw, 3, 0, 4) == 16 &&
                  XopBlockBytes(kSdw, 3, 0, kParamNumber, 4) == 24,
              "32-bit f(string, double, wave)");
static_assert(XopParamOffset(kSdw, 3, 2, 8) == 0 && XopParamOffset(kSdw, 3, 1, 8) == 8 &&
                  XopParamOffset(kSdw, 3, 0, 8) == 16 && XopResultOffset(kSdw, 3, 0, 8) == 24 &&
                  XopBlockBytes(kSdw, 3, 0, kParamNumber, 8) == 32,
              "64-bit f(string, double, wave)");
static_assert(XopThreadOffset(kSdw, 3, 4) == 16 && XopResultOffset(kSdw, 3, kCategoryThreadSafe, 4) == 20 &&
                  XopBlockBytes(kSdw, 3, kCategoryThreadSafe, kParamNumber, 4) == 28,
              "32-bit threadsafe f(string, double, wave)");
static_assert(XopThreadOffset(kSdw, 3, 8) == 24 && XopResultOffset(kSdw, 3, kCategoryThreadSafe, 8) == 32 &&
                  XopBlockBytes(kSdw, 3, kCategoryThreadSafe, kParamNumber, 8) == 40,
              "64-bit threadsafe f(string, double, wave)");
// FileSplitPath(string, 4 x string by reference) -> double.
inline constexpr uint16_t kSplit[] = {kParamString, kParamStringRef, kParamStringRef, kParamStringRef,
                                      kParamStringRef};
static_assert(XopParamOffset(kSplit, 5, 0, 4) == 16 && XopResultOffset(kSplit, 5, 0, 4) == 20 &&
                  XopBlockBytes(kSplit, 5, 0, kParamNumber, 4) == 28,
              "32-bit FileSplitPath");
static_assert(XopParamOffset(kSplit, 5, 0, 8) == 32 && XopResultOffset(kSplit, 5, 0, 8) == 40 &&
                  XopBlockBytes(kSplit, 5, 0, kParamNumber, 8) == 48,
              "64-bit FileSplitPath");
// EpisodeRead(string, number, number, wave) -> double.
inline constexpr uint16_t kEpisode[] = {kParamString, kParamNumber, kParamNumber, kParamWave};
static_assert(XopParamOffset(kEpisode, 4, 2, 4) == 4 && XopParamOffset(kEpisode, 4, 1, 4) == 12 &&
                  XopParamOffset(kEpisode, 4, 0, 4) == 20 && XopResultOffset(kEpisode, 4, 0, 4) == 24 &&
                  XopBlockBytes(kEpisode, 4, 0, kParamNumber, 4) == 32,
              "32-bit EpisodeRead");
static_assert(XopParamOffset(kEpisode, 4, 2, 8) == 8 && XopParamOffset(kEpisode, 4, 1, 8) == 16 &&
                  XopParamOffset(kEpisode, 4, 0, 8) == 24 && XopResultOffset(kEpisode, 4, 0, 8) == 32 &&
                  XopBlockBytes(kEpisode, 4, 0, kParamNumber, 8) == 40,
              "64-bit EpisodeRead");
// A string result is a pointer.
static_assert(XopBlockBytes(kSdw, 1, 0, kParamString, 4) == 8 && XopBlockBytes(kSdw, 1, 0, kParamString, 8) == 16,
              "string results");
}  // namespace xop_block_examples

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

// Memory and query functions the host program exports (IGOR.exe, Igor64.exe;
// natively the xophost executable, resolved when the plug-in is loaded). Sizes are
// byte counts of pointer width.
KAV_HOST_API Handle NewHandle(BCInt size);
KAV_HOST_API void SetHandleSize(Handle h, BCInt size);
KAV_HOST_API BCInt GetHandleSize(Handle h);
KAV_HOST_API void DisposeHandle(Handle h);
KAV_HOST_API int PtrToHand(const void* src, Handle* dest, BCInt size);
KAV_HOST_API int MemError(void);
KAV_HOST_API void* GetIgorModule(void);      // HMODULE of the host program
KAV_HOST_API void* GetIgorClientHWND(void);  // HWND of the host's client window
