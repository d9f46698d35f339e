#include "demo.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "abffio/writer/abf_writer.h"
#include "cli.h"
#include "interface/abffio.h"

namespace kavhost {

const char kDemoGapFreeFile[] = "demo_gapfree.abf";
const char kDemoStepsFile[] = "demo_steps.abf";

std::string DemoNumber(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCallColumn = 50;  // where "->" starts
constexpr std::size_t kWidth = 100;      // folded text lines
constexpr int kHistoryLinesShown = 8;
constexpr std::size_t kSegmentsShown = 8;
// Wave lengths the demo makes from the counts it is told; other counts (a query
// that is not built or failed) give way to the writer's own figure.
constexpr double kMaxPoints = 50e6;

const char* ModeName(double mode)
{
    switch (static_cast<int>(mode)) {
    case kAbfVariableLengthEvents: return "event-driven, variable length";
    case kAbfFixedLengthEvents: return "event-driven, fixed length";
    case kAbfGapFree: return "gap-free";
    case kAbfHighSpeedOscilloscope: return "high-speed oscilloscope";
    case kAbfEpisodic: return "episodic stimulation";
    default: return "unknown mode";
    }
}

// Text in double quotes as the account shows it (control characters as '?').
std::string Quote(const std::string& s)
{
    std::string q = "\"";
    for (char c : s) q.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
    return q + "\"";
}

std::string Plural(long long n, const std::string& one, const std::string& many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Folds "k=v;k=v;..." (or any text) into lines of at most kWidth characters,
// breaking after a ';' where possible.
void PrintFolded(std::ostream& o, const std::string& label, const std::string& text)
{
    const std::string indent(label.size(), ' ');
    std::string line = label;
    std::size_t start = 0;
    if (text.empty()) {
        o << label << "(empty)\n";
        return;
    }
    while (start < text.size()) {
        std::size_t end = text.find(';', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string piece = text.substr(start, end - start);
        if (line.size() > indent.size() && line.size() + piece.size() > kWidth) {
            o << line << "\n";
            line = indent;
        }
        line += piece;
        start = end;
    }
    o << line << "\n";
}

// By-reference number i after the call.
double NumberAfter(const CallResult& r, std::size_t i) { return r.args[i].number; }

struct Demo {
    Host& h;
    std::ostream& o;
    int calls = 0;
    int notBuilt = 0;
    int unexpected = 0;
    int unclean = 0;

    // Prints the command line and calls the function; false (after printing
    // "(not built)") when the plug-in does not offer it.
    bool Call(const std::string& shown, const std::string& name, const std::vector<Arg>& args, CallResult* r)
    {
        std::string line = "  " + shown;
        if (line.size() < kCallColumn) line.resize(kCallColumn, ' ');
        o << line << " ";
        const FunctionInfo* f = h.Function(name);
        if (!f || !h.FunctionAddress(f->index)) {
            o << "(not built)\n";
            ++notBuilt;
            return false;
        }
        *r = h.Call(name, args);
        if (!r->called) {
            o << "(not called: " << r->error << ")\n";
            ++unexpected;
            return false;
        }
        ++calls;
        if (!r->Clean()) {
            ++unclean;
            o << "[host audit: leaked " << r->leaked << ", released twice " << r->doubleReleased
              << ", used after release " << r->useAfterRelease << "] ";
            for (auto& v : r->violations) o << "[" << v << "] ";
        }
        return true;
    }

    // "-> 1" or "-> status 10010 (text)".
    std::string Outcome(const CallResult& r) const
    {
        if (r.status != 0) {
            std::string et = h.ErrorText(r.status);
            return "-> status " + std::to_string(r.status) + (et.empty() ? "" : " \"" + et + "\"");
        }
        if (r.stringResult) return "-> " + (r.resultNull ? std::string("(null string)") : Quote(r.resultString));
        return "-> " + DemoNumber(r.resultNumber);
    }

    // A call that should have done its work (status 0, numeric result 1).
    bool Worked(const CallResult& r)
    {
        if (r.status == 0 && r.resultNumber == 1) return true;
        ++unexpected;
        o << "    (unexpected: this call should have succeeded; ";
        CallResult e;
        if (h.Function("kav_AbfLastErrStr") && h.FunctionAddress(h.Function("kav_AbfLastErrStr")->index)) {
            e = h.Call("kav_AbfLastErrStr", {});
            ++calls;
            if (!e.Clean()) ++unclean;
            o << "last error " << Quote(e.resultString);
        }
        o << ")\n";
        return false;
    }

    // Type, points, X scaling, units; first/last/min/max samples.
    void ShowWave(const std::string& name, const Wave& w)
    {
        const long long n = w.Points();
        o << "    " << name << ": " << WaveTypeName(w.Type()) << ", " << Plural(n, "point", "points");
        if (n > 0)
            o << ", x = " << DemoNumber(w.xstart) << " + p*" << DemoNumber(w.xstep) << " " << w.xunits
              << " (last point at " << DemoNumber(w.xstart + w.xstep * double(n - 1)) << " " << w.xunits << ")";
        o << ", data units " << Quote(w.dataunits) << "\n";
        const std::vector<double> v = w.Values();
        if (v.empty()) return;
        auto at = [&](std::size_t i) { return DemoNumber(w.xstart + w.xstep * double(i)); };
        const std::size_t lo = std::size_t(std::min_element(v.begin(), v.end()) - v.begin());
        const std::size_t hi = std::size_t(std::max_element(v.begin(), v.end()) - v.begin());
        o << "    samples: first " << DemoNumber(v.front()) << ", last " << DemoNumber(v.back()) << ", min "
          << DemoNumber(v[lo]) << " (at " << at(lo) << " " << w.xunits << "), max " << DemoNumber(v[hi]) << " (at "
          << at(hi) << " " << w.xunits << ")\n";
    }

    // The levels of a stepped waveform with the time each begins.
    void ShowSegments(const Wave& w)
    {
        const std::vector<double> v = w.Values();
        std::vector<std::size_t> starts;
        for (std::size_t i = 0; i < v.size(); ++i)
            if (i == 0 || v[i] != v[i - 1]) starts.push_back(i);
        o << "    levels: ";
        for (std::size_t k = 0; k < starts.size() && k < kSegmentsShown; ++k)
            o << (k ? ", " : "") << DemoNumber(v[starts[k]]) << " " << w.dataunits << " from "
              << DemoNumber(w.xstart + w.xstep * double(starts[k])) << " " << w.xunits;
        if (starts.size() > kSegmentsShown) o << ", ... (" << starts.size() << " levels in all)";
        o << "\n";
    }

    void ShowTimes(const Wave& w, const char* kind)
    {
        const std::vector<double> v = w.Values();
        o << "    " << Plural(static_cast<long long>(v.size()), std::string(kind) + " tag", std::string(kind) + " tags");
        for (std::size_t i = 0; i < v.size() && i < 10; ++i) o << (i ? ", " : " at ") << DemoNumber(v[i]) << " s";
        if (v.size() > 10) o << ", ...";
        o << " (wave now " << WaveTypeName(w.Type()) << ")\n";
    }
};

std::string Describe(const abfw::RecordingSpec& r)
{
    std::string s = r.mode == abfw::Mode::GapFree ? "gap-free" : "episodic";
    s += ", " + Plural(long(r.channels.size()), "channel", "channels") + " (";
    for (std::size_t i = 0; i < r.channels.size(); ++i)
        s += (i ? ", " : "") + r.channels[i].name + " in " + r.channels[i].units;
    s += "), " + DemoNumber(1e6 / r.sequenceIntervalUs / 1000.0) + " kHz";
    if (r.mode == abfw::Mode::GapFree)
        s += ", " + DemoNumber(double(r.samplesPerChannel) * r.sequenceIntervalUs * 1e-6) + " s";
    else
        s += ", " + Plural(r.episodes, "sweep", "sweeps") + " of " +
             DemoNumber(double(r.samplesPerEpisode) * r.sequenceIntervalUs * 1e-6) + " s every " +
             DemoNumber(r.episodeStartToStartS) + " s";
    s += ", " + Plural(long(r.tags.size()), "tag", "tags");
    return s;
}

// A folder of its own under the system's temporary folder.
bool MakeTemporaryFolder(fs::path* out, std::string* error)
{
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) {
        *error = "no temporary folder: " + ec.message();
        return false;
    }
    auto seed = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "kav_Sorvan-demo-%llx", (seed + unsigned(attempt) * 7919ULL) & 0xFFFFFFULL);
        fs::path p = base / name;
        if (fs::create_directory(p, ec)) {
            *out = p;
            return true;
        }
    }
    *error = "cannot create a folder in " + base.string();
    return false;
}

int Finish(Demo& d)
{
    d.o << "\nHost audit: " << Plural(d.calls, "call", "calls") << ", ";
    if (d.unclean == 0 && d.h.AuditClean())
        d.o << "every handle accounted for (none leaked, released twice or used after release)\n";
    else
        d.o << Plural(d.unclean, "call", "calls") << " with ownership faults; " << d.h.AuditReport() << "\n";
    if (d.notBuilt) d.o << Plural(d.notBuilt, "call was", "calls were") << " skipped: function not built yet\n";
    if (d.unexpected) d.o << Plural(d.unexpected, "call", "calls") << " did not do what was expected\n";
    return d.unclean == 0 && d.unexpected == 0 && d.h.AuditClean() ? 0 : 1;
}

// The start-up as the host saw it; false when the host was refused.
bool ShowStartup(Host& host, std::ostream& out)
{
    out << "kav_Sorvan at work\n==================\n";
    int built = 0;
    for (auto& f : host.Functions()) built += host.FunctionAddress(f.index) != nullptr;
    out << "Start-up: ";
    if (host.EffectiveVersionAnswer() < 0)
        out << "version message unanswered (the plug-in read the program file's version)";
    else
        out << "version message answered with " << host.EffectiveVersionAnswer();
    out << "; main returned " << host.MainResult() << ", record result " << host.RecordResult() << ": "
        << (host.Accepted() ? "host accepted" : "host refused") << ";\n  message handler "
        << (host.EntryInstalled() ? "installed" : "NOT installed") << "; " << host.Functions().size()
        << " external functions, " << built << " built.\n";
    return host.Accepted();
}

// The folder of the recordings: `dir` (created when missing) or a new temporary one.
bool DemoFolder(const std::string& dir, fs::path* folder, std::string* error)
{
    if (dir.empty()) {
        if (!MakeTemporaryFolder(folder, error)) return false;
    } else {
        std::error_code ec;
        *folder = fs::u8path(dir);
        fs::create_directories(*folder, ec);
        *folder = fs::absolute(*folder, ec);
        if (ec) {
            *error = "cannot use the folder \"" + dir + "\": " + ec.message();
            return false;
        }
    }
    folder->make_preferred();
    return true;
}

// The two sample recordings and where they are.
struct DemoFiles {
    abfw::RecordingSpec gapRec, stepRec;
    std::string gap, steps;
    fs::path folder;
};

// Calls `function(label, variable)` on the recording at `path`, a query with one
// number by reference, and shows the number (a mode with its name) and the remark.
// Returns the number after the call (0 when the function is not built).
double ShowNumber(Demo& d, const std::string& function, const std::string& label, const std::string& path,
                  const std::string& variable, const std::string& remark = "")
{
    CallResult r;
    if (!d.Call(function + "(" + label + ", " + variable + ")", function, {Str(path), NumRef(0)}, &r)) return 0;
    const double number = NumberAfter(r, 1);
    d.o << d.Outcome(r) << "   " << variable << " = " << DemoNumber(number);
    if (function == "kav_AbfOperationMode") d.o << " (" << ModeName(number) << ")";
    d.o << remark << "\n";
    d.Worked(r);
    return number;
}

// 1 to 3: the gap-free recording's shape, channel 0 and the tags.
void GapFreeSections(Demo& d, const std::string& gap, const abfw::RecordingSpec& gapRec)
{
    Host& host = d.h;
    std::ostream& out = d.o;
    CallResult r;

    out << "\n1. The gap-free recording: its shape\n";
    double perChannel = 0;
    if (d.Call("kav_AbfIsAbfFile(gapfree)", "kav_AbfIsAbfFile", {Str(gap)}, &r)) {
        out << d.Outcome(r) << "   (an ABF file)\n";
        d.Worked(r);
    }
    if (d.Call("kav_AbfHasData(gapfree)", "kav_AbfHasData", {Str(gap)}, &r)) {
        out << d.Outcome(r) << "   (it holds data)\n";
        d.Worked(r);
    }
    ShowNumber(d, "kav_AbfOperationMode", "gapfree", gap, "mode");
    ShowNumber(d, "kav_AbfChannelCount", "gapfree", gap, "nch");
    ShowNumber(d, "kav_AbfEpisodeCount", "gapfree", gap, "neps", " (the library's reads)");
    perChannel = ShowNumber(d, "kav_AbfTotalSampleCount", "gapfree", gap, "n", " (samples of each channel)");
    if (d.Call("kav_AbfADCSamplingSeq(gapfree, seq)", "kav_AbfADCSamplingSeq", {Str(gap), StrRef("")}, &r)) {
        out << d.Outcome(r) << "   seq = " << Quote(r.args[1].text) << " (physical channels in order)\n";
        d.Worked(r);
    }
    if (!(perChannel >= 1 && perChannel <= kMaxPoints)) perChannel = double(gapRec.samplesPerChannel);

    out << "\n2. Channel 0 read into a wave of n points\n";
    const int32_t points = int32_t(perChannel);
    out << "  Make/N=" << points << " ch0\n";
    if (Wave* w = host.MakeWave(kWaveFloat32, {points}, "ch0");
        w && d.Call("kav_AbfChannelRead(gapfree, 0, ch0)", "kav_AbfChannelRead", {Str(gap), Num(0), WaveArg(w)}, &r)) {
        out << d.Outcome(r) << "\n";
        if (d.Worked(r)) {
            d.ShowWave("ch0", *w);
            PrintFolded(out, "    note: ", w->note);
        }
    }

    out << "\n3. Its tags (any 1-D numeric wave; it becomes double precision, one point per tag)\n";
    out << "  Make/N=1 tt, xt\n";
    if (Wave* w = host.MakeWave(kWaveFloat32, {1}, "tt");
        w && d.Call("kav_AbfReadTimeTags(gapfree, tt)", "kav_AbfReadTimeTags", {Str(gap), WaveArg(w)}, &r)) {
        out << d.Outcome(r) << "\n";
        if (d.Worked(r)) d.ShowTimes(*w, "time");
    }
    if (Wave* w = host.MakeWave(kWaveFloat32, {1}, "xt");
        w && d.Call("kav_AbfReadExternalTags(gapfree, xt)", "kav_AbfReadExternalTags", {Str(gap), WaveArg(w)}, &r)) {
        out << d.Outcome(r) << "\n";
        if (d.Worked(r)) d.ShowTimes(*w, "external");
    }
    {
        std::string comments;
        int n = 0;
        for (const abfw::Tag& t : gapRec.tags)
            if (t.type == kAbfCommentTag)
                comments += std::string(n++ ? ", " : "") + Quote(t.comment) + " at " +
                            DemoNumber(double(t.time) * abfw::SynchCountUs(gapRec) * 1e-6) + " s";
        if (n)
            out << "    (also " << Plural(n, "comment tag", "comment tags") << ": " << comments
                << "; neither function reports those)\n";
    }
}

// 4: the step protocol's shape, one sweep and its stimulus. The sweep's length in
// *sweepPoints.
void StepSections(Demo& d, const std::string& steps, const abfw::RecordingSpec& stepRec, int32_t* sweepPointsOut)
{
    Host& host = d.h;
    std::ostream& out = d.o;
    CallResult r;

    out << "\n4. The step protocol: its shape, and sweep 3 (episodes count from 1)\n";
    const int episode = 3;
    double sweepSamples = 0;
    ShowNumber(d, "kav_AbfOperationMode", "steps", steps, "mode");
    ShowNumber(d, "kav_AbfEpisodeCount", "steps", steps, "neps");
    if (d.Call("kav_AbfSampleCount(steps, 3, n)", "kav_AbfSampleCount", {Str(steps), Num(episode), NumRef(0)}, &r)) {
        sweepSamples = NumberAfter(r, 2);
        out << d.Outcome(r) << "   n = " << DemoNumber(sweepSamples) << " (samples per channel)\n";
        d.Worked(r);
    }
    if (d.Call("kav_AbfStartTime(steps, 0, 3, t0)", "kav_AbfStartTime", {Str(steps), Num(0), Num(episode), NumRef(0)},
               &r)) {
        out << d.Outcome(r) << "   t0 = " << DemoNumber(NumberAfter(r, 3)) << " (ms from the start)\n";
        d.Worked(r);
    }
    if (!(sweepSamples >= 1 && sweepSamples <= kMaxPoints)) sweepSamples = stepRec.samplesPerEpisode;
    const int32_t sweepPoints = int32_t(sweepSamples);
    *sweepPointsOut = sweepPoints;
    out << "  Make/N=" << sweepPoints << " sweep3, stim3\n";
    // Channel 0 of the sweep into a new wave; the wave when the call worked.
    auto readSweep = [&](const char* function, const char* wave) -> Wave* {
        Wave* w = host.MakeWave(kWaveFloat32, {sweepPoints}, wave);
        const std::string shown = std::string(function) + "(steps, 0, 3, " + wave + ")";
        if (!w || !d.Call(shown, function, {Str(steps), Num(0), Num(episode), WaveArg(w)}, &r)) return nullptr;
        out << d.Outcome(r) << "\n";
        if (!d.Worked(r)) return nullptr;
        d.ShowWave(wave, *w);
        return w;
    };
    if (Wave* w = readSweep("kav_AbfEpisodeRead", "sweep3")) PrintFolded(out, "    note: ", w->note);
    out << "  The stimulus of that sweep (DAC 0's command, as the protocol defines it):\n";
    if (Wave* w = readSweep("kav_AbfEpisodeWaveform", "stim3")) d.ShowSegments(*w);
}

// 5 and 6: the header as a listing and as a string, and the file-name split.
void HeaderSections(Demo& d, const std::string& steps)
{
    std::ostream& out = d.o;
    CallResult r;

    out << "\n5. The header: as a listing printed into the history (its first " << kHistoryLinesShown
        << " lines), and as a string\n";
    d.h.ClearHistory();
    if (d.Call("kav_AbfPrintMetaData(steps)", "kav_AbfPrintMetaData", {Str(steps)}, &r)) {
        out << d.Outcome(r) << "\n";
        if (d.Worked(r)) {
            std::vector<std::string> lines = d.h.HistoryLines();
            while (!lines.empty() && lines.back().empty()) lines.pop_back();
            for (int i = 0; i < kHistoryLinesShown && std::size_t(i) < lines.size(); ++i) {
                std::string l = lines[std::size_t(i)];
                if (l.size() > kWidth - 4) l = l.substr(0, kWidth - 8) + " ...";
                out << "    " << l << "\n";
            }
            if (lines.size() > std::size_t(kHistoryLinesShown))
                out << "    ... and " << lines.size() - kHistoryLinesShown << " more lines\n";
        }
    }

    if (d.Call("kav_AbfMetaData(steps, kv)", "kav_AbfMetaData", {Str(steps), StrRef("")}, &r)) {
        out << d.Outcome(r) << "   the same header as one key=value string:\n";
        if (d.Worked(r)) {
            const std::string& kv = r.args[1].text;
            std::string head = kv.substr(0, kWidth - 20);
            out << "    kv = " << Quote(head + (head.size() < kv.size() ? "..." : "")) << "\n    (" << kv.size()
                << " characters; among them ";
            int shown = 0;
            for (const char* key : {"lActualEpisodes", "nADCNumChannels", "fADCSequenceInterval"}) {
                const std::string k = std::string(key) + "=";
                std::size_t at = kv.compare(0, k.size(), k) == 0 ? 0 : kv.find(";" + k);
                if (at == std::string::npos) continue;
                at += at == 0 ? k.size() : k.size() + 1;
                out << (shown++ ? ", " : "") << k << kv.substr(at, kv.find(';', at) - at);
            }
            out << ")\n";
        }
    }

    out << "\n6. File names for a procedure that builds the names it reads\n";
    if (d.Call("kav_AbfFileSplitPath(steps, drv, dir, name, ext)", "kav_AbfFileSplitPath",
               {Str(steps), StrRef(""), StrRef(""), StrRef(""), StrRef("")}, &r)) {
        out << d.Outcome(r) << " (one bit per non-empty part)\n    drv = " << Quote(r.args[1].text)
            << ", dir = " << Quote(r.args[2].text) << ", name = " << Quote(r.args[3].text)
            << ", ext = " << Quote(r.args[4].text) << "\n";
        if (r.status != 0) ++d.unexpected;
    }
}

// 7: wrong use and an unreadable file.
void FailureSection(Demo& d, const DemoFiles& files, int32_t sweepPoints)
{
    Host& host = d.h;
    std::ostream& out = d.o;
    const std::string& steps = files.steps;
    CallResult r;

    out << "\n7. When something is wrong: wrong use gives a status that the host reports; a file the\n"
        << "   library cannot read gives a result of 0 and leaves the library's error to be asked for\n";
    if (Wave* w = host.MakeWave(kWaveFloat32, {sweepPoints}, "bad");
        w && d.Call("kav_AbfChannelRead(steps, 0, bad)", "kav_AbfChannelRead", {Str(steps), Num(0), WaveArg(w)}, &r)) {
        out << d.Outcome(r) << "\n";
        if (r.status == 0) ++d.unexpected;
    }
    const std::string missing = (files.folder / "no such file.abf").string();
    if (d.Call("kav_AbfChannelCount(\"" + fs::path(missing).filename().string() + "\", nch)", "kav_AbfChannelCount",
               {Str(missing), NumRef(0)}, &r)) {
        out << d.Outcome(r) << "\n";
        if (r.status != 0 || r.resultNumber != 0) ++d.unexpected;
    }
    if (d.Call("kav_AbfLastErr()", "kav_AbfLastErr", {}, &r)) out << d.Outcome(r) << "\n";
    if (d.Call("kav_AbfLastErrStr()", "kav_AbfLastErrStr", {}, &r)) {
        if (r.status == 0 && r.stringResult && !r.resultNull)
            out << "-> the text:\n    " << r.resultString << "\n";
        else
            out << d.Outcome(r) << "\n";
    }
}

}  // namespace

