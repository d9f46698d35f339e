// abfgen's command line (CLI11): options into a RecordingSpec, then the file(s).
#include "cli.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "abffio/writer/abf_writer.h"

namespace abfgen {
namespace {

const char kHelp[] =
    "usage: abfgen [options] FILE.abf\n"
    "       abfgen --preset NAME FILE.abf\n"
    "       abfgen --list-presets\n"
    "       abfgen --demo-files DIR\n"
    "\n"
    "Writes a sample ABF recording. Without options: a two-channel gap-free recording\n"
    "(20 kHz, 10 s) with a few tags.\n"
    "\n"
    "File:\n"
    "  --format abf2|abf1        file format (default abf2; abf1 writes version 1.83)\n"
    "  --abf-version V           ABF2: 2.00 to 2.09 (default 2.06); ABF1: 1.60 to 1.99\n"
    "  --creator TEXT            creator text, at most 16 characters (default abfgen)\n"
    "  --protocol PATH           protocol path, at most 256 characters\n"
    "  --comment TEXT            file comment, at most 128 characters\n"
    "  --date YYYYMMDD           start date (default 20240315)\n"
    "  --time HH:MM:SS[.mmm]     start time (default 10:00:00)\n"
    "\n"
    "Acquisition:\n"
    "  --mode MODE               gapfree, episodic, variable (variable-length events),\n"
    "                            fixed (fixed-length events) or oscilloscope\n"
    "  --data int16|float32      sample format (default int16)\n"
    "  --interval US             microseconds between two samples of one channel (default 50)\n"
    "  --rate HZ                 the same as a sampling rate per channel\n"
    "  --samples N               gap-free: samples per channel (default 200000)\n"
    "  --episodes N              sweeps (episodic and event modes)\n"
    "  --episode-samples N       samples per channel in each sweep\n"
    "  --episode-lengths A,B,..  per-sweep sample counts (variable-length events)\n"
    "  --episode-starts A,B,..   sweep starts in synch counts (default: derived)\n"
    "  --start-to-start S        seconds from one sweep's start to the next\n"
    "  --synch-unit US           microseconds per synch count; 0: counts are samples\n"
    "  --no-synch                write no synch array\n"
    "\n"
    "Channels (comma lists apply to the channels in sampling order):\n"
    "  --channels N              1 to 16 channels (alternating current and voltage)\n"
    "  --physical A,B,..         physical ADC numbers 0..15 (default 0,1,2,..)\n"
    "  --names A,B,..            channel names, at most 10 characters\n"
    "  --units A,B,..            units, at most 8 characters\n"
    "  --scale A,B,..            instrument scale factors, volts per unit\n"
    "  --gain A,B,..             programmable gains\n"
    "  --offset A,B,..           instrument offsets, in units\n"
    "  --telegraph A,B,..        telegraph gains (0: telegraph off)\n"
    "  --adc-range V             ADC range in volts (default 10)\n"
    "\n"
    "Stimulus (DAC 0..7; ABF1: 0..3, epochs on 0..1):\n"
    "  --holding D:LEVEL         holding level of DAC D\n"
    "  --dac-name D:NAME         --dac-units D:UNITS    --dac-scale D:FACTOR\n"
    "  --active-dac D            DAC that owns the digital outputs (default 0)\n"
    "  --inter-episode D:0|1     between sweeps hold the holding (0) or the last level (1)\n"
    "  --epoch D:I:TYPE:LEVEL:LEVELINC:DUR[:DURINC[:PERIOD[:WIDTH[:DIGITAL]]]]\n"
    "                            epoch I (0..9) of DAC D; TYPE off, step, ramp, pulse,\n"
    "                            triangle, cosine, resistance, biphasic (or 0..7);\n"
    "                            durations, periods and widths in samples per channel.\n"
    "                            Enables DAC D's waveform.\n"
    "  --no-epochs               clear the default epoch tables\n"
    "\n"
    "Tags:\n"
    "  --tag TYPE:SECONDS[:TEXT] TYPE time, comment, external, voice, newfile, annotation\n"
    "                            (or 0..5); time from the start of the recording\n"
    "  --no-tags                 clear the default tags\n"
    "\n"
    "Signal:\n"
    "  --signal LIST             synthetic components to keep: noise, steps, spikes, sine,\n"
    "                            or none (baseline only); default all\n"
    "  --seed N                  seed of the synthetic signal (default 1)\n"
    "  --raw FILE                take the samples from a raw float32 little-endian file,\n"
    "                            channels interleaved in sampling order\n"
    "\n"
    "Other:\n"
    "  --preset NAME             start from a named preset (edge cases, malformed files)\n"
    "  --list-presets            list the presets\n"
    "  --demo-files DIR          write the demo's files into DIR\n"
    "  --layout                  print where each section went\n"
    "  --help                    this text\n";

bool Fail(const std::string& text)
{
    std::fprintf(stderr, "abfgen: %s\n", text.c_str());
    return false;
}

std::vector<std::string> Split(const std::string& s, char sep, size_t maxParts = 0)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t at = s.find(sep, start);
        if (at == std::string::npos || (maxParts && out.size() + 1 == maxParts)) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, at - start));
        start = at + 1;
    }
}

