// Host services: messages to the host and string-handle conventions.
#include "host_services.h"

#include <cstring>

#include "xop.h"

namespace {

const char* RecordOf(waveHndl wave) { return *wave; }

int16_t RecordWord(waveHndl wave, std::size_t offset)
{
    int16_t v;
    std::memcpy(&v, RecordOf(wave) + offset, sizeof v);
    return v;
}

CountInt RecordCount(waveHndl wave, std::size_t offset)
{
    CountInt v;
    std::memcpy(&v, RecordOf(wave) + offset, sizeof v);
    return v;
}

// Sends a one-item wave query; false when the host could not be asked.
bool AskAboutWave(int message, waveHndl wave, XopItem* answer)
{
    XopItem item = ItemOf(wave);
    return CallHostSent(message, 1, &item, answer);
}

}  // namespace

bool WaveIsDirect(waveHndl wave)
{
    return kReadWaveRecords && wave && *wave && RecordWord(wave, kWaveRecDirect) == 1;
}

int32_t WaveType(waveHndl wave)
{
    if (WaveIsDirect(wave)) return RecordWord(wave, kWaveRecType);
    XopItem answer = 0;
    if (!AskAboutWave(kMsgWaveType, wave, &answer)) return -1;
    return static_cast<int32_t>(answer);
}

CountInt WavePoints(waveHndl wave)
{
    if (WaveIsDirect(wave)) return RecordCount(wave, kWaveRecPoints);
    XopItem answer = 0;
    if (!AskAboutWave(kMsgWavePoints, wave, &answer)) return -1;
    return static_cast<CountInt>(answer);
}

void* WaveData(waveHndl wave)
{
    if (WaveIsDirect(wave)) return *wave + kWaveRecData;
    XopItem answer = 0;
    if (!AskAboutWave(kMsgWaveData, wave, &answer)) return nullptr;
    return reinterpret_cast<void*>(answer);
}

int WaveDimensions(waveHndl wave, int32_t* count)
{
    if (WaveIsDirect(wave)) {
        int32_t n = 0;
        while (n < 4 && RecordCount(wave, kWaveRecDimSizes + sizeof(CountInt) * static_cast<std::size_t>(n)) != 0) ++n;
        if (count) *count = n;
        return 0;
    }
    XopItem items[3] = {ItemOf(wave), ItemOf(count), 0};
    XopItem answer = 0;
    if (!CallHostSent(kMsgWaveDimensions, 3, items, &answer)) return kStatusOutOfMemory;
    return static_cast<int>(answer);
}

int ChangeWave(waveHndl wave, CountInt points, int32_t type)
{
    XopItem items[3] = {ItemOf(wave), static_cast<XopItem>(points), type};
    XopItem answer = 0;
    if (!CallHostSent(kMsgChangeWave, 3, items, &answer)) return kStatusOutOfMemory;
    return static_cast<int>(answer);
}

void SetWaveScaling(waveHndl wave, double step, double start)
{
    CallHost(kMsgSetWaveScaling, {ItemOf(wave), ItemOf(&step), ItemOf(&start), 0, 0});
}

void SetWaveUnits(waveHndl wave, const char* xUnits, const char* dataUnits)
{
    CallHost(kMsgSetWaveUnits, {ItemOf(wave), ItemOf(xUnits), ItemOf(dataUnits)});
}

void SetWaveNote(waveHndl wave, Handle note) { CallHost(kMsgSetWaveNote, {ItemOf(wave), ItemOf(note)}); }

void WaveModified(waveHndl wave) { CallHost(kMsgWaveModified, {ItemOf(wave)}); }

void HistoryPrint(const char* text) { CallHost(kMsgHistoryPrint, {ItemOf(text)}); }

int HostNativePath(Handle path)
{
    if (!path) return kStatusOutOfMemory;
    std::size_t length = StringHandleLength(path);
    if (!ResizeHandle(path, length + 2)) return kStatusOutOfMemory;
    (*path)[length] = '\0';
    (*path)[length + 1] = '\0';
    CallHost(kMsgNativePath, {ItemOf(*path)});
    return kStatusOk;
}

bool ResizeHandle(Handle h, std::size_t size)
{
    const BCInt wanted = static_cast<BCInt>(size);
    SetHandleSize(h, wanted);
    return GetHandleSize(h) == wanted;
}

std::size_t StringHandleLength(Handle h)
{
    if (!h) return 0;
    BCInt size = GetHandleSize(h);
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

int TerminateStringHandle(Handle h)
{
    if (!h) return kStatusOutOfMemory;
    std::size_t length = StringHandleLength(h);
    if (!ResizeHandle(h, length + 1)) return kStatusOutOfMemory;
    (*h)[length] = '\0';
    return kStatusOk;
}

int SetStringVariable(Handle* variable, const char* text, std::size_t length)
{
    if (!variable) return kStatusOutOfMemory;
    Handle h = *variable;
    if (!h) {
        h = NewHandle(static_cast<BCInt>(length));
        if (!h) return kStatusOutOfMemory;
        *variable = h;
    } else if (!ResizeHandle(h, length)) {
        return kStatusOutOfMemory;
    }
    if (length) std::memcpy(*h, text, length);
    return kStatusOk;
}

std::size_t CopyStringHandle(Handle h, char* buf, std::size_t size)
{
    std::size_t length = StringHandleLength(h);
    if (!buf || size == 0) return length;
    std::size_t n = length < size - 1 ? length : size - 1;
    if (n) std::memcpy(buf, *h, n);
    buf[n] = '\0';
    return length;
}

int NewStringHandle(const char* text, std::size_t length, Handle* result)
{
    return PtrToHand(text, result, static_cast<BCInt>(length));
}
