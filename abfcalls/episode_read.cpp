// kav_AbfEpisodeRead and kav_AbfEpisodeWaveform: one channel of one episode, the
// sampled data or the stimulus waveform, on one road that differs in the data
// call, the units table and the note.
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

enum class EpisodeData { Samples, Waveform };

struct EpisodeRequest {
    EpisodeData what;
    int32_t logical;
    uint32_t number;
    waveHndl wave;
    int32_t waveType;
    double* result;
};

struct Episode {
    const LibFile* f;
    int32_t physical;
    uint32_t number;
    uint32_t samples;  // the episode sample count
    waveHndl wave;
    int32_t waveType;
};

// Delivers the episode's data into the wave: the sampled data (ordinal 210) or
// the stimulus waveform (ordinal 250). Returns the status; *delivered is set when
// the wave holds the episode. A failing read is recorded.
int Deliver(const Episode& e, EpisodeData what, bool* delivered)
{
    const LibFile& f = *e.f;
    void* data = WaveData(e.wave);
    if (!data && e.samples) return kStatusOutOfMemory;
    const bool sampled = what == EpisodeData::Samples;
    // An episode longer than one read delivers cannot be read whole: not read. The
    // waveform is computed whole, however long the episode.
    if (sampled && f.sampleLimit < e.samples) return kStatusOk;
    // Straight into a single-precision wave when the call fills exactly its points
    // (a read delivers up to the sample limit); otherwise through a scratch buffer.
    const bool direct = e.waveType == kWaveFloat32 && (!sampled || f.sampleLimit == e.samples);
    float* scratch = nullptr;
    if (!direct) {
        scratch = AllocScratch(sampled || e.samples <= f.sampleLimit ? f.sampleLimit : e.samples);
        if (!scratch) return kStatusOutOfMemory;
    }
    float* into = direct ? static_cast<float*>(data) : scratch;
    // The waveform always fills the episode's sample count; a read says how many.
    uint32_t count = sampled ? 0 : e.samples;
    int32_t error = 0;
    const bool done = sampled ? LibReadChannel(f.file, f.header, e.physical, e.number, into, &count, &error) != 0
                              : LibGetWaveform(f.file, f.header, e.physical, e.number, into, &error) != 0;
    if (!done)
        RecordAbfError(*f.name, error);
    else if (!direct)  // never past the wave's last point, whatever count the read reports
        StoreSamples(data, e.waveType, 0, scratch, count < e.samples ? count : e.samples);
    FreeScratch(scratch);
    *delivered = done;
    return kStatusOk;
}

int ReadEpisode(const LibFile& f, void* context)
{
    const EpisodeRequest& r = *static_cast<const EpisodeRequest*>(context);
    const ABFFileHeader& h = *f.header;
    const int32_t physical = AbfPhysicalChannel(h, r.logical);
    char units[kAbfUnitsWidth + 1];
    if (r.what == EpisodeData::Samples)
        AbfAdcUnits(h, physical, units);
    else
        AbfDacUnits(h, physical, units);

    uint32_t samples = 0;
    double startTime = 0.0;
    double duration = 0.0;
    int32_t error = 0;
    if (!LibGetNumSamples(f.file, f.header, r.number, &samples, &error)) {
        RecordAbfError(*f.name, error);
        return kStatusOk;
    }
    if (!WaveCanHold(samples)) return kErrTooManySamples;
    if (WavePoints(r.wave) != static_cast<CountInt>(samples)) return kErrWaveLength;
    if (!LibGetStartTime(f.file, f.header, physical, r.number, &startTime, &error) ||
        !LibGetEpisodeDuration(f.file, f.header, r.number, &duration, &error)) {
        RecordAbfError(*f.name, error);
        return kStatusOk;
    }

    const Episode e = {&f, physical, r.number, samples, r.wave, r.waveType};
    bool delivered = false;
    const int status = Deliver(e, r.what, &delivered);
    if (delivered) {
        SetWaveAxes(r.wave, AbfXStep(h), units);
        if (r.what == EpisodeData::Samples)
            AttachWaveNote(r.wave, AbfNoteInput{*f.name, f.header, r.logical, physical, true, startTime});
        *r.result = 1.0;
    }
    return status;
}

// The checks that need no file, in their order, then the read. (The two
// functions' blocks have the same fields.)
template <typename Block>
int ReadEpisodeOf(Block* p, EpisodeData what)
{
    if (int status = RequireString(p->fileName)) return status;
    EpisodeRequest r = {what, 0, 0, p->wave, 0, &p->result};
    if (!LogicalChannelOf(p->channel, &r.logical)) return kErrChannel;
    if (!RoundToUInt32(p->episode, &r.number)) return kErrEpisode;
    if (int status = CheckWaveAndName(p->wave, CheckFloatWave, p->fileName)) return status;
    r.waveType = WaveType(p->wave);
    return WithLibFile(p->fileName, ReadEpisode, &r);
}

int ReadSamples(EpisodeReadParams* p) { return ReadEpisodeOf(p, EpisodeData::Samples); }
int ReadWaveform(EpisodeWaveformParams* p) { return ReadEpisodeOf(p, EpisodeData::Waveform); }

}  // namespace

int kav_AbfEpisodeRead(void* params) { return RunFileFunction(params, ReadSamples); }

int kav_AbfEpisodeWaveform(void* params) { return RunFileFunction(params, ReadWaveform); }
