// Ready-made recordings: the realistic defaults, edge cases and malformed files.
#include <cstdio>
#include <functional>

#include "abf_writer.h"

namespace abfw {
namespace {

Channel Current(int16_t physical, const std::string& name)
{
    Channel c;
    c.physical = physical;
    c.name = name;
    c.units = "pA";
    c.scaleFactor = 0.0005f;  // 0.5 mV/pA headstage
    c.baseline = -25.0f;
    c.noise = 4.0f;
    c.spikeAmplitude = -150.0f;
    return c;
}

Channel Voltage(int16_t physical, const std::string& name)
{
    Channel c;
    c.physical = physical;
    c.name = name;
    c.units = "mV";
    c.scaleFactor = 0.01f;  // 10 mV/mV output gain
    c.baseline = -65.0f;
    c.noise = 0.3f;
    c.stepAmplitude = 8.0f;
    c.sineAmplitude = 2.0f;
    c.sineHz = 5.0f;
    return c;
}

Dac StepDac(float holding)
{
    Dac d;
    d.units = "mV";
    d.holding = holding;
    return d;
}

// Sets a DAC epoch.
void SetEpoch(Dac* dac, int index, int16_t type, float level, float levelInc, int32_t duration, int32_t durationInc = 0,
              int32_t period = 0, int32_t width = 0)
{
    Epoch& e = dac->epochs[index];
    e.type = type;
    e.initLevel = level;
    e.levelInc = levelInc;
    e.initDuration = duration;
    e.durationInc = durationInc;
    e.pulsePeriod = period;
    e.pulseWidth = width;
}

void AddTag(RecordingSpec* rec, double seconds, int16_t type, const std::string& comment, int16_t number = 0)
{
    Tag t;
    t.time = SecondsToCounts(*rec, seconds);
    t.type = type;
    t.comment = comment;
    t.number = number;
    rec->tags.push_back(t);
}

std::string Numbered(const char* format, int i)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, i);
    return buf;
}

RecordingSpec EventRecording(Mode mode)
{
    RecordingSpec r;
    r.mode = mode;
    r.channels = {Current(0, "IN 0")};
    r.sequenceIntervalUs = 100.0f;
    if (mode == Mode::VariableEvents)
        r.episodeLengths = {3540, 16040, 70040, 100, 16384, 16385};
    else {
        r.samplesPerEpisode = 2000;
        r.episodes = 8;
    }
    r.protocolPath = "C:\\Protocols\\events.pro";
    return r;
}

// Five short episodic sweeps 0.3 s apart, synch counts of `unitUs` (0: samples), and a
// tag between two sweeps.
RecordingSpec SpacedSweeps(float unitUs)
{
    RecordingSpec r = StepProtocolRecording();
    r.synchTimeUnit = unitUs;
    r.samplesPerEpisode = 2000;
    r.episodes = 5;
    r.episodeStartToStartS = 0.3f;
    SetEpoch(&r.dacs[0], 1, kEpochStep, -60.0f, 10.0f, 1000);
    r.tags.clear();
    AddTag(&r, 0.65, 0, "between sweeps");
    return r;
}

// Patch of `width` bytes at `offset` within `section`.
void Patch(RecordingSpec* r, const std::string& section, int64_t offset, uint64_t value, int width)
{
    r->damage.patches.push_back(Damage::Patch{section, offset, value, width});
}

void Truncate(RecordingSpec* r, const std::string& section, int64_t at)
{
    r->damage.truncate = true;
    r->damage.truncateSection = section;
    r->damage.truncateAt = at;
}

// Base of the malformed ABF2 variants: an episodic file with every section present.
RecordingSpec MalformedBase()
{
    RecordingSpec r = StepProtocolRecording();
    r.episodes = 4;
    return r;
}

RecordingSpec Abf1Base()
{
    RecordingSpec r = DefaultRecording();
    r.format = Format::Abf1;
    return r;
}

namespace v1 = abfformat::abf1;
namespace v2 = abfformat::abf2;

