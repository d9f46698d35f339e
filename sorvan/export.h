// The export of one recording: which waves it makes (with names, units, X step
// and notes), how their samples are read in blocks, and the writers, one per
// output format, that turn them into files.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "reader/recording.h"
#include "sorvan/output.h"

namespace sorvan {

using reader::Channel;
using reader::Recording;
using reader::Tag;

struct WaveSpec {
    enum Source { kChannel, kEpisode, kStimulus };
    Source source;
    int logical;
    uint32_t episode;  // kEpisode, kStimulus
    std::string name;
    std::string units;
    std::string note;  // empty: none (the stimulus has none)
    double xStep;
    uint64_t points;
};

// All waves of one recording's export, and what the writers share.
struct ExportJob {
    Recording* rec;
    std::string stem;    // the wave-name stem of the recording
    std::string folder;  // output folder
    bool asDouble;
    // NWB: the recording's offset from UTC when the user gave one (--utc-offset).
    bool utcOffsetGiven;
    int utcOffsetMinutes;
    // Per selected channel (logical order), its waves: the whole channel of a
    // gap-free recording, or one per selected episode.
    std::vector<std::vector<WaveSpec>> data;
    // Per channel that has a stimulus: one wave per selected episode.
    std::vector<std::vector<WaveSpec>> stimulus;
    // The tags: times (seconds) and comments, names of the two waves.
    std::vector<Tag> tags;
    std::string tagTimesName, tagTextName;

    Progress* progress;
    OutputGroup* group;
    std::set<std::string>* written;  // every output path of this run

    // Reads block `k` (of Blocks(w)) of a wave into `out` (room for MaxBlock()).
    // Advances the progress bar; false with *error on a library failure, a
    // count that disagrees with the header, or an interrupt.
    uint32_t Blocks(const WaveSpec& w) const;
    uint32_t MaxBlock() const;
    bool ReadBlock(const WaveSpec& w, uint32_t k, float* out, uint32_t* count, std::string* error);
    // Streams a whole wave: `sink` gets every block in order.
    template <typename Sink>
    bool Stream(const WaveSpec& w, std::vector<float>& buffer, std::string* error, Sink sink);

    // Calls fn(waves, kind) for each channel's waves, the data first (kind 'c'), then
    // the stimulus (kind 's'), until one call returns false; returns what the last
    // call returned (true when there is none).
    template <typename Fn>
    bool EachGroup(Fn fn) const
    {
        for (const auto& waves : data)
            if (!fn(waves, 'c')) return false;
        for (const auto& waves : stimulus)
            if (!fn(waves, 's')) return false;
        return true;
    }
    // The same for each wave of every group.
    template <typename Fn>
    bool EachWave(Fn fn) const
    {
        return EachGroup([&](const std::vector<WaveSpec>& waves, char) {
            for (const WaveSpec& w : waves)
                if (!fn(w)) return false;
            return true;
        });
    }

    // Creates an output file in the folder; refuses a path this run already wrote
    // (two inputs with the same name).
    bool Create(const std::string& fileName, OutputFile* file, std::string* error);
    // Closes the file and adds it to the group.
    bool Finish(OutputFile* file, std::string* error);
};

template <typename Sink>
bool ExportJob::Stream(const WaveSpec& w, std::vector<float>& buffer, std::string* error, Sink sink)
{
    buffer.resize(MaxBlock());
    uint64_t total = 0;
    const uint32_t blocks = Blocks(w);
    for (uint32_t k = 0; k < blocks; ++k) {
        uint32_t n = 0;
        if (!ReadBlock(w, k, buffer.data(), &n, error)) return false;
        total += n;
        if (total > w.points) break;
        if (!sink(buffer.data(), n)) {
            *error = "cannot write the output";
            return false;
        }
    }
    if (total != w.points) {
        *error = w.name + ": the library delivered " + std::to_string(total) + " samples where the header has " +
                 std::to_string(w.points);
        return false;
    }
    return true;
}

class Writer {
public:
    virtual ~Writer() = default;
    // Writes the job's files (into job.group); false with a one-line reason.
    virtual bool Write(ExportJob& job, std::string* error) = 0;
};

std::unique_ptr<Writer> MakeIbwWriter();
std::unique_ptr<Writer> MakeItxWriter();
std::unique_ptr<Writer> MakeCsvWriter();
std::unique_ptr<Writer> MakeNpyWriter();
#if defined(SORVAN_HAVE_NWB)
std::unique_ptr<Writer> MakeNwbWriter();
#endif

// Shortest decimal text that reads back as the same value; NaN and infinities
// as Igor writes them ("NaN", "INF", "-INF").
void AppendNumber(std::string* out, float value);
void AppendNumber(std::string* out, double value);

}  // namespace sorvan
