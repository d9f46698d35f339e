// kav_AbfReadTimeTags and kav_AbfReadExternalTags: the times, in seconds, of the
// file's tags of one type, delivered into a wave made double precision.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "abf_library.h"
#include "interface/host_abi.h"
#include "frame/host_services.h"
#include "last_error.h"
#include "reader_rules.h"
#include "reader_support.h"
#include "readers.h"

namespace {

#if KAV_WIN32
#pragma pack(push, 2)
#endif
struct TagParams {
    waveHndl wave;
    Handle fileName;
    double result;
};
#if KAV_WIN32
#pragma pack(pop)
static_assert(offsetof(TagParams, fileName) == 4 && offsetof(TagParams, result) == 8, "block layout");
#endif

constexpr int kHostNeedNumericWave = 412;
constexpr int kHostNoComplexWave = 101;
// Where a tag record keeps its time and its type.
constexpr std::size_t kTagTimeOffset = 0;
constexpr std::size_t kTagTypeOffset = 60;

AbfHeaderBlock tagHeader;

int CheckTagWave(waveHndl wave)
{
    const int32_t type = WaveType(wave);
    if (type < 0) return kStatusOutOfMemory;  // the host could not be asked
    if (type == kWaveText) return kHostNeedNumericWave;
    if (type & kWaveComplex) return kHostNoComplexWave;
    int32_t dimensions = 0;
    const int code = WaveDimensions(wave, &dimensions);
    if (code != 0) return code;
    if (dimensions != 1) return kErrNeed1DWave;
    return kStatusOk;
}

int16_t TagType(const unsigned char* record)
{
    int16_t type;
    std::memcpy(&type, record + kTagTypeOffset, sizeof type);
    return type;
}

int32_t TagTime(const unsigned char* record)
{
    int32_t time;
    std::memcpy(&time, record + kTagTimeOffset, sizeof time);
    return time;
}

// The tag list of the open file into the wave. Returns the status and sets
// *result; library failures are recorded.
int DeliverTags(Handle name, int32_t file, const ABFFileHeader* header, int16_t selected, waveHndl wave, double* result)
{
    const double scale = AbfTagTimeScale(*header);
    const int32_t entries = header->lNumTagEntries;
    if (entries <= 0) {
        ChangeWave(wave, 0, kWaveFloat64);
        WaveModified(wave);
        *result = 1.0;
        return kStatusOk;
    }
    std::size_t bytes = 0;
    if (!AbfTagBufferBytes(entries, &bytes)) return kStatusOutOfMemory;
    auto* tags = static_cast<unsigned char*>(std::calloc(bytes, 1));
    if (!tags) return kStatusOutOfMemory;
    int32_t error = 0;
    if (!AbfReadTags(file, header, 0, reinterpret_cast<ABFTag*>(tags), static_cast<uint32_t>(entries), &error)) {
        std::free(tags);
        RecordAbfError(*name, error);
        return kStatusOk;
    }
    int32_t n = 0;
    for (int32_t i = 0; i < entries; ++i)
        if (TagType(tags + static_cast<std::size_t>(i) * kAbfTagRecordBytes) == selected) ++n;
    const int code = ChangeWave(wave, n, kWaveFloat64);
    if (code != 0) {
        std::free(tags);
        return code;
    }
    if (n > 0) {
        auto* out = static_cast<double*>(WaveData(wave));
        if (!out) {
            std::free(tags);
            return kStatusOutOfMemory;
        }
        int32_t k = 0;
        for (int32_t i = 0; i < entries && k < n; ++i) {
            const unsigned char* record = tags + static_cast<std::size_t>(i) * kAbfTagRecordBytes;
            if (TagType(record) == selected) out[k++] = static_cast<double>(TagTime(record)) * scale;
        }
    }
    WaveModified(wave);
    *result = 1.0;
    std::free(tags);
    return kStatusOk;
}

int ReadTags(void* params, int16_t selected)
{
    auto* p = static_cast<TagParams*>(params);
    p->result = 0.0;
    Handle name = p->fileName;
    if (!name) return kErrNullString;
    int status = CheckWaveAndName(p->wave, CheckTagWave, name);
    if (status != kStatusOk) return status;

    int32_t file = -1;
    uint32_t sampleLimit = 0, episodes = 0;
    if (!AbfOpenRecorded(name, &tagHeader, &file, &sampleLimit, &episodes)) {
        DisposeHandle(name);
        return kStatusOk;
    }
    status = DeliverTags(name, file, &tagHeader.header, selected, p->wave, &p->result);
    AbfCloseRecorded(name, file);
    DisposeHandle(name);
    return status;
}

}  // namespace

int kav_AbfReadTimeTags(void* params) { return ReadTags(params, kAbfTimeTag); }

int kav_AbfReadExternalTags(void* params) { return ReadTags(params, kAbfExternalTag); }