// The block index and the entry count of section i in the ABF2 section map.
constexpr int64_t MapBlock(v2::Section i) { return v2::SectionEntryOffset(i) + v2::section::uBlockIndex.offset; }
constexpr int64_t MapCount(v2::Section i) { return v2::SectionEntryOffset(i) + v2::section::llNumEntries.offset; }

RecordingSpec Abf1Episodic()
{
    RecordingSpec r = StepProtocolRecording();
    r.format = Format::Abf1;
    return r;
}

// Three fixed-length events.
RecordingSpec ThreeFixedEvents()
{
    RecordingSpec r = EventRecording(Mode::FixedEvents);
    r.episodes = 3;
    r.episodeStarts = {0, 5000, 9000};
    return r;
}

// Variable-length events whose starts go backwards.
RecordingSpec DecreasingEvents()
{
    RecordingSpec r = EventRecording(Mode::VariableEvents);
    r.episodeLengths = {1000, 1000, 1000};
    r.episodeStarts = {50000, 10000, 90000};
    return r;
}

// A strings section announcing 2^31-1 strings in its own header too.
void AbsurdStringHeader(RecordingSpec* r)
{
    Patch(r, "Strings", v2::strings::uNumStrings.offset, 0x7FFFFFFF, 4);
    Patch(r, "Strings", v2::strings::lTotalBytes.offset, 0x7FFFFFFF, 4);
}

// A malformed file: a recording, then cut short or overwritten in one place (and in
// more places by `more`).
enum DamageKind { kNone, kTruncate, kPatch };
struct Damaged {
    PresetInfo info;
    RecordingSpec (*base)();
    DamageKind kind;      // kTruncate: the file ends at `offset` into `section`
    const char* section;  // "" = the start of the file
    int64_t offset;
    uint64_t value;  // kPatch: `width` bytes, little-endian
    int width;
    void (*more)(RecordingSpec*) = nullptr;
};

// Offsets a patch writes at, per structure.
constexpr int64_t kSynchLength0 = abfformat::synch_entry::lLength.offset;
constexpr int64_t kSynchStart1 = abfformat::synch_entry::kExtent + abfformat::synch_entry::lStart.offset;
// The middle of the second sweep of MalformedBase (2 channels of 10000 int16 samples).
constexpr int64_t kMidData = 2 * 2 * 10000 * 2 + 6;