bool ParseDouble(const std::string& s, double* v)
{
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    *v = std::strtod(s.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(*v);
}

bool ParseInt(const std::string& s, int64_t* v)
{
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    *v = std::strtoll(s.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

bool Int(const std::string& opt, const std::string& s, int64_t lo, int64_t hi, int64_t* v)
{
    if (!ParseInt(s, v) || *v < lo || *v > hi)
        return Fail(opt + ": \"" + s + "\" is not a whole number from " + std::to_string(lo) + " to " +
                    std::to_string(hi));
    return true;
}

bool Num(const std::string& opt, const std::string& s, double* v)
{
    if (!ParseDouble(s, v)) return Fail(opt + ": \"" + s + "\" is not a number");
    return true;
}

bool EpochType(const std::string& s, int16_t* type)
{
    static const char* names[] = {"off", "step", "ramp", "pulse", "triangle", "cosine", "resistance", "biphasic"};
    for (int i = 0; i < 8; ++i)
        if (s == names[i] || s == std::to_string(i)) {
            *type = int16_t(i);
            return true;
        }
    return Fail("unknown epoch type \"" + s + "\"");
}

bool TagType(const std::string& s, int16_t* type)
{
    static const char* names[] = {"time", "comment", "external", "voice", "newfile", "annotation"};
    for (int i = 0; i < 6; ++i)
        if (s == names[i] || s == std::to_string(i)) {
            *type = int16_t(i);
            return true;
        }
    return Fail("unknown tag type \"" + s + "\"");
}

struct TagArg {
    int16_t type;
    double seconds;
    std::string text;
};

// Everything the command line asked for, applied to the base recording in one place.
struct Options {
    std::string file, preset, demoDir, format, mode, data, signal, raw, date, time;
    std::string creator, protocol, comment, abfVersion;
    bool creatorSet = false, protocolSet = false, commentSet = false;
    bool listPresets = false, help = false, layout = false, noTags = false, noEpochs = false, noSynch = false;
    double interval = 0, rate = 0, synchUnit = -1, startToStart = -1, adcRange = 0;
    int64_t samples = -1, episodes = -1, episodeSamples = -1, channels = 0, activeDac = -1;
    uint64_t seed = 0;
    bool seedSet = false;
    std::vector<int64_t> lengths, starts;
    std::vector<std::string> physical, names, units, scale, gain, offset, telegraph;
    std::vector<std::string> holding, dacName, dacUnits, dacScale, interEpisode, epochs;
    std::vector<TagArg> tags;
};

bool IntList(const std::string& opt, const std::string& s, std::vector<int64_t>* out)
{
    out->clear();
    for (const std::string& item : Split(s, ',')) {
        int64_t v;
        if (!Int(opt, item, -1, INT32_MAX, &v)) return false;
        out->push_back(v);
    }
    return true;
}

// What an option does: a flag sets a bool; any other option takes the next argument.
struct OptionSpec {
    const char* name;
    bool takesValue;
    std::function<bool(const std::string& opt, const std::string& value, Options* o)> apply;
};

OptionSpec Flag(const char* name, bool Options::*m)
{
    return {name, false, [m](const std::string&, const std::string&, Options* o) { return o->*m = true; }};
}
OptionSpec Text(const char* name, std::string Options::*m, bool Options::*set = nullptr)
{
    return {name, true, [m, set](const std::string&, const std::string& v, Options* o) {
                o->*m = v;
                if (set) o->*set = true;
                return true;
            }};
}
// A number that must be positive (`positive`) or not negative.
OptionSpec Number(const char* name, double Options::*m, bool positive)
{
    return {name, true, [m, positive](const std::string& opt, const std::string& v, Options* o) {
                if (Num(opt, v, &(o->*m)) && (positive ? o->*m > 0 : o->*m >= 0)) return true;
                return Fail(opt + (positive ? " must be positive" : " must not be negative"));
            }};
}
OptionSpec Whole(const char* name, int64_t Options::*m, int64_t lo, int64_t hi)
{
    return {name, true, [m, lo, hi](const std::string& opt, const std::string& v, Options* o) {
                return Int(opt, v, lo, hi, &(o->*m));
            }};
}
OptionSpec WholeList(const char* name, std::vector<int64_t> Options::*m)
{
    return {name, true,
            [m](const std::string& opt, const std::string& v, Options* o) { return IntList(opt, v, &(o->*m)); }};
}
// A comma list (one value per channel).
OptionSpec List(const char* name, std::vector<std::string> Options::*m)
{
    return {name, true, [m](const std::string&, const std::string& v, Options* o) {
                o->*m = Split(v, ',');
                return true;
            }};
}
// An option that may be given several times.
OptionSpec Each(const char* name, std::vector<std::string> Options::*m)
{
    return {name, true, [m](const std::string&, const std::string& v, Options* o) {
                (o->*m).push_back(v);
                return true;
            }};
}

bool ParseSeed(const std::string& opt, const std::string& v, Options* o)
{
    int64_t n;
    if (!Int(opt, v, 0, INT64_MAX, &n)) return false;
    o->seed = uint64_t(n);
    o->seedSet = true;
    return true;
}

bool ParseTag(const std::string&, const std::string& v, Options* o)
{
    const std::vector<std::string> p = Split(v, ':', 3);
    TagArg t;
    double d;
    if (p.size() < 2 || !TagType(p[0], &t.type) || !Num("--tag", p[1], &d) || d < 0)
        return Fail("--tag wants TYPE:SECONDS[:TEXT], got \"" + v + "\"");
    t.seconds = d;
    t.text = p.size() > 2 ? p[2] : "";
    o->tags.push_back(t);
    return true;
}

// Every option the parser knows (and the help text lists).
const std::vector<OptionSpec>& OptionTable()
{
    using O = Options;
    static const std::vector<OptionSpec> table = {
        Flag("--help", &O::help),
        Flag("--list-presets", &O::listPresets),
        Flag("--layout", &O::layout),
        Flag("--no-tags", &O::noTags),
        Flag("--no-epochs", &O::noEpochs),
        Flag("--no-synch", &O::noSynch),
        Text("--preset", &O::preset),
        Text("--demo-files", &O::demoDir),
        Text("--format", &O::format),
        Text("--abf-version", &O::abfVersion),
        Text("--mode", &O::mode),
        Text("--data", &O::data),
        Text("--signal", &O::signal),
        Text("--raw", &O::raw),
        Text("--date", &O::date),
        Text("--time", &O::time),
        Text("--creator", &O::creator, &O::creatorSet),
        Text("--protocol", &O::protocol, &O::protocolSet),
        Text("--comment", &O::comment, &O::commentSet),
        Number("--interval", &O::interval, true),
        Number("--rate", &O::rate, true),
        Number("--synch-unit", &O::synchUnit, false),
        Number("--start-to-start", &O::startToStart, false),
        Number("--adc-range", &O::adcRange, true),
        Whole("--samples", &O::samples, 0, INT32_MAX),
        Whole("--episodes", &O::episodes, 0, INT32_MAX),
        Whole("--episode-samples", &O::episodeSamples, 1, INT32_MAX),
        Whole("--channels", &O::channels, 1, 16),
        Whole("--active-dac", &O::activeDac, 0, 7),
        {"--seed", true, ParseSeed},
        WholeList("--episode-lengths", &O::lengths),
        WholeList("--episode-starts", &O::starts),
        List("--physical", &O::physical),
        List("--names", &O::names),
        List("--units", &O::units),
        List("--scale", &O::scale),
        List("--gain", &O::gain),
        List("--offset", &O::offset),
        List("--telegraph", &O::telegraph),
        Each("--holding", &O::holding),
        Each("--dac-name", &O::dacName),
        Each("--dac-units", &O::dacUnits),
        Each("--dac-scale", &O::dacScale),
        Each("--inter-episode", &O::interEpisode),
        Each("--epoch", &O::epochs),
        {"--tag", true, ParseTag},
    };
    return table;
}

// An option that refused its value; the reason is on stderr already.
struct Refused : CLI::ParseError {
    Refused() : CLI::ParseError("Refused", "refused", 2) {}
};

// The parser: every option of the table, each applied as it is met, in the order
// given (a later one overrides an earlier one; the repeatable ones add up), "-h"
// for --help. What is no option is left in the parser's remaining() for the
// output file.
void AddOptions(CLI::App* app, Options* o)
{
    app->set_help_flag();  // --help is an option of the table, the text kHelp
    app->allow_extras();
    for (const OptionSpec& spec : OptionTable()) {
        const std::string name = spec.name;
        auto apply = [&spec, name, o](const std::string& value) {
            if (!spec.apply(name, value, o)) throw Refused();
        };
        const std::string names = name == "--help" ? "-h,--help" : name;
        CLI::Option* option = spec.takesValue ? app->add_option_function<std::string>(names, apply)
                                              : app->add_flag_callback(names, [apply] { apply(""); });
        option->trigger_on_parse();
    }
}

bool ParseArgs(const std::vector<std::string>& args, Options* o)
{
    CLI::App app;
    AddOptions(&app, o);
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const Refused&) {
        return false;
    } catch (const CLI::ArgumentMismatch& e) {
        // An option at the end of the line, without its value ("--samples: ...").
        const std::string what = e.what();
        return Fail(what.substr(0, what.find(':')) + " needs a value");
    } catch (const CLI::ParseError& e) {
        return Fail(e.what());
    }
    for (const std::string& a : app.remaining()) {
        if (a.rfind("--", 0) == 0) return Fail("unknown option " + a + " (see --help)");
        if (!o->file.empty()) return Fail("more than one output file given");
        o->file = a;
    }
    return true;
}

// "D:VALUE" with D a DAC number; makes room for DAC D.
bool DacArg(const std::string& opt, const std::string& s, abfw::RecordingSpec* r, abfw::Dac** dac, std::string* value)
{
    const std::vector<std::string> p = Split(s, ':', 2);
    int64_t d;
    if (p.size() != 2 || !ParseInt(p[0], &d) || d < 0 || d >= abfw::kMaxDacs)
        return Fail(opt + " wants D:VALUE with D a DAC number 0..7, got \"" + s + "\"");
    if (r->dacs.size() <= size_t(d)) r->dacs.resize(size_t(d) + 1);
    *dac = &r->dacs[size_t(d)];
    *value = p[1];
    return true;
}

// The options that set one DAC ("D:VALUE"), in the order they are applied.
struct DacSetting {
    const char* option;
    std::vector<std::string> Options::*values;
    bool (*apply)(const std::string& opt, const std::string& value, abfw::Dac* dac);
};
const DacSetting kDacSettings[] = {
    {"--holding", &Options::holding,
     [](const std::string& opt, const std::string& v, abfw::Dac* d) {
         double x;
         return Num(opt, v, &x) && (d->holding = float(x), true);
     }},
    {"--dac-name", &Options::dacName,
     [](const std::string&, const std::string& v, abfw::Dac* d) { return d->name = v, true; }},
    {"--dac-units", &Options::dacUnits,
     [](const std::string&, const std::string& v, abfw::Dac* d) { return d->units = v, true; }},
    {"--dac-scale", &Options::dacScale,
     [](const std::string& opt, const std::string& v, abfw::Dac* d) {
         double x;
         return Num(opt, v, &x) && (d->scaleFactor = float(x), true);
     }},
    {"--inter-episode", &Options::interEpisode,
     [](const std::string& opt, const std::string& v, abfw::Dac* d) {
         int64_t x;
         return Int(opt, v, 0, 1, &x) && (d->interEpisodeLevel = int16_t(x), true);
     }},
};

template <typename F>
bool PerChannel(const std::string& opt, const std::vector<std::string>& list, abfw::RecordingSpec* r, F apply)
{
    if (list.size() > r->channels.size())
        return Fail(opt + " lists " + std::to_string(list.size()) + " values for " +
                    std::to_string(r->channels.size()) + " channels");
    for (size_t i = 0; i < list.size(); ++i)
        if (!apply(list[i], &r->channels[i])) return Fail(opt + ": bad value \"" + list[i] + "\"");
    return true;
}

abfw::Channel DefaultChannel(const abfw::RecordingSpec& base, size_t i)
{
    abfw::Channel c = base.channels[i % base.channels.size()];
    c.physical = int16_t(i);
    c.name = "IN " + std::to_string(i);
    return c;
}

// An option that names one of a few choices: *out set to the named one (an empty
// option leaves it as it is), or false with "unknown WHAT "VALUE"" and `hint`.
template <typename T>
bool Choose(const std::string& value, std::initializer_list<std::pair<const char*, T>> choices, const char* what,
            const char* hint, T* out)
{
    if (value.empty()) return true;
    for (const auto& c : choices) {
        if (value != c.first) continue;
        *out = c.second;
        return true;
    }
    return Fail("unknown " + std::string(what) + " \"" + value + "\"" + hint);
}

// The recording the command line starts from: a preset, or the default of the mode.
bool StartRecording(const Options& o, abfw::RecordingSpec* r)
{
    std::string error;
    abfw::Mode mode = abfw::Mode::GapFree;
    using M = abfw::Mode;
    if (!Choose<M>(o.mode,
                   {{"gapfree", M::GapFree},
                    {"3", M::GapFree},
                    {"episodic", M::Episodic},
                    {"5", M::Episodic},
                    {"variable", M::VariableEvents},
                    {"1", M::VariableEvents},
                    {"fixed", M::FixedEvents},
                    {"2", M::FixedEvents},
                    {"oscilloscope", M::Oscilloscope},
                    {"4", M::Oscilloscope}},
                   "mode", "", &mode))
        return false;
    if (!o.preset.empty()) {
        if (!abfw::MakePreset(o.preset, r, &error)) return Fail(error);
        if (!o.mode.empty() && mode != r->mode) return Fail("--mode cannot change a preset's mode");
    } else if (mode == abfw::Mode::GapFree) {
        *r = abfw::DefaultRecording();
    } else {
        *r = abfw::StepProtocolRecording();
        r->mode = mode;
        if (mode != abfw::Mode::Episodic) {
            r->synchTimeUnit = 0.0f;
            r->samplesPerEpisode = 2000;
            r->episodeStartToStartS = 0.0f;
            r->dacs[0].waveformEnable = false;
        }
        if (mode == abfw::Mode::VariableEvents) {
            r->episodeLengths = {2000, 3500, 1200, 20000, 800, 5000};
            r->episodes = 6;
        }
    }
    return true;
}

// Format, version, texts, date and time, sample format.
bool ApplyFile(const Options& o, abfw::RecordingSpec* r)
{
    using F = abfw::Format;
    if (!Choose<F>(o.format, {{"abf1", F::Abf1}, {"abf2", F::Abf2}}, "format", " (abf2 or abf1)", &r->format))
        return false;
    if (r->format == abfw::Format::Abf1 && r->dacs.size() > 4) r->dacs.resize(4);
    if (!o.abfVersion.empty()) {
        double v;
        if (!Num("--abf-version", o.abfVersion, &v)) return false;
        if (r->format == abfw::Format::Abf2) {
            const long minor = std::lround((v - 2.0) * 100.0);
            if (v < 2.0 || v >= 3.0 || minor < 0 || minor > 99)
                return Fail("--abf-version: ABF2 versions are 2.00 to 2.99");
            r->versionMinor = uint8_t(minor);
        } else {
            r->abf1Version = float(v);
        }
    }
    if (o.creatorSet) r->creator = o.creator;
    if (o.protocolSet) r->protocolPath = o.protocol;
    if (o.commentSet) r->comment = o.comment;
    if (!o.date.empty()) {
        int64_t d;
        if (!Int("--date", o.date, 0, 0xFFFFFFFFll, &d)) return false;
        r->startDate = uint32_t(d);
    }
    if (!o.time.empty()) {
        unsigned h = 0, m = 0, s = 0, ms = 0;
        char extra;
        const int n = std::sscanf(o.time.c_str(), "%u:%u:%u.%u%c", &h, &m, &s, &ms, &extra);
        if (n < 3 || n > 4 || h > 23 || m > 59 || s > 59 || ms > 999) return Fail("--time wants HH:MM:SS[.mmm]");
        r->startTimeMS = ((h * 60 + m) * 60 + s) * 1000 + ms;
    }
    using D = abfw::DataFormat;
    if (!Choose<D>(o.data, {{"float32", D::Float32}, {"int16", D::Int16}}, "data format", " (int16 or float32)",
                   &r->dataFormat))
        return false;
    return true;
}

// Timing and the amount of data.
bool ApplyAcquisition(const Options& o, abfw::RecordingSpec* r)
{
    if (o.interval > 0) r->sequenceIntervalUs = float(o.interval);
    if (o.rate > 0) r->sequenceIntervalUs = float(1e6 / o.rate);
    if (o.synchUnit >= 0) r->synchTimeUnit = float(o.synchUnit);
    if (o.startToStart >= 0) r->episodeStartToStartS = float(o.startToStart);
    if (o.adcRange > 0) r->adcRange = float(o.adcRange);
    if (o.noSynch) r->writeSynchArray = false;
    if (o.samples >= 0) r->samplesPerChannel = o.samples;
    if (o.episodeSamples > 0) r->samplesPerEpisode = int32_t(o.episodeSamples);
    if (o.episodes >= 0) {
        r->episodes = int32_t(o.episodes);
        if (o.lengths.empty()) r->episodeLengths.clear();
    }
    if (!o.lengths.empty()) {
        r->episodeLengths.assign(o.lengths.begin(), o.lengths.end());
        r->episodes = int32_t(o.lengths.size());
    }
    if (!o.starts.empty()) r->episodeStarts = o.starts;
    return true;
}

// The channels and their per-channel settings.
bool ApplyChannels(const Options& o, abfw::RecordingSpec* r)
{
    if (o.channels > 0) {
        const abfw::RecordingSpec base = *r;
        r->channels.clear();
        for (int64_t i = 0; i < o.channels; ++i) r->channels.push_back(DefaultChannel(base, size_t(i)));
    }
    if (!PerChannel("--physical", o.physical, r, [](const std::string& s, abfw::Channel* c) {
            int64_t v;
            if (!ParseInt(s, &v) || v < 0 || v > 15) return false;
            c->physical = int16_t(v);
            return true;
        }))
        return false;
    if (!PerChannel("--names", o.names, r, [](const std::string& s, abfw::Channel* c) {
            c->name = s;
            return true;
        }))
        return false;
    if (!PerChannel("--units", o.units, r, [](const std::string& s, abfw::Channel* c) {
            c->units = s;
            return true;
        }))
        return false;
    auto floatField = [](float abfw::Channel::*field, bool positive) {
        return [field, positive](const std::string& s, abfw::Channel* c) {
            double v;
            if (!ParseDouble(s, &v) || (positive && !(v > 0))) return false;
            c->*field = float(v);
            return true;
        };
    };
    if (!PerChannel("--scale", o.scale, r, floatField(&abfw::Channel::scaleFactor, true))) return false;
    if (!PerChannel("--gain", o.gain, r, floatField(&abfw::Channel::gain, true))) return false;
    if (!PerChannel("--offset", o.offset, r, floatField(&abfw::Channel::offset, false))) return false;
    if (!PerChannel("--telegraph", o.telegraph, r, [](const std::string& s, abfw::Channel* c) {
            double v;
            if (!ParseDouble(s, &v) || v < 0) return false;
            c->telegraph = v > 0;
            c->telegraphGain = v > 0 ? float(v) : 1.0f;
            return true;
        }))
        return false;
    return true;
}

// The DACs: holding levels, names, units, epochs.
bool ApplyStimulus(const Options& o, abfw::RecordingSpec* r)
{
    if (o.noEpochs)
        for (abfw::Dac& d : r->dacs) {
            for (abfw::Epoch& e : d.epochs) e = abfw::Epoch();
            d.waveformEnable = false;
        }
    if (o.activeDac >= 0) r->activeDac = int16_t(o.activeDac);
    for (const DacSetting& setting : kDacSettings)
        for (const std::string& arg : o.*setting.values) {
            abfw::Dac* d = nullptr;
            std::string v;
            if (!DacArg(setting.option, arg, r, &d, &v) || !setting.apply(setting.option, v, d)) return false;
        }
    for (const std::string& s : o.epochs) {
        const std::vector<std::string> p = Split(s, ':');
        if (p.size() < 6 || p.size() > 10)
            return Fail("--epoch wants D:I:TYPE:LEVEL:LEVELINC:DUR[:DURINC[:PERIOD[:WIDTH[:DIGITAL]]]]");
        int64_t d, i, dur, durInc = 0, period = 0, width = 0, digital = 0;
        double level, inc;
        abfw::Epoch e;
        if (!Int("--epoch DAC", p[0], 0, 7, &d) || !Int("--epoch index", p[1], 0, 9, &i) || !EpochType(p[2], &e.type) ||
            !Num("--epoch level", p[3], &level) || !Num("--epoch level increment", p[4], &inc) ||
            !Int("--epoch duration", p[5], 0, INT32_MAX, &dur) ||
            (p.size() > 6 && !Int("--epoch duration increment", p[6], INT32_MIN, INT32_MAX, &durInc)) ||
            (p.size() > 7 && !Int("--epoch period", p[7], 0, INT32_MAX, &period)) ||
            (p.size() > 8 && !Int("--epoch width", p[8], 0, INT32_MAX, &width)) ||
            (p.size() > 9 && !Int("--epoch digital value", p[9], 0, 0xFFFF, &digital)))
            return false;
        e.initLevel = float(level);
        e.levelInc = float(inc);
        e.initDuration = int32_t(dur);
        e.durationInc = int32_t(durInc);
        e.pulsePeriod = int32_t(period);
        e.pulseWidth = int32_t(width);
        e.digitalValue = int16_t(uint16_t(digital));
        if (r->dacs.size() <= size_t(d)) r->dacs.resize(size_t(d) + 1);
        r->dacs[size_t(d)].epochs[i] = e;
        r->dacs[size_t(d)].waveformEnable = true;
    }
    return true;
}

// Tags, in seconds from the start of the recording.
bool ApplyTags(const Options& o, abfw::RecordingSpec* r)
{
    if (o.noTags) r->tags.clear();
    for (const TagArg& t : o.tags) {
        if (t.seconds * 1e6 / abfw::SynchCountUs(*r) > 2147483647.0)
            return Fail("--tag: " + std::to_string(t.seconds) + " s is beyond the last synch count");
        abfw::Tag tag;
        tag.type = t.type;
        tag.time = abfw::SecondsToCounts(*r, t.seconds);
        tag.comment = t.text;
        r->tags.push_back(tag);
    }
    return true;
}

// Where the sample values come from.
bool ApplySignal(const Options& o, abfw::RecordingSpec* r)
{
    if (o.seedSet) r->seed = o.seed;
    if (!o.signal.empty()) {
        bool noise = false, steps = false, spikes = false, sine = false;
        for (const std::string& s : Split(o.signal, ',')) {
            if (s == "noise")
                noise = true;
            else if (s == "steps")
                steps = true;
            else if (s == "spikes")
                spikes = true;
            else if (s == "sine")
                sine = true;
            else if (s != "none")
                return Fail("unknown signal component \"" + s + "\"");
        }
        for (abfw::Channel& c : r->channels) {
            if (!noise) c.noise = 0;
            if (!steps) c.stepAmplitude = 0;
            if (!spikes) c.spikeAmplitude = 0;
            if (!sine) c.sineAmplitude = 0;
        }
    }
    if (!o.raw.empty()) {
        r->source = abfw::SignalSource::RawFile;
        r->rawPath = o.raw;
        if (r->mode == abfw::Mode::GapFree && o.samples < 0) {
            std::error_code ec;
            const uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(o.raw), ec);
            if (ec) return Fail("cannot read raw sample file \"" + o.raw + "\"");
            r->samplesPerChannel = int64_t(size / 4 / r->channels.size());
        }
    }
    return true;
}

bool Build(const Options& o, abfw::RecordingSpec* r)
{
    return StartRecording(o, r) && ApplyFile(o, r) && ApplyAcquisition(o, r) && ApplyChannels(o, r) &&
           ApplyStimulus(o, r) && ApplyTags(o, r) && ApplySignal(o, r);
}

void PrintLayout(const abfw::Layout& l)
{
    for (const abfw::SectionInfo& s : l.sections)
        std::printf("  %-12s at byte %10lld (block %6lld), %lld x %u bytes\n", s.name.c_str(), (long long)s.offset,
                    (long long)(s.offset / abfformat::kBlockBytes), (long long)s.count, s.entryBytes);
    std::printf("  file size %lld bytes, %lld samples in all channels\n", (long long)l.fileSize,
                (long long)l.muxSamples);
}

bool Write(const abfw::RecordingSpec& r, const std::string& path, bool showLayout)
{
    std::string error;
    abfw::Layout layout;
    if (!abfw::WriteAbf(r, path, &error, &layout)) return Fail(error);
    std::printf("wrote %s\n", path.c_str());
    if (showLayout) PrintLayout(layout);
    return true;
}

}  // namespace

