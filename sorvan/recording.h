// One ABF recording opened through the ABF library, as sorvan sees it: channels
// with names and units, episodes, samples, the stimulus, tags, the header
// catalogue and the wave note, all derived exactly as the plug-in derives them.
//
// recording.cpp is the only file of sorvan that uses the plug-in's header rules
// (the wave note, units, names, X step, the header catalogue); everything else
// goes through this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sorvan {

struct Channel {
    int logical;           // position in the sampling sequence, what the user names
    int physical;          // the ADC channel the library reads
    std::string name;      // sADCChannelName, trimmed
    std::string units;     // sADCUnits, trimmed
    std::string dacUnits;  // units of the stimulus the plug-in reads for this channel
};

struct Tag {
    double seconds;  // tag time in seconds, as the plug-in's tag readers compute it
    int type;        // 0 time, 1 comment, 2 external, 3 voice, 4 new file, 5 annotation
    std::string comment;
};

// One item of the header catalogue, in catalogue order: a key and its value as
// the plug-in's key=value string shows it, and the parts of a list.
struct HeaderField {
    enum Kind { kNumber, kText, kNumberList, kTextList };
    std::string key;
    std::string value;  // exactly the text between "key=" and ";"
    Kind kind;
    std::vector<std::string> elements;  // lists: the values one by one
};

class Recording {
public:
    Recording();
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Opens the file (the name goes to the library as given, and into the wave
    // notes). False with Error() set when the library refuses it.
    bool Open(const std::string& path);
    // The library's text for its last failure on this file, or sorvan's own.
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

    int Mode() const;  // nOperationMode
    static const char* ModeName(int mode);
    bool GapFree() const { return Mode() == 3; }
    double FileVersion() const;
    bool FloatData() const;  // samples stored as float32 (else int16)
    const std::vector<Channel>& Channels() const { return channels_; }
    uint32_t Episodes() const { return episodes_; }  // the library's reads
    uint32_t SampleLimit() const { return sampleLimit_; }
    double XStep() const;  // seconds between two samples of one channel
    // Samples of one channel of a gap-free recording (from the header).
    bool ChannelPoints(int64_t* points) const;
    uint32_t StartDate() const;  // yyyymmdd
    uint32_t StartTimeMs() const;
    std::string Protocol() const;
    std::string Creator() const;
    std::string Comment() const;

    // Per episode (from 1): its samples per channel, start (ms) and length (ms).
    bool EpisodeSamples(uint32_t episode, uint32_t* samples);
    bool EpisodeStart(int logical, uint32_t episode, double* ms);
    bool EpisodeDuration(uint32_t episode, double* ms);

    // Reads one channel of one episode into `out` (room for SampleLimit()).
    bool Read(int logical, uint32_t episode, float* out, uint32_t* count);
    // The stimulus of one channel and episode into `out` (room for the larger of
    // the episode's samples and SampleLimit()).
    bool ReadStimulus(int logical, uint32_t episode, float* out);

    // The note the plug-in attaches to a channel read (no start time) or an
    // episode read (with the episode's start time).
    std::string Note(int logical, bool withStart, double startTime) const;

    bool Tags(std::vector<Tag>* tags);
    static const char* TagTypeName(int type);

    std::string HeaderString() const;
    std::vector<HeaderField> HeaderFields() const;

private:
    bool Fail(int32_t error);
    const Channel* Find(int logical) const;
    int32_t Physical(int logical) const;

    struct Block;
    std::unique_ptr<Block> block_;
    std::string path_;
    std::string error_;
    int32_t file_ = -1;
    bool open_ = false;
    uint32_t sampleLimit_ = 0;
    uint32_t episodes_ = 0;
    std::vector<Channel> channels_;
};

}  // namespace sorvan