// clang-format off
const Damaged kDamaged[] = {
    {{"truncated-file-info", "ends inside the first block", true}, MalformedBase, kTruncate, "", 300, 0, 0},
    {{"truncated-at-protocol", "ends where the protocol section starts", true},
     MalformedBase, kTruncate, "Protocol", 0, 0, 0},
    {{"truncated-at-adc", "ends where the ADC section starts", true}, MalformedBase, kTruncate, "ADC", 0, 0, 0},
    {{"truncated-at-dac", "ends where the DAC section starts", true}, MalformedBase, kTruncate, "DAC", 0, 0, 0},
    {{"truncated-at-epochs", "ends where the epoch table starts", true},
     MalformedBase, kTruncate, "EpochPerDAC", 0, 0, 0},
    {{"truncated-at-strings", "ends where the strings section starts", true},
     MalformedBase, kTruncate, "Strings", 0, 0, 0},
    {{"truncated-at-data", "ends where the data start", true}, MalformedBase, kTruncate, "Data", 0, 0, 0},
    {{"truncated-mid-data", "ends in the middle of the data", true}, MalformedBase, kTruncate, "Data", kMidData, 0, 0},
    {{"truncated-at-tags", "ends where the tags start", true}, MalformedBase, kTruncate, "Tag", 0, 0, 0},
    {{"truncated-at-synch", "ends where the synch array starts", true},
     MalformedBase, kTruncate, "SynchArray", 0, 0, 0},
    {{"truncated-last-byte", "the last byte of the synch array (the file's last section) missing", true},
     MalformedBase, kTruncate, "SynchArray", 4 * abfformat::synch_entry::kExtent - 1, 0, 0},
    {{"data-pointer-past-end", "data section block far beyond the end", true},
     MalformedBase, kPatch, "", MapBlock(v2::kData), 0x00FFFFFF, 4},
    {{"synch-pointer-past-end", "synch array block far beyond the end", true},
     MalformedBase, kPatch, "", MapBlock(v2::kSynchArray), 0x00FFFFFF, 4},
    {{"tag-pointer-past-end", "tag section block far beyond the end", true},
     MalformedBase, kPatch, "", MapBlock(v2::kTag), 0x00FFFFFF, 4},
    {{"strings-pointer-past-end", "strings section block far beyond the end", true},
     MalformedBase, kPatch, "", MapBlock(v2::kStrings), 0x00FFFFFF, 4},
    {{"adc-pointer-past-end", "ADC section block far beyond the end", true},
     MalformedBase, kPatch, "", MapBlock(v2::kADC), 0x00FFFFFF, 4},
    {{"channels-17", "17 ADC entries announced", true}, MalformedBase, kPatch, "", MapCount(v2::kADC), 17, 8},
    {{"absurd-channel-count", "a million ADC entries announced", true},
     MalformedBase, kPatch, "", MapCount(v2::kADC), 1000000, 8},
    {{"zero-channels", "no ADC entry", true}, MalformedBase, kPatch, "", MapCount(v2::kADC), 0, 8},
    {{"absurd-data-count", "2^40 samples announced", true},
     MalformedBase, kPatch, "", MapCount(v2::kData), uint64_t(1) << 40, 8},
    {{"absurd-tag-count", "2^31-1 tags announced", true},
     MalformedBase, kPatch, "", MapCount(v2::kTag), 0x7FFFFFFF, 8},
    {{"absurd-synch-count", "2^31-1 synch entries announced", true},
     MalformedBase, kPatch, "", MapCount(v2::kSynchArray), 0x7FFFFFFF, 8},
    {{"absurd-string-count", "2^31-1 strings announced in the map and the strings header", true},
     MalformedBase, kPatch, "", MapCount(v2::kStrings), 0x7FFFFFFF, 8, AbsurdStringHeader},
    {{"absurd-epoch-count", "2^31-1 epoch entries announced", true},
     MalformedBase, kPatch, "", MapCount(v2::kEpochPerDAC), 0x7FFFFFFF, 8},
    {{"synch-length-too-long", "first sweep longer than all the data", true},
     MalformedBase, kPatch, "SynchArray", kSynchLength0, 0x7FFFFFF0, 4},
    {{"synch-starts-decreasing", "variable-length events whose starts go backwards", true},
     DecreasingEvents, kNone, "", 0, 0, 0},
    {{"fixed-events-negative-start", "fixed-length events with a negative start", true},
     ThreeFixedEvents, kPatch, "SynchArray", kSynchStart1, uint64_t(uint32_t(-5000)), 4},
    {{"bad-signature", "first bytes are not an ABF signature", true}, MalformedBase, kPatch, "", 0, 0x32464258, 4},
    {{"bad-version", "ABF2 signature with major version 3", true},
     MalformedBase, kPatch, "", v2::fileinfo::uFileVersionMajor.offset, 3, 1},
    {{"bad-data-format", "sample format 7", true},
     MalformedBase, kPatch, "", v2::fileinfo::nDataFormat.offset, 7, 2},
    {{"abf1-truncated-header", "ABF1 file ending inside its header", true}, Abf1Base, kTruncate, "", 3000, 0, 0},
    {{"abf1-truncated-mid-data", "ABF1 file ending in the middle of the data", true},
     Abf1Base, kTruncate, "Data", 1001, 0, 0},
    {{"abf1-data-pointer-past-end", "ABF1 data block far beyond the end", true},
     Abf1Base, kPatch, "", v1::lDataSectionPtr.offset, 0x00FFFFFF, 4},
    {{"abf1-tag-pointer-past-end", "ABF1 tag block far beyond the end", true},
     Abf1Base, kPatch, "", v1::lTagSectionPtr.offset, 0x00FFFFFF, 4},
    {{"abf1-channels-17", "ABF1 header announcing 17 channels", true},
     Abf1Base, kPatch, "", v1::nADCNumChannels.offset, 17, 2},
    {{"abf1-absurd-sample-count", "ABF1 header announcing 2^31-1 samples", true},
     Abf1Base, kPatch, "", v1::lActualAcqLength.offset, 0x7FFFFFFF, 4},
    {{"abf1-synch-length-too-long", "ABF1 episodic file whose first sweep is longer than all data", true},
     Abf1Episodic, kPatch, "SynchArray", kSynchLength0, 0x7FFFFFF0, 4},
};
// clang-format on

