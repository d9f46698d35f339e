// Scratch buffers and sample storing.
#include "samples.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

bool StreamedWave(int32_t type, std::size_t points)
{
    return type == kWaveFloat64 && static_cast<uint64_t>(points) * sizeof(double) >= kStreamedWaveBytes;
}

void StoreSamples(void* destination, int32_t destinationType, std::size_t at, const float* samples, uint32_t count,
                  bool streamed)
{
    if (count == 0) return;
    if (destinationType == kWaveFloat32) {
        std::memcpy(static_cast<float*>(destination) + at, samples, static_cast<std::size_t>(count) * sizeof(float));
        return;
    }
    double* out = static_cast<double*>(destination) + at;
#if defined(__SSE2__)
    if (streamed) {
        uint32_t i = 0;
        for (; i < count && (reinterpret_cast<uintptr_t>(out + i) & 15) != 0; ++i)
            out[i] = static_cast<double>(samples[i]);
        for (; i + 4 <= count; i += 4) {
            const __m128 v = _mm_loadu_ps(samples + i);
            _mm_stream_pd(out + i, _mm_cvtps_pd(v));
            _mm_stream_pd(out + i + 2, _mm_cvtps_pd(_mm_movehl_ps(v, v)));
        }
        _mm_sfence();
        for (; i < count; ++i) out[i] = static_cast<double>(samples[i]);
        return;
    }
#else
    (void)streamed;
#endif
    for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<double>(samples[i]);
}
