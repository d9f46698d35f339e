// A small plug-in for testing the host itself: it speaks the same interface as
// kav_Sorvan (entry point, message handler, message 15, parameter blocks, host
// messages and memory functions) and has functions that behave well and badly on
// purpose, so the host's audit, waves, history and layouts can be checked.
#include <cctype>
#include <cstdint>
#include <cstring>

#include "interface/host_abi.h"

#if KAV_WINDOWS
#define TP_EXPORT extern "C"
#else
#define TP_EXPORT extern "C" __attribute__((visibility("default")))
#endif

extern const unsigned char kXopf[];
extern const uint32_t kXopfSize;
extern const unsigned char kStrs[];
extern const uint32_t kStrsSize;

namespace {

IORecHandle gRecord = nullptr;

XopItem Send(int message, int count, const XopItem* items)
{
    Handle rec = reinterpret_cast<Handle>(gRecord);
    SetHandleSize(rec, static_cast<intptr_t>(sizeof(IORec)));
    if (MemError()) {
        SetHandleSize(rec, static_cast<intptr_t>(IORecSizeForItems(count)));
        if (MemError()) return -1;
    }
    IORec* r = *gRecord;
    r->itemCount = static_cast<int16_t>(count);
    for (int i = 0; i < count; ++i) r->items[i] = items[i];
    r->result = 0;
    r->message = static_cast<int16_t>(message);
    r->callback(gRecord);
    return (*gRecord)->result;
}
template <class... T>
XopItem Msg(int message, T... items)
{
    const XopItem list[] = {static_cast<XopItem>(items)...};
    return Send(message, static_cast<int>(sizeof...(items)), list);
}
template <class P>
XopItem It(P* p)
{
    return reinterpret_cast<XopItem>(p);
}

// Parameter blocks, laid out as the host packs them: last parameter first.
#pragma pack(push, 1)
struct StrToStr {
    Handle s;
    Handle result;
};
struct StrToNum {
    Handle s;
    double result;
};
struct LayoutParams {  // (string, number, number, number by reference)
    double* ref;
    double n2;
    double n1;
    Handle s;
    double result;
};
struct WaveNum {  // (wave, number)
    double n;
    waveHndl w;
    double result;
};
struct StrStrRef {  // (string, string by reference)
    Handle* ref;
    Handle s;
    double result;
};
struct NumToNum {
    double n;
    double result;
};
struct WaveStr {  // (wave, string)
    Handle s;
    waveHndl w;
    double result;
};
struct WaveOnly {
    waveHndl w;
    double result;
};
#pragma pack(pop)

int Echo(void* p)
{
    auto* b = static_cast<StrToStr*>(p);
    b->result = b->s;  // the input handle becomes the result
    return 0;
}

int Layout(void* p)
{
    auto* b = static_cast<LayoutParams*>(p);
    double len = b->s ? static_cast<double>(GetHandleSize(b->s)) : -1;
    if (b->ref) *b->ref = b->n1 - b->n2;
    b->result = b->n1 * 1000 + b->n2 + len * 1e6;
    if (b->s) DisposeHandle(b->s);
    return 0;
}

int Fill(void* p)
{
    auto* b = static_cast<WaveNum*>(p);
    b->result = 0;
    if (!b->w) return 10005;
    int type;
    CountInt points;
    char* data;
    int32_t dims = 0;
    // The record of this build's width (kWaveRecord), where the host offers it.
    if (*reinterpret_cast<int16_t*>(*b->w + kWaveRecDirect) == 1) {
        type = *reinterpret_cast<int16_t*>(*b->w + kWaveRecType);
        points = *reinterpret_cast<CountInt*>(*b->w + kWaveRecPoints);
        data = *b->w + kWaveRecData;
        for (int i = 0; i < 4 && reinterpret_cast<CountInt*>(*b->w + kWaveRecDimSizes)[i]; ++i) ++dims;
    } else {
        type = static_cast<int>(Msg(kMsgWaveType, It(b->w)));
        XopItem err = Msg(kMsgWaveDimensions, It(b->w), It(&dims), 0);
        if (err) return static_cast<int>(err);
        points = static_cast<CountInt>(Msg(kMsgWavePoints, It(b->w)));
        data = reinterpret_cast<char*>(Msg(kMsgWaveData, It(b->w)));
    }
    if (type != kWaveFloat32 && type != kWaveFloat64) return 10002;
    if (dims != 1) return 10006;
    for (CountInt i = 0; i < points; ++i) {
        if (type == kWaveFloat32)
            reinterpret_cast<float*>(data)[i] = static_cast<float>(b->n);
        else
            reinterpret_cast<double*>(data)[i] = b->n;
    }
    Msg(kMsgWaveModified, It(b->w));
    double step = 0.5, start = 2;
    Msg(kMsgSetWaveScaling, It(b->w), It(&step), It(&start), 0, 0);
    Msg(kMsgSetWaveUnits, It(b->w), It("s"), It("pA"));
    Handle note = nullptr;
    const char text[] = "sKey=value;";
    if (PtrToHand(text, &note, static_cast<intptr_t>(std::strlen(text)))) return 1;
    Msg(kMsgSetWaveNote, It(b->w), It(note));
    Msg(kMsgHistoryPrint, It("filled "));
    Msg(kMsgHistoryPrint, It("wave\n1\rdone\r"));
    b->result = static_cast<double>(points);
    return 0;
}

int Upper(void* p)
{
    auto* b = static_cast<StrStrRef*>(p);
    b->result = 0;
    if (!b->s) return 10001;
    intptr_t n = GetHandleSize(b->s);
    if (*b->ref == nullptr) {
        Handle h = NewHandle(n);
        if (!h) {
            DisposeHandle(b->s);
            return 1;
        }
        *b->ref = h;
    } else {
        SetHandleSize(*b->ref, n);
        if (MemError()) {
            DisposeHandle(b->s);
            return 1;
        }
    }
    for (intptr_t i = 0; i < n; ++i)
        (**b->ref)[i] = static_cast<char>(std::toupper(static_cast<unsigned char>((*b->s)[i])));
    DisposeHandle(b->s);
    b->result = static_cast<double>(n);
    return 0;
}

int Leak(void* p)
{
    static_cast<StrToNum*>(p)->result = 1;
    return 0;
}

int TwiceFree(void* p)
{
    auto* b = static_cast<StrToNum*>(p);
    DisposeHandle(b->s);
    DisposeHandle(b->s);
    b->result = 1;
    return 0;
}

int Grow(void* p)
{
    auto* b = static_cast<WaveNum*>(p);
    XopItem err = Msg(kMsgChangeWave, It(b->w), static_cast<XopItem>(b->n), static_cast<XopItem>(kWaveFloat64));
    b->result = static_cast<double>(err);
    if (err) return 0;
    auto* d = reinterpret_cast<double*>(Msg(kMsgWaveData, It(b->w)));
    for (int i = 0; i < static_cast<int>(b->n); ++i) d[i] = i;
    Msg(kMsgWaveModified, It(b->w));
    return 0;
}

int Status(void* p)
{
    auto* b = static_cast<NumToNum*>(p);
    b->result = -b->n;
    return static_cast<int>(b->n);
}

int Stale(void* p)
{
    auto* b = static_cast<StrToStr*>(p);
    DisposeHandle(b->s);
    b->result = b->s;  // a released handle handed back
    return 0;
}

// Keeps a pointer into the block across a shrinking resize and prints through
// it: fine while blocks stay put, a stale pointer when they move.
int StaleShrink(void* p)
{
    auto* b = static_cast<StrToNum*>(p);
    intptr_t n = GetHandleSize(b->s);
    SetHandleSize(b->s, n + 2);
    (*b->s)[n] = 0;
    char* text = *b->s;
    SetHandleSize(b->s, n + 1);
    Msg(kMsgHistoryPrint, It(text));
    DisposeHandle(b->s);
    b->result = static_cast<double>(n);
    return 0;
}

int Path(void* p)
{
    auto* b = static_cast<StrToStr*>(p);
    b->result = nullptr;
    if (!b->s) return 10001;
    intptr_t n = GetHandleSize(b->s);
    SetHandleSize(b->s, n + 2);
    if (MemError()) return 1;
    (*b->s)[n] = 0;
    (*b->s)[n + 1] = 0;
    Msg(kMsgNativePath, It(*b->s));
    SetHandleSize(b->s, static_cast<intptr_t>(std::strlen(*b->s)));
    b->result = b->s;
    return 0;
}

int Note(void* p)
{
    auto* b = static_cast<WaveStr*>(p);
    b->result = static_cast<double>(Msg(kMsgSetWaveNote, It(b->w), It(b->s)));
    return 0;  // the string handle went to the host with the note
}

int Dims(void* p)
{
    auto* b = static_cast<WaveOnly*>(p);
    int32_t dims = -1;
    XopItem err = Msg(kMsgWaveDimensions, It(b->w), It(&dims), 0);
    b->result = dims;
    return static_cast<int>(err);
}

const XopExternalFunction kFunctions[] = {Echo,   Layout, Fill,        Upper, Leak, TwiceFree, Grow,
                                          Status, Stale,  StaleShrink, Path,  Note, Dims,      nullptr};
constexpr int kCount = static_cast<int>(sizeof kFunctions / sizeof kFunctions[0]);

extern "C" void TestHandler(void)
{
    IORec* r = *gRecord;
    if (r->message == kMsgFunctionAddress) {
        XopItem index = r->itemCount > 0 ? r->items[0] : 0;
        r->result = index >= 0 && index < kCount ? reinterpret_cast<XopItem>(kFunctions[index]) : 0;
    } else {
        r->result = 0;
    }
}

}  // namespace

TP_EXPORT int TestPluginMain(IORecHandle record)
{
    gRecord = record;
    int32_t version = 0;
    XopItem answered = Msg(kMsgHostVersion, It(&version));
    (*gRecord)->entry = &TestHandler;
    bool ok = answered == 0 && version >= 5000;
    (*gRecord)->result = ok ? 0 : 163;
    return ok ? 0 : 1;
}

#if !KAV_WINDOWS
// Exported under the name "main", as the host looks it up.
TP_EXPORT int TestPluginEntry(IORecHandle record) __asm__("main");
int TestPluginEntry(IORecHandle record) { return TestPluginMain(record); }

TP_EXPORT const void* KavFindResource(const char* type, int id, uint32_t* size)
{
    if (id != 1100 || !type) return nullptr;
    if (std::strcmp(type, "XOPF") == 0) {
        if (size) *size = kXopfSize;
        return kXopf;
    }
    if (std::strcmp(type, "STR#") == 0) {
        if (size) *size = kStrsSize;
        return kStrs;
    }
    return nullptr;
}
#endif