struct Entry {
    PresetInfo info;
    std::function<void(RecordingSpec*)> make;
};

// The presets written as they are (the malformed ones are kDamaged).
std::vector<Entry> Written()
{
    return {
        {{"default", "two-channel gap-free recording with a few tags", false},
         [](RecordingSpec* r) { *r = DefaultRecording(); }},
        {{"step-protocol", "episodic step protocol, two channels, DAC 0 steps", false},
         [](RecordingSpec* r) { *r = StepProtocolRecording(); }},
        {{"channels-16", "16 channels sampled in reverse physical order, names and units of full width", false},
         [](RecordingSpec* r) {
             *r = DefaultRecording();
             r->channels.clear();
             r->tags.clear();
             for (int i = 0; i < 16; ++i) {
                 Channel c = (i % 2) ? Voltage(int16_t(15 - i), "") : Current(int16_t(15 - i), "");
                 c.name = Numbered("Channel_%02d", 15 - i);
                 c.units = Numbered("units_%02d", 15 - i);
                 c.scaleFactor = 0.001f * float(i + 1);
                 r->channels.push_back(c);
             }
             r->samplesPerChannel = 20000;
         }},
        {{"full-width-texts", "every text field filled to its full width", false},
         [](RecordingSpec* r) {
             *r = DefaultRecording();
             r->channels[0].name = "ABCDEFGHIJ";
             r->channels[0].units = "abcdefgh";
             r->channels[1].name = "0123456789";
             r->channels[1].units = "\xB5V_per_s";  // Windows-1252 micro sign
             r->creator = "CreatorText16chr";
             r->comment = std::string(127, 'c') + "!";
             r->protocolPath = "C:\\" + std::string(245, 'p') + "\\abc.pro";
             r->dacs[0].name = "DAC_name_0";
             r->dacs[0].units = "DACunits";
             r->tags.clear();
             AddTag(r, 1.0, 1, std::string(55, 't') + "#");
         }},
        {{"zero-episodes", "episodic file without any sweep (no data)", true},
         [](RecordingSpec* r) {
             *r = StepProtocolRecording();
             r->episodes = 0;
             r->tags.clear();
         }},
        {{"single-sample", "one channel, one sample", false},
         [](RecordingSpec* r) {
             *r = DefaultRecording();
             r->channels.resize(1);
             r->samplesPerChannel = 1;
             r->tags.clear();
         }},
        {{"long-episode", "episodic sweeps of 40000 samples, longer than one read of 16384", false},
         [](RecordingSpec* r) {
             *r = StepProtocolRecording();
             r->channels.resize(1);
             r->samplesPerEpisode = 40000;
             r->episodes = 3;
             SetEpoch(&r->dacs[0], 1, kEpochStep, -60.0f, 10.0f, 30000);
         }},
        {{"many-tags", "5000 tags of the time, comment and external kinds, interleaved", false},
         [](RecordingSpec* r) {
             *r = DefaultRecording();
             r->tags.clear();
             for (int i = 0; i < 5000; ++i) AddTag(r, 0.001 * i, int16_t(i % 3), Numbered("tag %d", i));
         }},
        {{"tag-types", "tags of every type 0 to 5, interleaved", false},
         [](RecordingSpec* r) {
             *r = DefaultRecording();
             r->tags.clear();
             for (int i = 0; i < 24; ++i)
                 AddTag(r, 0.25 * i + 0.1, int16_t((i * 5) % 6), Numbered("type cycle %d", i),
                        int16_t((i * 5) % 6 == 3 || (i * 5) % 6 == 5 ? i : 0));
         }},
        {{"all-epochs", "every epoch type on DAC 0 and 1, with level and duration increments", false},
         [](RecordingSpec* r) {
             *r = StepProtocolRecording();
             r->samplesPerEpisode = 20000;
             r->episodes = 4;
             Dac& d0 = r->dacs[0];
             d0 = StepDac(-70.0f);
             d0.waveformEnable = true;
             SetEpoch(&d0, 0, kEpochStep, -80.0f, -5.0f, 1000, 100);
             SetEpoch(&d0, 1, kEpochRamp, -20.0f, 5.0f, 2000, 0);
             SetEpoch(&d0, 2, kEpochPulseTrain, 10.0f, 2.0f, 3000, 0, 500, 100);
             SetEpoch(&d0, 3, kEpochTriangleTrain, -40.0f, 0.0f, 3000, -200, 600, 200);
             SetEpoch(&d0, 4, kEpochCosineTrain, -30.0f, 1.0f, 2000, 0, 400, 0);
             SetEpoch(&d0, 5, kEpochBiphasicTrain, -50.0f, 0.0f, 2400, 0, 800, 200);
             SetEpoch(&d0, 6, kEpochStep, -70.0f, 0.0f, 0, 500);  // starts empty, grows per sweep
             d0.epochs[0].digitalValue = 1;
             d0.epochs[2].digitalValue = 5;
             Dac& d1 = r->dacs[1];
             d1.waveformEnable = true;
             d1.interEpisodeLevel = 1;
             SetEpoch(&d1, 0, kEpochResistance, 5.0f, 0.0f, 1000);
             SetEpoch(&d1, 1, kEpochStep, 20.0f, 10.0f, 4000);
             SetEpoch(&d1, 9, kEpochRamp, 0.0f, 0.0f, 1000);
         }},
        {{"synch-unit-zero", "episodic sweeps spaced 0.3 s, synch counts in samples", false},
         [](RecordingSpec* r) { *r = SpacedSweeps(0.0f); }},
        {{"synch-unit-nonzero", "episodic sweeps spaced 0.3 s, synch unit 12.5 us", false},
         [](RecordingSpec* r) { *r = SpacedSweeps(12.5f); }},
        {{"float32", "three-channel gap-free recording of float32 samples", false},
         [](RecordingSpec* r) {
             *r = DefaultRecording();
             r->dataFormat = DataFormat::Float32;
             Channel c = Voltage(5, "Temp");
             c.units = "degC";
             c.baseline = 21.5f;
             c.offset = 2.3f;
             r->channels.push_back(c);
         }},
        {{"float32-episodic", "episodic step protocol with float32 samples", false},
         [](RecordingSpec* r) {
             *r = StepProtocolRecording();
             r->dataFormat = DataFormat::Float32;
         }},
        {{"variable-events", "variable-length events (3540 to 70040 samples), one channel", false},
         [](RecordingSpec* r) { *r = EventRecording(Mode::VariableEvents); }},
        {{"variable-events-adjacent", "variable-length events where some follow each other without a gap", false},
         [](RecordingSpec* r) {
             *r = EventRecording(Mode::VariableEvents);
             r->episodeLengths = {1000, 2000, 20000, 500, 500};
             // counts are mux samples (synch unit 0, one channel)
             r->episodeStarts = {100, 1100, 10000, 30000, 40000};
         }},
        {{"fixed-events", "fixed-length events at irregular times", false},
         [](RecordingSpec* r) { *r = EventRecording(Mode::FixedEvents); }},
        {{"fixed-events-overlap", "fixed-length events that overlap in time", false},
         [](RecordingSpec* r) {
             *r = EventRecording(Mode::FixedEvents);
             r->episodes = 4;
             r->episodeStarts = {0, 1500, 5000, 6000};
         }},
        {{"oscilloscope", "high-speed oscilloscope sweeps", false},
         [](RecordingSpec* r) {
             *r = EventRecording(Mode::Oscilloscope);
             r->episodeStartToStartS = 0.5f;
         }},
        {{"abf1-gapfree", "ABF1 1.83 two-channel gap-free recording with tags", false},
         [](RecordingSpec* r) { *r = Abf1Base(); }},
        {{"abf1-episodic", "ABF1 1.83 episodic step protocol", false},
         [](RecordingSpec* r) {
             *r = StepProtocolRecording();
             r->format = Format::Abf1;
         }},
        {{"abf1-events", "ABF1 1.83 variable-length events", false},
         [](RecordingSpec* r) {
             *r = EventRecording(Mode::VariableEvents);
             r->format = Format::Abf1;
         }},
        {{"large-gapfree", "100 million samples in each of 4 channels (benchmarks; 800 MB)", false},
         [](RecordingSpec* r) {
             *r = DefaultRecording();
             r->channels.push_back(Current(2, "IN 2"));
             r->channels.push_back(Voltage(3, "IN 3"));
             r->samplesPerChannel = 100000000;
         }},

    };
}

