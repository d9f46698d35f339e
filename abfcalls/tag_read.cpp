// kav_AbfReadTimeTags and kav_AbfReadExternalTags: the times, in seconds, of the
// file's tags of one type, delivered into a wave made double precision.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "abf_library.h"
#include "core/header_values.h"
#include "frame/boundary.h"
#include "last_error.h"
#include "lib_file.h"
#include "reader_support.h"

namespace {

constexpr int kHostNeedNumericWave = 412;
constexpr int kHostNoComplexWave = 101;

struct TagRequest {
    int16_t selected;  // kAbfTimeTag or kAbfExternalTag
    waveHndl wave;
    double* result;
};

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

// Tag record i of the buffer the library filled, read field by field: the buffer
// holds 64-byte records, not aligned ABFTag objects.
ABFTag TagAt(const unsigned char* tags, int32_t i)
{
    ABFTag tag;
    std::memcpy(&tag, tags + static_cast<std::size_t>(i) * kAbfTagRecordBytes, sizeof tag);
    return tag;
}

// The selected tags' times into the wave: made double precision with one point per
// tag. Returns the status; true in *done when the wave holds them.
int StoreTagTimes(const unsigned char* tags, int32_t entries, double scale, const TagRequest& r, bool* done)
{
    int32_t n = 0;
    for (int32_t i = 0; i < entries; ++i)
        if (TagAt(tags, i).nTagType == r.selected) ++n;
    const int code = ChangeWave(r.wave, n, kWaveFloat64);
    if (code != 0) return code;
    if (n > 0) {
        auto* out = static_cast<double*>(WaveData(r.wave));
        if (!out) return kStatusOutOfMemory;
        int32_t k = 0;
        for (int32_t i = 0; i < entries && k < n; ++i) {
            const ABFTag tag = TagAt(tags, i);
            if (tag.nTagType == r.selected) out[k++] = static_cast<double>(tag.lTagTime) * scale;
        }
    }
    *done = true;
    return kStatusOk;
}

// The tag list of the open file into the wave; library failures are recorded.
int ReadTags(const LibFile& f, void* context)
{
    const TagRequest& r = *static_cast<const TagRequest*>(context);
    const int32_t entries = f.header->lNumTagEntries;
    int status = kStatusOk;
    bool done = entries <= 0;
    if (done) {
        ChangeWave(r.wave, 0, kWaveFloat64);
    } else {
        std::size_t bytes = 0;
        if (!AbfTagBufferBytes(entries, &bytes)) return kStatusOutOfMemory;
        auto* tags = static_cast<unsigned char*>(std::calloc(bytes, 1));
        if (!tags) return kStatusOutOfMemory;
        int32_t error = 0;
        if (LibReadTags(f.file, f.header, 0, reinterpret_cast<ABFTag*>(tags), static_cast<uint32_t>(entries), &error))
            status = StoreTagTimes(tags, entries, AbfTagTimeScale(*f.header), r, &done);
        else
            RecordAbfError(*f.name, error);
        std::free(tags);
    }
    if (done) {
        WaveModified(r.wave);
        *r.result = 1.0;
    }
    return status;
}

// The checks that need no file, then the read. (The two functions' blocks have
// the same fields.)
template <typename Block>
int ReadTagsOf(Block* p, int16_t selected)
{
    if (int status = RequireString(p->fileName)) return status;
    if (int status = CheckWaveAndName(p->wave, CheckTagWave, p->fileName)) return status;
    TagRequest r = {selected, p->wave, &p->result};
    return WithLibFile(p->fileName, ReadTags, &r);
}

int ReadTimeTags(ReadTimeTagsParams* p) { return ReadTagsOf(p, kAbfTimeTag); }
int ReadExternalTags(ReadExternalTagsParams* p) { return ReadTagsOf(p, kAbfExternalTag); }

}  // namespace

int kav_AbfReadTimeTags(void* params) { return RunFileFunction(params, ReadTimeTags); }

int kav_AbfReadExternalTags(void* params) { return RunFileFunction(params, ReadExternalTags); }
