// kav_AbfEpisodeRead and kav_AbfEpisodeWaveform: one channel of one episode, the
// sampled data or the stimulus waveform, on one road that differs in the data
// call, the units table and the note.
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
struct EpisodeParams {
    waveHndl wave;
    double episode;
    double channel;
    Handle fileName;
    double result;
};
#if KAV_WIN32
#pragma pack(pop)
static_assert(offsetof(EpisodeParams, episode) == 4 && offsetof(EpisodeParams, channel) == 12 &&
                  offsetof(EpisodeParams, fileName) == 20 && offsetof(EpisodeParams, result) == 24,
              "block layout");
#endif

enum class EpisodeData { Samples, Waveform };

AbfHeaderBlock episodeHeader;

struct Episode {
    Handle name;
    int32_t file;
    const ABFFileHeader* header;
    int32_t physical;
    uint32_t number;
    uint32_t samples;      // the episode sample count
    uint32_t sampleLimit;  // the most samples one read delivers
    waveHndl wave;
    int32_t waveType;
};

// Reads the sampled data (ordinal 210). Returns the status; *delivered is set
// when the wave holds the episode. A failing read is recorded.
int DeliverSamples(const Episode& e, bool* delivered)
{
    void* data = WaveData(e.wave);
    if (!data && e.samples) return kStatusOutOfMemory;
    int32_t error = 0;
    uint32_t count = 0;
    // An episode longer than one read delivers cannot be read whole: not read.
    if (e.sampleLimit < e.samples) return kStatusOk;
    if (e.waveType == kWaveFloat32 && e.sampleLimit == e.samples) {
        if (!AbfReadChannel(e.file, e.header, e.physical, e.number, static_cast<float*>(data), &count, &error)) {
            RecordAbfError(*e.name, error);
            return kStatusOk;
        }
        *delivered = true;
        return kStatusOk;
    }
    float* scratch = AllocScratch(e.sampleLimit);
    if (!scratch) return kStatusOutOfMemory;
    if (!AbfReadChannel(e.file, e.header, e.physical, e.number, scratch, &count, &error)) {
        RecordAbfError(*e.name, error);
        FreeScratch(scratch);
        return kStatusOk;
    }
    // Never past the wave's last point, whatever count the read reports.
    if (count > e.samples) count = e.samples;
    StoreSamples(data, e.waveType, 0, scratch, count);
    FreeScratch(scratch);
    *delivered = true;
    return kStatusOk;
}

// Computes the stimulus waveform (ordinal 250), which always fills the episode's
// sample count of values. Returns the status; *delivered as above.
int DeliverWaveform(const Episode& e, bool* delivered)
{
    void* data = WaveData(e.wave);
    if (!data && e.samples) return kStatusOutOfMemory;
    int32_t error = 0;
    if (e.waveType == kWaveFloat32) {
        if (!AbfGetWaveform(e.file, e.header, e.physical, e.number, static_cast<float*>(data), &error)) {
            RecordAbfError(*e.name, error);
            return kStatusOk;
        }
        *delivered = true;
        return kStatusOk;
    }
    // The waveform is as long as the episode, which may exceed one read.
    float* scratch = AllocScratch(e.samples > e.sampleLimit ? e.samples : e.sampleLimit);
    if (!scratch) return kStatusOutOfMemory;
    if (!AbfGetWaveform(e.file, e.header, e.physical, e.number, scratch, &error)) {
        RecordAbfError(*e.name, error);
        FreeScratch(scratch);
        return kStatusOk;
    }
    StoreSamples(data, e.waveType, 0, scratch, e.samples);
    FreeScratch(scratch);
    *delivered = true;
    return kStatusOk;
}

int ReadEpisode(void* params, EpisodeData what)
{
    auto* p = static_cast<EpisodeParams*>(params);
    p->result = 0.0;
    Handle name = p->fileName;
    if (!name) return kErrNullString;

    int32_t logical = 0;
    uint32_t number = 0;
    int status = kStatusOk;
    if (!AbfLogicalChannel(p->channel, &logical))
        status = kErrChannel;
    else if (!AbfNumberToUInt32(p->episode, &number))
        status = kErrEpisode;
    if (status != kStatusOk) {
        DisposeHandle(name);
        return status;
    }
    status = CheckWaveAndName(p->wave, CheckFloatWave, name);
    if (status != kStatusOk) return status;
    const int32_t waveType = WaveType(p->wave);

    int32_t file = -1;
    uint32_t sampleLimit = 0, episodes = 0;
    if (!AbfOpenRecorded(name, &episodeHeader, &file, &sampleLimit, &episodes)) {
        DisposeHandle(name);
        return kStatusOk;
    }
    const ABFFileHeader* header = &episodeHeader.header;
    const int32_t physical = AbfPhysicalChannel(*header, logical);
    char units[kAbfUnitsWidth + 1];
    if (what == EpisodeData::Samples)
        AbfAdcUnits(*header, physical, units);
    else
        AbfDacUnits(*header, physical, units);

    uint32_t samples = 0;
    double startTime = 0.0;
    double duration = 0.0;
    bool asked = false;
    int32_t error = 0;
    if (!AbfGetNumSamples(file, header, number, &samples, &error)) {
        RecordAbfError(*name, error);
    } else if (samples > 2147483647u) {
        status = kErrTooManySamples;
    } else if (WavePoints(p->wave) != static_cast<int32_t>(samples)) {
        status = kErrWaveLength;
    } else if (!AbfGetStartTime(file, header, physical, number, &startTime, &error) ||
               !AbfGetEpisodeDuration(file, header, number, &duration, &error)) {
        RecordAbfError(*name, error);
    } else {
        asked = true;
    }

    if (asked) {
        const double xStep = AbfXStep(*header);
        const Episode e = {name, file, header, physical, number, samples, sampleLimit, p->wave, waveType};
        bool delivered = false;
        status = what == EpisodeData::Samples ? DeliverSamples(e, &delivered) : DeliverWaveform(e, &delivered);
        if (delivered) {
            SetWaveAxes(p->wave, xStep, units);
            if (what == EpisodeData::Samples) {
                const AbfNoteInput note = {*name, header, logical, physical, true, startTime};
                AttachWaveNote(p->wave, note);
            }
            p->result = 1.0;
        }
    }
    AbfCloseRecorded(name, file);
    DisposeHandle(name);
    return status;
}

}  // namespace

int kav_AbfEpisodeRead(void* params) { return ReadEpisode(params, EpisodeData::Samples); }

int kav_AbfEpisodeWaveform(void* params) { return ReadEpisode(params, EpisodeData::Waveform); }