int RunDemo(Host& host, const std::string& dir, std::ostream& out)
{
    Demo d{host, out};
    if (!ShowStartup(host, out)) return 1;

    DemoFiles files{abfw::DefaultRecording(), abfw::StepProtocolRecording(), "", "", fs::path()};
    const bool temporary = dir.empty();
    std::string error;
    if (!DemoFolder(dir, &files.folder, &error)) {
        out << "demo: " << error << "\n";
        return 1;
    }
    files.gap = (files.folder / kDemoGapFreeFile).string();
    files.steps = (files.folder / kDemoStepsFile).string();
    if (!abfw::WriteAbf(files.gapRec, files.gap, &error) || !abfw::WriteAbf(files.stepRec, files.steps, &error)) {
        out << "demo: " << error << "\n";
        std::error_code ec;
        if (temporary) fs::remove_all(files.folder, ec);
        return 1;
    }
    out << "Two sample recordings written into " << files.folder.string()
        << (temporary ? " (temporary, removed afterwards)" : "") << ":\n"
        << "  String gapfree = " << Quote(files.gap) << "\n    " << Describe(files.gapRec) << "\n"
        << "  String steps = " << Quote(files.steps) << "\n    " << Describe(files.stepRec) << "\n"
        << "Below, each call as a host command line would write it, then what came back. A numeric\n"
        << "result of 1 means the work was done, 0 that it failed (kav_AbfLastErrStr() tells why).\n";

    GapFreeSections(d, files.gap, files.gapRec);
    int32_t sweepPoints = 0;
    StepSections(d, files.steps, files.stepRec, &sweepPoints);
    HeaderSections(d, files.steps);
    FailureSection(d, files, sweepPoints);

    if (temporary) {
        std::error_code ec;
        fs::remove_all(files.folder, ec);
    }
    return Finish(d);
}

}  // namespace kavhost
