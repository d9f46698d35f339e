// One ABF recording opened through the ABF library the plug-in's way: the header
// block it prepares, the same open, and names, units, the X step, the wave note,
// the tag time scale and the header catalogue from the plug-in's pure core, so
// that what a program shows of a recording is what the plug-in's waves say.
//
// The one reader of the programs that are not the plug-in (sorvan, the Python
// module, the exporters): every sample they show comes through Read or
// ReadRange, and these read into the caller's memory.
//
// A Recording is used by one thread at a time; distinct Recordings may be used
// from distinct threads at once (the library is safe for that).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "interface/abffio.h"

namespace reader {

struct Channel {
    int logical;           // position in the sampling sequence, what the user names
    int physical;          // the ADC channel the library reads
    std::string name;      // sADCChannelName, trimmed
    std::string units;     // sADCUnits, trimmed
    std::string dacUnits;  // units of the stimulus the plug-in reads for this channel
};

// How a channel's samples came to be (from the header; the NWB export's gain,
// resolution and filter). A channel outside the header's 16-entry tables has
// zeros.
struct InputScaling {
    // Volts at the digitizer per unit of the channel: fInstrumentScaleFactor x
    // fADCProgrammableGain, x fSignalGain where signal conditioning is on, x
    // fTelegraphAdditGain where the channel's telegraph is; 0 when that is 0.
    double gain;
    // Channel units of one digitizer step, the factor the library scales int16
    // samples with (fADCRange / gain / lADCResolution, its fallbacks included);
    // 0 for float32 samples, which are stored in the channel's units.
    double step;
    // The telegraphed low-pass filter in Hz; 0 where the telegraph is off.
    double filter;
};

struct Tag {
    double seconds;  // tag time in seconds, as the plug-in's tag readers compute it
    int type;        // an AbfTagType: kAbfTimeTag, kAbfCommentTag, kAbfExternalTag, ...
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
    // notes). False with Error() set when the library refuses it. A Recording
    // opens one file once.
    bool Open(const std::string& path);
    // Closes the file; nothing but the header values and Path() may be asked
    // afterwards. False with Error() set when the library's close fails.
    bool Close();
    bool IsOpen() const { return open_; }

    // The last failure: the library's text for its error number, or the reader's
    // own text with ErrorNumber() 0 (a request the recording cannot answer).
    const std::string& Error() const { return error_; }
    int32_t ErrorNumber() const { return errorNumber_; }
    const std::string& Path() const { return path_; }

    int Mode() const;  // nOperationMode, an AbfOperationMode
    static const char* ModeName(int mode);
    bool GapFree() const { return Mode() == kAbfGapFree; }
    bool VariableLengthEvents() const { return Mode() == kAbfVariableLengthEvents; }
    double FileVersion() const;
    bool FloatData() const;  // samples stored as float32 (else int16)
    const std::vector<Channel>& Channels() const { return channels_; }
    uint32_t Episodes() const { return episodes_; }  // the library's reads
    uint32_t SampleLimit() const { return sampleLimit_; }
    double XStep() const;  // seconds between two samples of one channel
    // Samples of one channel of a gap-free recording (from the header).
    bool ChannelPoints(int64_t* points) const;
    InputScaling Scaling(int logical) const;
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
    // Samples [start, start + count) of a channel of a gap-free recording, the
    // record that kav_AbfChannelRead delivers, into `out` (room for `count`):
    // only the library's reads that hold them are made, whole ones straight into
    // `out`. Double precision receives the same values widened. False for a range
    // outside the channel (ChannelPoints) and for a recording not gap-free.
    bool ReadRange(int logical, int64_t start, int64_t count, float* out);
    bool ReadRange(int logical, int64_t start, int64_t count, double* out);
    // Room ReadStimulus needs for an episode: the larger of its samples and the
    // sample limit (the library computes the protocol's whole sweep).
    bool StimulusRoom(uint32_t episode, uint32_t* samples);
    // The stimulus of one channel and episode into `out` (room for StimulusRoom).
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
    bool Refuse(const std::string& text);
    bool Closed();
    bool Miscounted(uint32_t episode, uint32_t delivered, int64_t counted);
    const Channel* Find(int logical) const;
    int32_t Physical(int logical) const;
    bool EpisodeOffsets();
    template <typename T>
    bool ReadRangeOf(int logical, int64_t start, int64_t count, T* out);

    struct Block;
    std::unique_ptr<Block> block_;
    std::string path_;
    std::string error_;
    int32_t errorNumber_ = 0;
    int32_t file_ = -1;
    bool open_ = false;
    uint32_t sampleLimit_ = 0;
    uint32_t episodes_ = 0;
    std::vector<Channel> channels_;
    // Where each library read starts in the continuous record of a channel, and
    // the record's end (Episodes() + 1 entries; made by the first ReadRange).
    std::vector<int64_t> offsets_;
    std::vector<float> scratch_;
};

}  // namespace reader
