// libFuzzer target: arbitrary bytes as an ABF file, opened from memory, then every
// query and read of the library on every episode and channel.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "interface/abffio.h"
#include "abffio/internal.h"

namespace {
constexpr uint32_t kMostSamplesRead = 1u << 22;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        // The file-type test alone.
        auto src = abffio::Source::FromMemory(data, size);
        int32_t format = -1;
        abffio::ProbeFile(*src, &format);
    }
    std::vector<uint8_t> block(kAbfLibraryRecordSize, 0);
    ABFFileHeader* h = reinterpret_cast<ABFFileHeader*>(block.data());
    int32_t handle = -1, error = 0;
    uint32_t samples = kAbfSampleLimit, episodes = 0;
    // The library's own record layout now and then, from one byte of the input.
    ABFTest_WriteLibraryRecord(size > 0 && (data[size - 1] & 1));
    const ABFBOOL ok = abffio::OpenFromMemory(data, size, &handle, h, &samples, &episodes, &error);
    ABFTest_WriteLibraryRecord(0);
    if (!ok) return 0;

    // Buffers exactly as large as the library says one read delivers, whatever the
    // input's size: a short or truncated file still promises its header's sweeps,
    // and the library's bounds must refuse what the bytes do not hold. Only a
    // header promising more than 4 M samples a read (16 MiB a buffer, which the
    // stimulus reader fills from the protocol alone) is opened and closed without
    // reads, to keep every execution cheap.
    if (samples > kMostSamplesRead) {
        ABF_Close(handle, &error);
        return 0;
    }
    std::vector<float> buf(samples ? samples : 1);
    ABF_HasData(handle, h);
    const uint32_t lastEpisode = episodes < 64 ? episodes + 1 : 64;
    for (uint32_t e = 0; e <= lastEpisode; ++e) {
        uint32_t n = 0;
        double d = 0;
        ABF_GetNumSamples(handle, h, e, &n, &error);
        ABF_GetEpisodeDuration(handle, h, e, &d, &error);
        for (int ch = -1; ch <= 16; ++ch) {
            ABF_GetStartTime(handle, h, ch, e, &d, &error);
            if (ABF_ReadChannel(handle, h, ch, e, buf.data(), &n, &error) && n > buf.size()) __builtin_trap();
            ABF_GetWaveform(handle, h, ch, e, buf.data(), &error);
        }
    }
    ABFTag tags[8];
    ABF_ReadTags(handle, h, 0, tags, 8, &error);
    ABF_ReadTags(handle, h, 1, tags, 1, &error);
    char text[64];
    ABF_BuildErrorText(error, "fuzz.abf", text, sizeof text);
    ABF_Close(handle, &error);
    return 0;
}
