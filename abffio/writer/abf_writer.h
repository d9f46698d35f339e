// Writer of ABF recordings (ABF2, and ABF1 from version 1.6) for tests, demos and
// benchmarks. A RecordingSpec describes the file; WriteAbf streams it to disk in
// fixed-size chunks, so recordings far larger than memory can be written.
//
// Sample values come from a seeded synthetic signal (noise, steps, spikes, a
// sine), from explicit values, or from a raw float32 file. GenerateSamples gives
// the exact user-unit values the writer stores (before int16 quantisation), so
// tests can compare what a reader returns with what was written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abffio/format/abf_format.h"
#include "interface/abffio.h"

namespace abfw {

enum class Format { Abf2, Abf1 };

// nOperationMode.
enum class Mode : int16_t {
    VariableEvents = kAbfVariableLengthEvents,  // event-driven, variable-length sweeps
    FixedEvents = kAbfFixedLengthEvents,        // event-driven, fixed-length sweeps
    GapFree = kAbfGapFree,
    Oscilloscope = kAbfHighSpeedOscilloscope,
    Episodic = kAbfEpisodic,  // episodic stimulation
};

enum class DataFormat : int16_t { Int16 = 0, Float32 = 1 };

// Fixed text widths of the formats (the ABF1 header's; ABF2 strings longer than these
// would not fit the header record).
inline constexpr size_t kChannelNameWidth = abfformat::abf1::sADCChannelName.width;
inline constexpr size_t kUnitsWidth = abfformat::abf1::sADCUnits.width;
inline constexpr size_t kCreatorWidth = abfformat::abf1::sCreatorInfo.width;
inline constexpr size_t kProtocolPathWidth = abfformat::abf1::sProtocolPath.width;
inline constexpr size_t kCommentWidth = abfformat::abf1::sFileComment.width;
inline constexpr size_t kTagCommentWidth = abfformat::tag::sComment.width;
inline constexpr int kMaxChannels = 16;
inline constexpr int kMaxDacs = 8;                                    // ABF2 2.03 and later
inline constexpr int kEpochsPerDac = abfformat::abf1::kEpochsPerDac;  // the 10-epoch protocol

struct Channel {
    int16_t physical = 0;        // ADC number 0..15
    std::string name = "IN 0";   // at most 10 characters
    std::string units = "mV";    // at most 8 characters
    float scaleFactor = 0.01f;   // fInstrumentScaleFactor: volts per user unit
    float gain = 1.0f;           // fADCProgrammableGain
    float offset = 0.0f;         // fInstrumentOffset, user units
    bool telegraph = false;      // nTelegraphEnable
    float telegraphGain = 1.0f;  // fTelegraphAdditGain
    float lowpass = 5000.0f;     // fSignalLowpassFilter, Hz
    // Synthetic signal of this channel (user units).
    float baseline = 0.0f;
    float noise = 0.0f;          // standard deviation
    float stepAmplitude = 0.0f;  // response to the command steps (episodic) or square wave (other modes)
    float spikeAmplitude = 0.0f;
    float sineAmplitude = 0.0f;
    float sineHz = 0.0f;
};

// Epoch types: the file format's values (kEpochStep, ...).
using namespace abfformat::values;

struct Epoch {
    int16_t type = kEpochDisabled;
    float initLevel = 0.0f;
    float levelInc = 0.0f;
    int32_t initDuration = 0;  // per-channel samples
    int32_t durationInc = 0;
    int32_t pulsePeriod = 0;  // per-channel samples
    int32_t pulseWidth = 0;
    int16_t digitalValue = 0;  // digital outputs during the epoch (active DAC only)
};

struct Dac {
    std::string name;  // empty: "Cmd d" for DAC 0..3, "AO #d" above
    std::string units = "mV";
    float scaleFactor = 20.0f;  // fDACScaleFactor: user units per DAC volt
    float holding = 0.0f;       // fDACHoldingLevel
    bool waveformEnable = false;
    int16_t interEpisodeLevel = 0;  // 0 holding, 1 last epoch level
    Epoch epochs[kEpochsPerDac];
};

struct Tag {
    int32_t time = 0;     // synch-time counts from the start of the recording
    std::string comment;  // at most 56 characters
    int16_t type = 1;     // 0 time, 1 comment, 2 external, 3 voice, 4 new file, 5 annotation
    int16_t number = 0;   // voice-tag number / annotation index
};

// How a finished file is damaged afterwards (malformed inputs for readers).
// Offsets are relative to the start of the named section ("" = start of the file;
// "end" = end of the file; otherwise a name of Layout::sections).
struct Damage {
    bool truncate = false;
    std::string truncateSection;
    int64_t truncateAt = 0;  // the file keeps the bytes before section start + truncateAt
    // Raw overwrites applied after writing: little-endian value of 1, 2, 4 or 8 bytes.
    struct Patch {
        std::string section;
        int64_t offset;
        uint64_t value;
        int width;
    };
    std::vector<Patch> patches;
};

enum class SignalSource { Synthetic, Values, RawFile };

struct RecordingSpec {
    Format format = Format::Abf2;
    uint8_t versionMinor = 6;   // ABF2: 2.<minor> (bytes 0,0,minor,2)
    float abf1Version = 1.83f;  // ABF1 only: written as is (the header is 6144 bytes)
    Mode mode = Mode::GapFree;
    DataFormat dataFormat = DataFormat::Int16;
    std::vector<Channel> channels;      // sampling order; 1..16 entries
    float sequenceIntervalUs = 100.0f;  // fADCSequenceInterval: µs between samples of one channel
    float synchTimeUnit = 0.0f;         // µs per synch count; 0: counts are mux samples
    bool simultaneousScan = true;       // nSimultaneousScan: all channels sampled at once (no skew)