const char* HelpText() { return kHelp; }
const std::vector<std::string>& OptionNames()
{
    static const std::vector<std::string> names = [] {
        Options o;
        CLI::App app;
        AddOptions(&app, &o);
        std::vector<std::string> v;
        for (const CLI::Option* option : app.get_options()) v.push_back(option->get_name());
        return v;
    }();
    return names;
}

bool BuildRecording(const std::vector<std::string>& args, abfw::RecordingSpec* rec, std::string* file)
{
    Options o;
    if (!ParseArgs(args, &o)) return false;
    if (file) *file = o.file;
    return Build(o, rec);
}

int Main(int argc, char** argv)
{
    Options o;
    if (!ParseArgs(std::vector<std::string>(argv + 1, argv + argc), &o)) return 2;
    if (o.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (o.listPresets) {
        for (const abfw::PresetInfo& p : abfw::Presets())
            std::printf("%-28s %s%s\n", p.name, p.malformed ? "[malformed] " : "", p.description);
        return 0;
    }
    if (!o.demoDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::u8path(o.demoDir), ec);
        if (ec) return Fail("cannot create folder \"" + o.demoDir + "\""), 1;
        const std::string dir = o.demoDir + "/";
        abfw::RecordingSpec gapfree = abfw::DefaultRecording(), steps = abfw::StepProtocolRecording();
        return Write(gapfree, dir + "demo_gapfree.abf", o.layout) && Write(steps, dir + "demo_steps.abf", o.layout) ? 0
                                                                                                                    : 1;
    }
    if (o.file.empty()) {
        std::fputs("usage: abfgen [options] FILE.abf (see --help)\n", stderr);
        return 2;
    }
    abfw::RecordingSpec r;
    if (!Build(o, &r)) return 2;
    return Write(r, o.file, o.layout) ? 0 : 1;
}

}  // namespace abfgen
