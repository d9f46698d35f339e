// Scratch buffers and sample storing.
#include "samples.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {
constexpr uintptr_t kScratchAlignment = 16;
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

void StoreSamples(void* destination, int32_t destinationType, uint32_t at, const float* samples, uint32_t count)
{
    if (count == 0) return;
    if (destinationType == kWaveFloat32) {
        std::memcpy(static_cast<float*>(destination) + at, samples, static_cast<std::size_t>(count) * sizeof(float));
        return;
    }
    double* out = static_cast<double*>(destination) + at;
    for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<double>(samples[i]);
}