const std::vector<Entry>& Table()
{
    static const std::vector<Entry> table = [] {
        std::vector<Entry> all = Written();
        for (const Damaged& d : kDamaged)
            all.push_back({d.info, [&d](RecordingSpec* r) {
                               *r = d.base();
                               if (d.kind == kTruncate) Truncate(r, d.section, d.offset);
                               if (d.kind == kPatch) Patch(r, d.section, d.offset, d.value, d.width);
                               if (d.more) d.more(r);
                           }});
        return all;
    }();
    return table;
}

}  // namespace

RecordingSpec DefaultRecording()
{
    RecordingSpec r;
    r.mode = Mode::GapFree;
    r.channels = {Current(0, "IN 0"), Voltage(1, "IN 1")};
    r.sequenceIntervalUs = 50.0f;  // 20 kHz per channel
    r.samplesPerChannel = 200000;  // 10 s
    r.protocolPath = "C:\\Protocols\\gapfree 20kHz.pro";
    r.comment = "synthetic recording";
    r.dacs = {StepDac(-70.0f), StepDac(0.0f)};
    r.dacs[1].units = "pA";
    r.dacs[1].scaleFactor = 400.0f;
    AddTag(&r, 2.0, 1, "drug on");
    AddTag(&r, 4.5, 0, "");
    AddTag(&r, 6.25, 2, "");
    AddTag(&r, 8.0, 1, "washout");
    return r;
}

