// kav_AbfChannelRead: the whole recording of one channel of a gap-free file, read
// episode by episode through one scratch buffer and appended to the wave.
#include <cstddef>
#include <cstdint>

#include "abf_library.h"
#include "arguments.h"
#include "core/header_values.h"
#include "core/samples.h"
#include "frame/boundary.h"
#include "last_error.h"
#include "lib_file.h"
#include "reader_support.h"

namespace {

struct ChannelRead {
    int32_t logical;
    waveHndl wave;
    int32_t waveType;
    double* result;
};

// Reads every episode of the physical channel into the wave of `points` points.
// Returns the status and sets *complete when every read succeeded; a failing
// read is recorded. Points are counted in size_t: the wave of a 64-bit host may
// hold more than 2^32 of them.
int ReadAllEpisodes(const LibFile& f, int32_t physical, const ChannelRead& r, std::size_t points, bool* complete)
{
    *complete = false;
    void* data = WaveData(r.wave);
    if (!data && points) return kStatusOutOfMemory;
    float* scratch = AllocScratch(f.sampleLimit);
    if (!scratch) return kStatusOutOfMemory;
    const bool streamed = StreamedWave(r.waveType, points);
    std::size_t written = 0;
    for (uint32_t episode = 1; episode <= f.episodes; ++episode) {
        uint32_t delivered = 0;
        int32_t error = 0;
        if (!LibReadChannel(f.file, f.header, physical, episode, scratch, &delivered, &error)) {
            RecordAbfError(*f.name, error);
            FreeScratch(scratch);
            return kStatusOk;
        }
        if (delivered > f.sampleLimit) delivered = f.sampleLimit;
        // More samples than the wave has room for: the file disagrees with its
        // own length. The wave keeps what fits and the read is not complete.
        const std::size_t room = points - written;
        if (delivered > room) {
            StoreSamples(data, r.waveType, written, scratch, static_cast<uint32_t>(room), streamed);
            FreeScratch(scratch);
            return kStatusOk;
        }
        StoreSamples(data, r.waveType, written, scratch, delivered, streamed);
        written += delivered;
        if (episode == UINT32_MAX) break;
    }
    FreeScratch(scratch);
    *complete = f.episodes > 0;
    return kStatusOk;
}

int ReadChannel(const LibFile& f, void* context)
{
    const ChannelRead& r = *static_cast<const ChannelRead*>(context);
    const ABFFileHeader& h = *f.header;
    if (h.nOperationMode != kAbfGapFree) return kErrNotGapFree;
    // The wave holds exactly the channel's samples. A channel count that is not
    // positive leaves no channel to fill it (unlike kav_AbfTotalSampleCount, which
    // divides by a negative count as the header gives it).
    const CountInt points = WavePoints(r.wave);
    int64_t samples = 0;
    if (h.nADCNumChannels <= 0 || !AbfSamplesPerChannel(h, &samples) || points < 0 ||
        samples != static_cast<int64_t>(points))
        return kErrWaveLength;

    const int32_t physical = AbfPhysicalChannel(h, r.logical);
    char units[kAbfUnitsWidth + 1];
    AbfAdcUnits(h, physical, units);
    bool complete = false;
    const int status = ReadAllEpisodes(f, physical, r, static_cast<std::size_t>(points), &complete);
    if (complete) {
        SetWaveAxes(r.wave, AbfXStep(h), units);
        AttachWaveNote(r.wave, AbfNoteInput{*f.name, f.header, r.logical, physical, false, 0.0});
        *r.result = 1.0;
    }
    return status;
}

// The checks that need no file, in their order, then the read.
int ReadChannelOf(ChannelReadParams* p)
{
    if (int status = RequireString(p->fileName)) return status;
    ChannelRead r = {0, p->wave, 0, &p->result};
    if (!LogicalChannelOf(p->channel, &r.logical)) return kErrChannel;
    if (int status = CheckWaveAndName(p->wave, CheckFloatWave, p->fileName)) return status;
    r.waveType = WaveType(p->wave);
    return WithLibFile(p->fileName, ReadChannel, &r);
}

}  // namespace

int kav_AbfChannelRead(void* params) { return RunFileFunction(params, ReadChannelOf); }
