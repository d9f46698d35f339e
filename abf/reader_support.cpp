// Shared pieces of the channel and episode readers.
#include "reader_support.h"

#include <cstdlib>
#include <cstring>

#include "frame/host_services.h"

namespace {
constexpr uintptr_t kScratchAlignment = 16;
}

int CheckFloatWave(waveHndl wave)
{
    const int32_t type = WaveType(wave);
    if (type != kWaveFloat32 && type != kWaveFloat64) return kErrNeedFloatWave;
    int32_t dimensions = 0;
    const int code = WaveDimensions(wave, &dimensions);
    if (code != 0) return code;
    if (dimensions != 1) return kErrNeed1DWave;
    return kStatusOk;
}

int CheckWaveAndName(waveHndl wave, int (*check)(waveHndl), Handle name)
{
    int status = wave ? check(wave) : kErrNoWave;
    if (status == kStatusOk) status = TerminateStringHandle(name);
    if (status != kStatusOk) DisposeHandle(name);
    return status;
}

// The block is over-allocated by the alignment plus one pointer; the pointer just
// below the aligned start keeps what malloc returned.
float* AllocScratch(uint32_t samples)
{
    const uint64_t bytes =
        static_cast<uint64_t>(samples ? samples : 1) * sizeof(float) + kScratchAlignment + sizeof(void*);
    if (bytes > static_cast<uint64_t>(PTRDIFF_MAX)) return nullptr;
    void* raw = std::malloc(static_cast<std::size_t>(bytes));
    if (!raw) return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(raw) + sizeof(void*);
    start = (start + kScratchAlignment - 1) & ~(kScratchAlignment - 1);
    std::memcpy(reinterpret_cast<void*>(start - sizeof(void*)), &raw, sizeof raw);
    return reinterpret_cast<float*>(start);
}

void FreeScratch(float* buffer)
{
    if (!buffer) return;
    void* raw = nullptr;
    std::memcpy(&raw, reinterpret_cast<char*>(buffer) - sizeof(void*), sizeof raw);
    std::free(raw);
}

void StoreSamples(void* waveData, int32_t waveType, uint32_t at, const float* samples, uint32_t count)
{
    if (count == 0) return;
    if (waveType == kWaveFloat32) {
        std::memcpy(static_cast<float*>(waveData) + at, samples, static_cast<std::size_t>(count) * sizeof(float));
        return;
    }
    double* out = static_cast<double*>(waveData) + at;
    for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<double>(samples[i]);
}

void SetWaveAxes(waveHndl wave, double xStep, const char* dataUnits)
{
    SetWaveScaling(wave, xStep, 0.0);
    SetWaveUnits(wave, "s", dataUnits);
    WaveModified(wave);
}

// The note starts in a handle of the base size; a longer note (a file name of
// thousands of characters) gets a handle of its own length rather than being cut.
bool AttachWaveNote(waveHndl wave, const AbfNoteInput& note)
{
    Handle h = NewHandle(static_cast<intptr_t>(kAbfNoteHandleSize));
    if (!h) return false;
    std::size_t length = AbfFormatWaveNote(note, *h, kAbfNoteHandleSize);
    if (length >= kAbfNoteHandleSize) {
        const intptr_t grown = static_cast<intptr_t>(length + 1);
        SetHandleSize(h, grown);
        if (GetHandleSize(h) != grown) {
            DisposeHandle(h);
            return false;
        }
        length = AbfFormatWaveNote(note, *h, length + 1);
    }
    SetHandleSize(h, static_cast<intptr_t>(length));
    if (GetHandleSize(h) != static_cast<intptr_t>(length)) {
        DisposeHandle(h);
        return false;
    }
    SetWaveNote(wave, h);
    return true;
}
