// kav_AbfChannelRead: the whole recording of one channel of a gap-free file, read
// episode by episode through one scratch buffer and appended to the wave.
#include <cstddef>
#include <cstdint>

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
struct ChannelReadParams {
    waveHndl wave;
    double channel;
    Handle fileName;
    double result;
};
#if KAV_WIN32
#pragma pack(pop)
static_assert(offsetof(ChannelReadParams, channel) == 4 && offsetof(ChannelReadParams, fileName) == 12 &&
                  offsetof(ChannelReadParams, result) == 16,
              "block layout");
#endif

constexpr int16_t kGapFree = 3;

AbfHeaderBlock channelHeader;

// Reads every episode of the physical channel into the wave. Returns the status
// and sets *complete when every read succeeded; a failing read is recorded.
int ReadAllEpisodes(Handle fileName, int32_t file, const ABFFileHeader* header, int32_t physical, uint32_t sampleLimit,
                    uint32_t episodes, waveHndl wave, int32_t waveType, uint32_t points, bool* complete)
{
    *complete = false;
    void* data = WaveData(wave);
    if (!data && points) return kStatusOutOfMemory;
    float* scratch = AllocScratch(sampleLimit);
    if (!scratch) return kStatusOutOfMemory;
    uint32_t written = 0;
    for (uint32_t episode = 1; episode <= episodes; ++episode) {
        uint32_t delivered = 0;
        int32_t error = 0;
        if (!AbfReadChannel(file, header, physical, episode, scratch, &delivered, &error)) {
            RecordAbfError(*fileName, error);
            FreeScratch(scratch);
            return kStatusOk;
        }
        if (delivered > sampleLimit) delivered = sampleLimit;
        // More samples than the wave has room for: the file disagrees with its
        // own length. The wave keeps what fits and the read is not complete.
        const uint32_t room = points - written;
        if (delivered > room) {
            StoreSamples(data, waveType, written, scratch, room);
            FreeScratch(scratch);
            return kStatusOk;
        }
        StoreSamples(data, waveType, written, scratch, delivered);
        written += delivered;
        if (episode == UINT32_MAX) break;
    }
    FreeScratch(scratch);
    *complete = episodes > 0;
    return kStatusOk;
}

}  // namespace

int kav_AbfChannelRead(void* params)
{
    auto* p = static_cast<ChannelReadParams*>(params);
    p->result = 0.0;
    Handle name = p->fileName;
    if (!name) return kErrNullString;

    int32_t logical = 0;
    if (!AbfLogicalChannel(p->channel, &logical)) {
        DisposeHandle(name);
        return kErrChannel;
    }
    int status = CheckWaveAndName(p->wave, CheckFloatWave, name);
    if (status != kStatusOk) return status;
    const int32_t waveType = WaveType(p->wave);

    int32_t file = -1;
    uint32_t sampleLimit = 0, episodes = 0;
    if (!AbfOpenRecorded(name, &channelHeader, &file, &sampleLimit, &episodes)) {
        DisposeHandle(name);
        return kStatusOk;
    }
    const ABFFileHeader* header = &channelHeader.header;
    int64_t channelPoints = 0;
    int32_t points = 0;
    if (header->nOperationMode != kGapFree) {
        status = kErrNotGapFree;
    } else {
        points = WavePoints(p->wave);
        if (!AbfChannelPoints(*header, &channelPoints) || points < 0 || channelPoints != points)
            status = kErrWaveLength;
    }
    if (status == kStatusOk) {
        const int32_t physical = AbfPhysicalChannel(*header, logical);
        char units[kAbfUnitsWidth + 1];
        AbfAdcUnits(*header, physical, units);
        const double xStep = AbfXStep(*header);
        bool complete = false;
        status = ReadAllEpisodes(name, file, header, physical, sampleLimit, episodes, p->wave, waveType,
                                 static_cast<uint32_t>(points), &complete);
        if (complete) {
            SetWaveAxes(p->wave, xStep, units);
            const AbfNoteInput note = {*name, header, logical, physical, false, 0.0};
            AttachWaveNote(p->wave, note);
            p->result = 1.0;
        }
    }
    AbfCloseRecorded(name, file);
    DisposeHandle(name);
    return status;
}
