// The NWB file of one recording (nwb.h tells what goes where). Objects are made
// in an order that lets every reference find its target: the file's fixed
// groups, devices and electrodes, the series (samples, stimulus, tags), then the
// tables that point at them.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "nwb/h5.h"
#include "nwb/nwb.h"
#include "nwb/text.h"

namespace nwb {

namespace {

constexpr const char* kNwbVersion = "2.7.0";
constexpr const char* kEphys = "/general/intracellular_ephys";

// The fixed descriptions of the icephys tables (the `value:` of their
// description attribute in the schema, nwb.icephys.yaml).
constexpr const char* kRecordingsText =
    "A table to group together a stimulus and response from a single electrode and a single simultaneous recording "
    "and for storing metadata about the intracellular recording.";
constexpr const char* kElectrodesText = "Table for storing intracellular electrode related metadata.";
constexpr const char* kStimuliText = "Table for storing intracellular stimulus related metadata.";
constexpr const char* kResponsesText = "Table for storing intracellular response related metadata.";

// Gap-free channels are written in pieces of about this many samples (4 MiB),
// whatever their length.
constexpr int64_t kPieceSamples = 1 << 20;

// What the units of a channel (or of its stimulus) make of its series.
struct UnitClass {
    enum Kind { kVolts, kAmperes, kOther } kind;
    float scale;  // to volts or amperes; 1 for other units (kept as they are)
};

// Units with a prefix: V, mV, uV/µV, nV; A, mA, uA/µA, nA, pA, fA, in the header's
// bytes (µ is 0xB5 in its code page), case as written ("MV" is not mV).
UnitClass Classify(const std::string& units)
{
    static const std::map<std::string, float> kPrefixes = {{"", 1.0f},   {"m", 1e-3f},  {"u", 1e-6f}, {"\xB5", 1e-6f},
                                                           {"n", 1e-9f}, {"p", 1e-12f}, {"f", 1e-15f}};
    if (!units.empty()) {
        const char last = units.back();
        const auto prefix = kPrefixes.find(units.substr(0, units.size() - 1));
        if (prefix != kPrefixes.end() && (last == 'V' || last == 'A')) {
            // Femtovolts are no unit anyone records in; V takes the prefixes down to n.
            if (last == 'V' && prefix->first == "f") return {UnitClass::kOther, 1.0f};
            return {last == 'V' ? UnitClass::kVolts : UnitClass::kAmperes, prefix->second};
        }
    }
    return {UnitClass::kOther, 1.0f};
}

const char* ResponseType(UnitClass::Kind k)
{
    switch (k) {
    case UnitClass::kVolts: return "CurrentClampSeries";
    case UnitClass::kAmperes: return "VoltageClampSeries";
    default: return "PatchClampSeries";
    }
}

const char* StimulusType(UnitClass::Kind k)
{
    switch (k) {
    case UnitClass::kVolts: return "VoltageClampStimulusSeries";
    case UnitClass::kAmperes: return "CurrentClampStimulusSeries";
    default: return "PatchClampSeries";
    }
}

std::string SiUnit(UnitClass u, const std::string& units)
{
    switch (u.kind) {
    case UnitClass::kVolts: return "volts";
    case UnitClass::kAmperes: return "amperes";
    default: return Cp1252ToUtf8(units);
    }
}

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

std::string BaseName(const std::string& path)
{
    std::string name = path;
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    return name;
}

// The protocol's name: the file name of its path without the extension.
std::string ProtocolName(const std::string& protocol)
{
    std::string name = BaseName(protocol);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

std::string Padded(uint32_t n, std::size_t digits)
{
    std::string s = std::to_string(n);
    return std::string(digits > s.size() ? digits - s.size() : 0, '0') + s;
}

// The three attributes of every object with a schema type.
void Typed(hid_t object, const char* type, const char* ns = "core")
{
    AttrText(object, "neurodata_type", type);
    AttrText(object, "namespace", ns);
    AttrText(object, "object_id", Uuid4());
}

// What the recording or the caller cannot have (a reader failure, a choice out
// of range, an interrupt): reported as it is, not as a failure to write.
struct Refusal : Failure {
    using Failure::Failure;
};

// One series written: its path and its length (for the table rows).
struct Written {
    std::string path;
    uint64_t length;
    bool present;
};

// One channel of the export, with what its series and electrode say.
struct ChannelPlan {
    const reader::Channel* channel;
    reader::InputScaling scaling;
    UnitClass response, stimulus;
    // "AD0", "DA0": the digitizer input and the output of the same number, in the
    // names of the channel's objects ("AD0_ch1" where the sampling sequence
    // names an input twice).
    std::string ad, da;
    std::string electrode;
};

class FileWriter {
public:
    FileWriter(reader::Recording& rec, const Options& o) : rec_(rec), o_(o) {}
    // Throws Refusal for what the recording or the caller cannot have, Failure
    // for what HDF5 could not do; closes everything it opened either way.
    void Write(const std::string& path);
    bool Created() const { return created_; }

private:
    void Fail(const std::string& what) { throw Refusal(what); }
    void ReaderFailed() { throw Refusal(rec_.Error()); }
    void Plan();
    void Root();
    void Devices();
    void Series(hid_t series, const char* type, const ChannelPlan& c, const std::string& description, uint32_t sweep,
                double start, bool stimulus);
    void DataAttributes(hid_t data, const std::string& unit, float conversion, float resolution);
    Written Response(const ChannelPlan& c, uint32_t episode, std::vector<float>& buffer);
    Written Stimulus(const ChannelPlan& c, uint32_t episode, std::vector<float>& buffer);
    Written GapFree(const ChannelPlan& c, std::vector<float>& buffer);
    void Tags();
    void Tables();
    void Step();

    reader::Recording& rec_;
    const Options& o_;
    Handle file_;
    bool created_ = false;
    std::vector<ChannelPlan> channels_;
    std::vector<uint32_t> episodes_;
    std::size_t digits_ = 4;
    std::string protocol_;
    uint64_t done_ = 0, total_ = 0;
    // Per episode (gap-free: one), per channel: the response and stimulus series.
    std::vector<std::vector<std::pair<Written, Written>>> rows_;
};

void FileWriter::Step()
{
    ++done_;
    if (o_.progress && !o_.progress(done_, total_)) Fail("interrupted");
}

void FileWriter::Plan()
{
    const auto& all = rec_.Channels();
    if (all.empty()) Fail("the recording has no channels");
    if (rec_.Episodes() == 0) Fail("the recording holds no data");
    if (!(rec_.XStep() > 0.0)) Fail("the header gives no sampling interval");
    std::vector<int> chosen;
    for (int logical : o_.channels)  // each once, in the order given
        if (std::find(chosen.begin(), chosen.end(), logical) == chosen.end()) chosen.push_back(logical);
    if (chosen.empty())
        for (const reader::Channel& c : all) chosen.push_back(c.logical);
    for (int logical : chosen) {
        if (logical < 0 || logical >= static_cast<int>(all.size()))
            Fail("channel " + std::to_string(logical) + " out of range (the recording has channels 0 to " +
                 std::to_string(all.size() - 1) + ")");
        ChannelPlan p;
        p.channel = &all[static_cast<std::size_t>(logical)];
        p.scaling = rec_.Scaling(logical);
        p.response = Classify(p.channel->units);
        p.stimulus = Classify(p.channel->dacUnits);
        const std::string number = std::to_string(p.channel->physical);
        const bool twice = std::count_if(all.begin(), all.end(), [&](const reader::Channel& other) {
                               return other.physical == p.channel->physical;
                           }) > 1;
        const std::string suffix = twice ? "_ch" + std::to_string(logical) : "";
        p.ad = "AD" + number + suffix;
        p.da = "DA" + number + suffix;
        p.electrode = std::string(kEphys) + "/electrode_" + p.ad;
        channels_.push_back(p);
    }
    if (rec_.GapFree()) {
        if (!o_.episodes.empty()) Fail("a gap-free recording has no episodes to choose");
        episodes_ = {1};
        int64_t points = 0;
        if (!rec_.ChannelPoints(&points) || points < 0) Fail("the header gives no sample count for the channels");
        total_ = channels_.size() * static_cast<uint64_t>((points + kPieceSamples - 1) / kPieceSamples);
    } else {
        for (uint32_t e : o_.episodes)
            if (std::find(episodes_.begin(), episodes_.end(), e) == episodes_.end()) episodes_.push_back(e);
        if (episodes_.empty())
            for (uint32_t e = 1; e <= rec_.Episodes(); ++e) episodes_.push_back(e);
        for (uint32_t e : episodes_)
            if (e < 1 || e > rec_.Episodes())
                Fail("episode " + std::to_string(e) + " out of range (the recording has episodes 1 to " +
                     std::to_string(rec_.Episodes()) + ")");
        total_ = episodes_.size() * channels_.size();
        digits_ = std::max<std::size_t>(4, std::to_string(rec_.Episodes()).size());
    }
    protocol_ = ProtocolName(rec_.Protocol());
}

void FileWriter::Root()
{
    const hid_t root = file_.id();
    AttrText(root, "nwb_version", kNwbVersion);
    Typed(root, "NWBFile");
    DataText(root, "identifier", Uuid4());

    // The start: local time from the header with the offset the caller gave or the
    // machine's zone had on that date; without a valid date in the header, the
    // file's modification time. The notes say which.
    const std::string file = BaseName(rec_.Path());
    LocalTime start = {};
    int offset = 0;
    std::string how;
    const std::string given = "the UTC offset " +
                              std::string(o_.utcOffsetGiven ? OffsetText(o_.utcOffsetMinutes) : "") +
                              " was given to the export";
    if (StartFromHeader(rec_.StartDate(), rec_.StartTimeMs(), &start)) {
        std::string zone;
        offset = o_.utcOffsetGiven ? o_.utcOffsetMinutes : MachineOffset(start, &zone);
        how =
            "session_start_time is the recording's start as the ABF header gives it, local time without a time "
            "zone; " +
            (o_.utcOffsetGiven ? given
                               : "its UTC offset " + OffsetText(offset) +
                                     " is that of the time zone of the machine "
                                     "that wrote this file (" +
                                     zone + ") on that date") +
            ".";
    } else {
        struct stat st = {};
        if (stat(rec_.Path().c_str(), &st) != 0) Fail("the header holds no valid start and the file has no time");
        offset = o_.utcOffsetGiven ? o_.utcOffsetMinutes : MachineOffsetAt(st.st_mtime);
        start = AtOffset(st.st_mtime, 0, offset);
        how = "The ABF header holds no valid start (uFileStartDate " + std::to_string(rec_.StartDate()) +
              ", uFileStartTimeMS " + std::to_string(rec_.StartTimeMs()) +
              "): session_start_time is the file's modification time, " +
              (o_.utcOffsetGiven ? "at " + given : "at the UTC offset of the machine that wrote this file") + ".";
    }
    const std::string startText = IsoTime(start, offset);
    DataText(root, "session_start_time", startText, true);
    DataText(root, "timestamps_reference_time", startText, true);
    const std::time_t now = std::time(nullptr);
    const int nowOffset = MachineOffsetAt(now);
    DataTextList(root, "file_create_date", {IsoTime(AtOffset(now, 0, nowOffset), nowOffset)}, true);

    const std::string protocol = Cp1252ToUtf8(rec_.Protocol());
    DataText(root, "session_description",
             Cp1252ToUtf8(file) + ": " + reader::Recording::ModeName(rec_.Mode()) +
                 (protocol.empty() ? ", no protocol" : ", protocol " + protocol));

    for (const char* g : {"acquisition", "analysis", "processing", "stimulus", "general"}) CreateGroup(root, g);
    Handle stimulus = OpenGroup(root, "stimulus");
    CreateGroup(stimulus.id(), "presentation");
    CreateGroup(stimulus.id(), "templates");

    Handle general = OpenGroup(root, "general");
    std::string notes = how;
    const std::string comment = Cp1252ToUtf8(rec_.Comment());
    if (!comment.empty()) notes += "\nFile comment: " + comment;
    notes +=
        "\nSamples: the float32 values the kav_Sorvan plug-in reads (kav_AbfChannelRead, kav_AbfEpisodeRead) "
        "in the channel's units, bit for bit; data x conversion gives volts or amperes. Stimulus: the "
        "waveform kav_AbfEpisodeWaveform reads, where the ABF library computes one.";
    DataText(general.id(), "notes", notes);
    const std::string creator = Cp1252ToUtf8(rec_.Creator());
    DataText(general.id(), "data_collection",
             "Recorded" + (creator.empty() ? std::string() : " with " + creator) + " into " + Cp1252ToUtf8(file) +
                 " (ABF " + Number(static_cast<float>(rec_.FileVersion())) + ", " +
                 reader::Recording::ModeName(rec_.Mode()) + ")");
    if (!protocol.empty()) DataText(general.id(), "stimulus", "Protocol " + protocol);
    if (!o_.program.empty()) {
        Handle script = DataText(general.id(), "source_script", o_.program);
        AttrText(script.id(), "file_name", o_.program.substr(0, o_.program.find(' ')));
    }
    CreateGroup(general.id(), "devices");
    CreateGroup(general.id(), "intracellular_ephys");
}

void FileWriter::Devices()
{
    Handle devices = OpenGroup(file_.id(), "/general/devices");
    Handle ephys = OpenGroup(file_.id(), kEphys);
    for (const ChannelPlan& c : channels_) {
        const std::string name = Cp1252ToUtf8(c.channel->name);
        const std::string label = c.ad + (name.empty() ? "" : " (" + name + ")");
        Handle device = CreateGroup(devices.id(), "device_" + c.ad);
        Typed(device.id(), "Device");
        AttrText(device.id(), "description",
                 "The amplifier channel recorded on digitizer input " + label +
                     "; the ABF file does not name the amplifier.");
        Handle electrode = CreateGroup(ephys.id(), "electrode_" + c.ad);
        Typed(electrode.id(), "IntracellularElectrode");
        DataText(electrode.id(), "description",
                 "The electrode recorded on digitizer input " + label + ", in " +
                     (c.channel->units.empty() ? "no units" : Cp1252ToUtf8(c.channel->units)) + ".");
        if (c.scaling.filter > 0.0)
            DataText(electrode.id(), "filtering", "low-pass " + Number(c.scaling.filter) + " Hz (telegraphed)");
        SoftLink(electrode.id(), "device", "/general/devices/device_" + c.ad);
    }
}

void FileWriter::DataAttributes(hid_t data, const std::string& unit, float conversion, float resolution)
{
    AttrText(data, "unit", unit);
    AttrFloat32(data, "conversion", conversion);
    AttrFloat32(data, "offset", 0.0f);
    AttrFloat32(data, "resolution", resolution);
    AttrText(data, "continuity", "continuous");
}

// One digitizer step in the series' unit (its size: a negative gain in the
// header inverts the signal); -1, unknown, for float32 samples.
float Resolution(const ChannelPlan& c)
{
    return c.scaling.step != 0.0 ? static_cast<float>(std::fabs(c.scaling.step) * c.response.scale) : -1.0f;
}

// The members every patch-clamp series has but its data.
void FileWriter::Series(hid_t series, const char* type, const ChannelPlan& c, const std::string& description,
                        uint32_t sweep, double start, bool stimulus)
{
    Typed(series, type);
    AttrText(series, "description", description);
    AttrText(series, "stimulus_description", protocol_.empty() ? "none" : Cp1252ToUtf8(protocol_));
    AttrUint32(series, "sweep_number", sweep);
    Handle startTime = DataFloat64(series, "starting_time", start);
    AttrFloat64(startTime.id(), "rate", 1.0 / rec_.XStep());
    AttrText(startTime.id(), "unit", "seconds");
    // The response's gain is the header's input chain in volts per SI unit (V/V in
    // current clamp, V/A in voltage clamp); the header's command scaling is not
    // read, so a stimulus says 1.0, as does a channel whose chain is 0.
    const UnitClass u = stimulus ? c.stimulus : c.response;
    float gain = 1.0f;
    std::string comments;
    if (stimulus) {
        comments = "gain: not taken from the ABF header (1.0 written)";
    } else if (c.scaling.gain != 0.0) {
        gain = static_cast<float>(c.scaling.gain / static_cast<double>(u.scale));
        comments = "gain: the ABF header's input chain, " + Number(c.scaling.gain) + " V per " +
                   Cp1252ToUtf8(c.channel->units);
    } else {
        comments = "gain: the ABF header gives none (1.0 written)";
    }
    AttrText(series, "comments", comments);
    DataFloat32(series, "gain", gain);
    SoftLink(series, "electrode", c.electrode);
}

Written FileWriter::Response(const ChannelPlan& c, uint32_t episode, std::vector<float>& buffer)
{
    const int logical = c.channel->logical;
    uint32_t samples = 0, count = 0;
    double startMs = 0.0;
    if (!rec_.EpisodeSamples(episode, &samples) || !rec_.EpisodeStart(logical, episode, &startMs)) ReaderFailed();
    buffer.resize(std::max<std::size_t>({buffer.size(), rec_.SampleLimit(), 1}));
    if (!rec_.Read(logical, episode, buffer.data(), &count)) ReaderFailed();
    if (count != samples)
        Fail("the library delivered " + std::to_string(count) + " samples of channel " + std::to_string(logical) +
             ", episode " + std::to_string(episode) + " where it counts " + std::to_string(samples));
    const char* type = ResponseType(c.response.kind);
    const std::string name = std::string("/acquisition/") + type + "_sweep" + Padded(episode, digits_) + "_" + c.ad;
    Handle series = CreateGroup(file_.id(), name);
    const std::string channelName = Cp1252ToUtf8(c.channel->name);
    Series(series.id(), type, c,
           "Channel " + std::to_string(logical) + (channelName.empty() ? "" : " (" + channelName + ")") + ", episode " +
               std::to_string(episode),
           episode, startMs / 1000.0, false);
    Handle data = CreateFloat32(series.id(), "data", samples);
    WriteFloat32(data.id(), 0, buffer.data(), samples);
    DataAttributes(data.id(), SiUnit(c.response, c.channel->units), c.response.scale, Resolution(c));
    return {name, samples, true};
}

Written FileWriter::Stimulus(const ChannelPlan& c, uint32_t episode, std::vector<float>& buffer)
{
    const int logical = c.channel->logical;
    uint32_t samples = 0, room = 0;
    double startMs = 0.0;
    if (!rec_.EpisodeSamples(episode, &samples) || !rec_.StimulusRoom(episode, &room) ||
        !rec_.EpisodeStart(logical, episode, &startMs))
        ReaderFailed();
    buffer.resize(std::max<std::size_t>({buffer.size(), room, 1}));
    // Only where the library computes a waveform (the plug-in's kav_AbfEpisodeWaveform
    // delivers one); elsewhere the row has no stimulus.
    if (!rec_.ReadStimulus(logical, episode, buffer.data())) return {std::string(), 0, false};
    const char* type = StimulusType(c.stimulus.kind);
    const std::string name =
        std::string("/stimulus/presentation/") + type + "_sweep" + Padded(episode, digits_) + "_" + c.da;
    Handle series = CreateGroup(file_.id(), name);
    Series(series.id(), type, c,
           "Stimulus of channel " + std::to_string(logical) + " (output DA" + std::to_string(c.channel->physical) +
               "), episode " + std::to_string(episode),
           episode, startMs / 1000.0, true);
    Handle data = CreateFloat32(series.id(), "data", samples);
    WriteFloat32(data.id(), 0, buffer.data(), samples);
    DataAttributes(data.id(), SiUnit(c.stimulus, c.channel->dacUnits), c.stimulus.scale, -1.0f);
    return {name, samples, true};
}

Written FileWriter::GapFree(const ChannelPlan& c, std::vector<float>& buffer)
{
    const int logical = c.channel->logical;
    int64_t points = 0;
    rec_.ChannelPoints(&points);
    const char* type = ResponseType(c.response.kind);
    const std::string name = std::string("/acquisition/") + type + "_" + c.ad;
    Handle series = CreateGroup(file_.id(), name);
    const std::string channelName = Cp1252ToUtf8(c.channel->name);
    Series(series.id(), type, c,
           "Channel " + std::to_string(logical) + (channelName.empty() ? "" : " (" + channelName + ")") +
               ", the whole gap-free recording",
           1, 0.0, false);
    Handle data = CreateFloat32(series.id(), "data", static_cast<uint64_t>(points));
    DataAttributes(data.id(), SiUnit(c.response, c.channel->units), c.response.scale, Resolution(c));
    // In pieces through one buffer: memory stays the same for any length.
    buffer.resize(static_cast<std::size_t>(kPieceSamples));
    for (int64_t at = 0; at < points; at += kPieceSamples) {
        const int64_t n = std::min(kPieceSamples, points - at);
        if (!rec_.ReadRange(logical, at, n, buffer.data())) ReaderFailed();
        WriteFloat32(data.id(), static_cast<uint64_t>(at), buffer.data(), static_cast<uint64_t>(n));
        Step();
    }
    return {name, static_cast<uint64_t>(points), true};
}

void FileWriter::Tags()
{
    std::vector<reader::Tag> tags;
    if (!rec_.Tags(&tags)) ReaderFailed();
    if (tags.empty()) return;
    std::vector<std::string> text;
    std::vector<double> times;
    for (const reader::Tag& t : tags) {
        text.push_back(Cp1252ToUtf8(t.comment));
        times.push_back(t.seconds);
    }
    Handle series = CreateGroup(file_.id(), "/acquisition/tags");
    Typed(series.id(), "AnnotationSeries");
    AttrText(series.id(), "description",
             "The recording's tags in file order: their comments, at their times in seconds from the start");
    AttrText(series.id(), "comments", "ABF tags of every kind (time, comment, external, voice, new file, annotation)");
    Handle data = DataTextList(series.id(), "data", text);
    AttrText(data.id(), "unit", "n/a");
    AttrFloat32(data.id(), "resolution", -1.0f);
    AttrFloat32(data.id(), "conversion", 1.0f);
    AttrFloat32(data.id(), "offset", 0.0f);
    Handle stamps = DataFloat64List(series.id(), "timestamps", times);
    AttrInt32(stamps.id(), "interval", 1);
    AttrText(stamps.id(), "unit", "seconds");
}

// A DynamicTable's group attributes and its id column of `rows` rows.
Handle Table(hid_t parent, const std::string& name, const char* type, const std::string& description,
             const std::vector<std::string>& columns, std::size_t rows)
{
    Handle g = CreateGroup(parent, name);
    Typed(g.id(), type);
    AttrText(g.id(), "description", description);
    AttrTextList(g.id(), "colnames", columns);
    std::vector<int64_t> ids(rows);
    for (std::size_t i = 0; i < rows; ++i) ids[i] = static_cast<int64_t>(i);
    Handle id = DataInt64List(g.id(), "id", ids);
    Typed(id.id(), "ElementIdentifiers", "hdmf-common");
    return g;
}

// A ragged column of rows into another table: `name` (a DynamicTableRegion of
// row positions) and `name_index` (each row's end).
void RegionColumn(hid_t file, hid_t table, const std::string& tablePath, const std::string& name,
                  const std::string& target, const std::vector<std::vector<int64_t>>& rows,
                  const std::string& description)
{
    std::vector<int64_t> values;
    std::vector<uint64_t> ends;
    for (const auto& row : rows) {
        values.insert(values.end(), row.begin(), row.end());
        ends.push_back(values.size());
    }
    Handle region = DataInt64List(table, name, values);
    Typed(region.id(), "DynamicTableRegion", "hdmf-common");
    AttrText(region.id(), "description", description);
    AttrRef(region.id(), "table", Reference(file, target));
    Handle index = DataUint64List(table, name + "_index", ends);
    Typed(index.id(), "VectorIndex", "hdmf-common");
    AttrText(index.id(), "description", "Index for VectorData '" + name + "'");
    AttrRef(index.id(), "target", Reference(file, tablePath + "/" + name));
}

void FileWriter::Tables()
{
    const hid_t file = file_.id();
    Handle ephys = OpenGroup(file, kEphys);
    std::vector<hobj_ref_t> electrodes;
    std::vector<SeriesSlice> stimuli, responses;
    std::vector<std::vector<int64_t>> simultaneous;
    int64_t row = 0;
    for (const auto& episode : rows_) {
        simultaneous.emplace_back();
        for (std::size_t i = 0; i < episode.size(); ++i) {
            const Written& response = episode[i].first;
            const Written& stimulus = episode[i].second;
            const hobj_ref_t r = Reference(file, response.path);
            electrodes.push_back(Reference(file, channels_[i].electrode));
            responses.push_back({0, static_cast<int32_t>(response.length), r});
            // No stimulus: (-1, -1) and the response series, as the schema asks.
            stimuli.push_back(
                stimulus.present ? SeriesSlice{0, static_cast<int32_t>(stimulus.length), Reference(file, stimulus.path)}
                                 : SeriesSlice{-1, -1, r});
            simultaneous.back().push_back(row++);
        }
    }
    const std::size_t n = responses.size();
    const std::string recordingsPath = std::string(kEphys) + "/intracellular_recordings";
    {
        Handle recordings =
            Table(ephys.id(), "intracellular_recordings", "IntracellularRecordingsTable", kRecordingsText, {}, n);
        AttrTextList(recordings.id(), "categories", {"electrodes", "stimuli", "responses"});
        Handle e =
            Table(recordings.id(), "electrodes", "IntracellularElectrodesTable", kElectrodesText, {"electrode"}, n);
        Handle ec = DataRefList(e.id(), "electrode", electrodes);
        Typed(ec.id(), "VectorData", "hdmf-common");
        AttrText(ec.id(), "description", "Column for storing the reference to the intracellular electrode.");
        Handle s = Table(recordings.id(), "stimuli", "IntracellularStimuliTable", kStimuliText, {"stimulus"}, n);
        Handle sc = DataSliceList(s.id(), "stimulus", stimuli);
        Typed(sc.id(), "TimeSeriesReferenceVectorData");
        AttrText(sc.id(), "description",
                 "Column storing the reference to the recorded stimulus for the recording (rows).");
        Handle r = Table(recordings.id(), "responses", "IntracellularResponsesTable", kResponsesText, {"response"}, n);
        Handle rc = DataSliceList(r.id(), "response", responses);
        Typed(rc.id(), "TimeSeriesReferenceVectorData");
        AttrText(rc.id(), "description",
                 "Column storing the reference to the recorded response for the recording (rows).");
    }
    const std::string simultaneousPath = std::string(kEphys) + "/simultaneous_recordings";
    {
        Handle t = Table(ephys.id(), "simultaneous_recordings", "SimultaneousRecordingsTable",
                         rec_.GapFree() ? "The channels of the gap-free recording, recorded together"
                                        : "Per episode, the channels recorded together",
                         {"recordings"}, simultaneous.size());
        RegionColumn(file, t.id(), simultaneousPath, "recordings", recordingsPath, simultaneous,
                     "The rows of intracellular_recordings recorded together");
    }
    {
        std::vector<int64_t> all(simultaneous.size());
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int64_t>(i);
        Handle t = Table(ephys.id(), "sequential_recordings", "SequentialRecordingsTable",
                         "The episodes of the recording's protocol, one after the other",
                         {"simultaneous_recordings", "stimulus_type"}, 1);
        RegionColumn(file, t.id(), std::string(kEphys) + "/sequential_recordings", "simultaneous_recordings",
                     simultaneousPath, {all}, "The rows of simultaneous_recordings of this protocol run");
        Handle type = DataTextList(
            t.id(), "stimulus_type",
            {protocol_.empty() ? std::string(reader::Recording::ModeName(rec_.Mode())) : Cp1252ToUtf8(protocol_)});
        Typed(type.id(), "VectorData", "hdmf-common");
        AttrText(type.id(), "description", "The protocol's name (the recording's mode where it has none)");
    }
}

void FileWriter::Write(const std::string& path)
{
    Plan();
    file_ = CreateFile(path);
    created_ = true;
    // Whatever fails from here on, the file is closed before the caller removes it.
    struct Closer {
        Handle& file;
        ~Closer() { file.Reset(); }
    } closer{file_};
    // The samples to come, the bulk of the file (the default file driver's handle
    // is a file descriptor).
    uint64_t samples = 0;
    if (rec_.GapFree()) {
        int64_t points = 0;
        rec_.ChannelPoints(&points);
        samples = channels_.size() * static_cast<uint64_t>(points);
    }
    Reserve(file_.id(), samples * sizeof(float));
    Root();
    Devices();
    std::vector<float> buffer;
    if (rec_.GapFree()) {
        rows_.emplace_back();
        for (const ChannelPlan& c : channels_) rows_.back().push_back({GapFree(c, buffer), Written{"", 0, false}});
    } else {
        for (uint32_t e : episodes_) {
            rows_.emplace_back();
            for (const ChannelPlan& c : channels_) {
                Written response = Response(c, e, buffer);
                rows_.back().push_back({response, Stimulus(c, e, buffer)});
                Step();
            }
        }
    }
    Tags();
    Tables();
    std::string error;
    if (!file_.Close(&error)) Fail(error);
}

}  // namespace

bool Write(reader::Recording& rec, const std::string& path, const Options& options, std::string* error)
{
    if (!rec.IsOpen()) {
        *error = rec.Path().empty() ? "no recording is open" : rec.Path() + ": the recording is closed";
        return false;
    }
    FileWriter writer(rec, options);
    try {
        writer.Write(path);
        return true;
    } catch (const Refusal& r) {
        *error = r.what();
    } catch (const Failure& f) {
        *error = "cannot write " + path + ": " + f.what();
    }
    // Whatever was made of the file goes (the writer's handles are closed by now).
    if (writer.Created()) std::remove(path.c_str());
    return false;
}

bool ParseUtcOffset(const std::string& text, int* minutes, std::string* error)
{
    if (text == "Z") {
        *minutes = 0;
        return true;
    }
    const bool shape = text.size() == 6 && (text[0] == '+' || text[0] == '-') && text[3] == ':' &&
                       std::all_of(text.begin() + 1, text.begin() + 3, ::isdigit) &&
                       std::all_of(text.begin() + 4, text.end(), ::isdigit);
    if (shape) {
        const int h = std::stoi(text.substr(1, 2)), m = std::stoi(text.substr(4, 2));
        if (m < 60 && h * 60 + m <= 18 * 60) {
            *minutes = (text[0] == '-' ? -1 : 1) * (h * 60 + m);
            return true;
        }
    }
    *error = "the UTC offset must be +HH:MM, -HH:MM (within 18 hours) or Z, not \"" + text + "\"";
    return false;
}

std::string TemporaryPath(const std::string& path)
{
    const std::filesystem::path p(path);
    return (p.parent_path() / ("." + p.filename().string() + "." + std::to_string(getpid()) + ".tmp")).string();
}

}  // namespace nwb