RecordingSpec StepProtocolRecording()
{
    RecordingSpec r;
    r.mode = Mode::Episodic;
    Channel i = Current(0, "IN 0");
    i.stepAmplitude = -40.0f;  // inward current for depolarising steps
    Channel v = Voltage(1, "Vcmd");
    v.baseline = -70.0f;
    v.stepAmplitude = 10.0f;  // follows the command
    v.sineAmplitude = 0.0f;
    r.channels = {i, v};
    r.sequenceIntervalUs = 50.0f;
    r.synchTimeUnit = 12.5f;
    r.samplesPerEpisode = 10000;  // 0.5 s
    r.episodes = 8;
    r.episodeStartToStartS = 1.0f;
    r.protocolPath = "C:\\Protocols\\IV steps.pro";
    r.comment = "step protocol";
    r.dacs = {StepDac(-70.0f), StepDac(0.0f)};
    r.dacs[1].units = "pA";
    r.dacs[1].scaleFactor = 400.0f;
    Dac& d = r.dacs[0];
    d.waveformEnable = true;
    SetEpoch(&d, 0, kEpochStep, -80.0f, 0.0f, 1000);
    SetEpoch(&d, 1, kEpochStep, -60.0f, 10.0f, 5000);
    SetEpoch(&d, 2, kEpochStep, -80.0f, 0.0f, 2000);
    AddTag(&r, 2.1, 1, "sweep 3");
    AddTag(&r, 5.2, 2, "");
    return r;
}

const std::vector<PresetInfo>& Presets()
{
    static const std::vector<PresetInfo> list = [] {
        std::vector<PresetInfo> v;
        for (const Entry& e : Table()) v.push_back(e.info);
        return v;
    }();
    return list;
}

bool MakePreset(const std::string& name, RecordingSpec* rec, std::string* error)
{
    for (const Entry& e : Table())
        if (name == e.info.name) {
            e.make(rec);
            return true;
        }
    if (error) *error = "unknown preset \"" + name + "\" (see --list-presets)";
    return false;
}

}  // namespace abfw