    // Amount of data. Gap-free: samplesPerChannel. Other modes: `episodes` sweeps of
    // samplesPerEpisode per-channel samples, or the lengths in episodeLengths when given.
    int64_t samplesPerChannel = 0;
    int32_t samplesPerEpisode = 0;
    int32_t episodes = 0;
    std::vector<int32_t> episodeLengths;   // per-channel samples of each sweep (event modes)
    std::vector<int64_t> episodeStarts;    // synch counts; empty: derived (see episodeStartToStartS)
    float episodeStartToStartS = 0.0f;     // fEpisodeStartToStart, s
    bool writeSynchArray = true;           // modes other than gap-free
    int32_t displaySamplesPerEpisode = 0;  // gap-free lNumSamplesPerEpisode (per channel); 0: automatic
    // Gap-free: the first `unwrittenSamples` per-channel samples are not written: the
    // writer seeks past them, so on file systems with sparse files they take no disk
    // space (and read as raw 0). The signal starts after them: two recordings that
    // differ only here end in the same samples. Files of gigabytes cost seconds.
    int64_t unwrittenSamples = 0;

    uint32_t startDate = 20240315;    // yyyymmdd
    uint32_t startTimeMS = 36000000;  // ms after midnight
    uint32_t stopwatchS = 0;
    std::string creator = "abfgen";
    uint8_t creatorVersion[4] = {1, 0, 0, 0};  // major, minor, bugfix, build
    std::string protocolPath;
    std::string comment;
    int16_t experimentType = 2;
    float adcRange = 10.0f;
    float dacRange = 10.0f;
    int32_t adcResolution = 32768;
    int32_t dacResolution = 32768;
    int16_t activeDac = 0;
    std::vector<Dac> dacs;  // DAC 0..n-1 (ABF2: up to 8; ABF1: 4, waveforms on 0..1)
    std::vector<Tag> tags;

    SignalSource source = SignalSource::Synthetic;
    uint64_t seed = 1;
    std::vector<float> values;  // SignalSource::Values: mux order, all sweeps back to back
    std::string rawPath;        // SignalSource::RawFile: float32 little-endian, mux order

    Damage damage;
};

// Layout of a written file, as the writer placed it (byte offsets).
struct SectionInfo {
    std::string name;
    int64_t offset = 0;  // byte offset, 0 when absent
    uint32_t entryBytes = 0;
    int64_t count = 0;
};
struct Layout {
    std::vector<SectionInfo> sections;
    int64_t fileSize = 0;
    int64_t muxSamples = 0;  // lActualAcqLength
};

// Where every section of the file goes, without writing anything.
bool PlanLayout(const RecordingSpec& rec, Layout* layout, std::string* error);
// Byte offset of a section ("" or "file": 0, "end": file size); -1 when absent.
int64_t SectionOffset(const Layout& layout, const std::string& name);

// Per-channel sample counts of each sweep (gap-free: one sweep of samplesPerChannel).
std::vector<int64_t> SweepLengths(const RecordingSpec& rec);
// Synch-array start counts of each sweep (empty for gap-free).
std::vector<int64_t> SweepStarts(const RecordingSpec& rec);
// Microseconds per synch count (fSynchTimeUnit, or the mux interval when that is 0).
double SynchCountUs(const RecordingSpec& rec);
// Synch count of a time in seconds from the start of the recording.
int32_t SecondsToCounts(const RecordingSpec& rec, double seconds);

// Checks the description; returns false with a message when it cannot be written.
bool Validate(const RecordingSpec& rec, std::string* error);

// User-unit values of per-channel samples [first, first+count) of the whole data
// stream (sweeps back to back), in mux order: out[k*nch + position].
bool GenerateSamples(const RecordingSpec& rec, int64_t first, int64_t count, float* out, std::string* error);

// Scaling of an int16 channel: value = raw * factor + offset.
float ScaleFactor(const RecordingSpec& rec, const Channel& ch);
// The stored int16 of a value: round((value - offset) / factor), clamped; NaN stores 0.
int16_t Quantise(const RecordingSpec& rec, const Channel& ch, float value);
int16_t QuantiseWith(float value, double inverseFactor, double offset);

// Writes the file (then applies rec.damage). On failure returns false with a
// message; a file this call had begun to write is removed again.
bool WriteAbf(const RecordingSpec& rec, const std::string& path, std::string* error, Layout* layout = nullptr);

// A realistic default recording: two-channel gap-free with a few tags.
RecordingSpec DefaultRecording();
// An episodic step-protocol recording (two channels, DAC 0 steps).
RecordingSpec StepProtocolRecording();

// Named presets: edge cases and malformed files for other tests.
struct PresetInfo {
    const char* name;
    const char* description;
    bool malformed;  // a reader must refuse it or fail on some call, cleanly
};
const std::vector<PresetInfo>& Presets();
bool MakePreset(const std::string& name, RecordingSpec* rec, std::string* error);

}  // namespace abfw
