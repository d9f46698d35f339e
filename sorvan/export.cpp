// sorvan export: every input opened, planned (waves, names, notes) and handed to
// the writer of the chosen format; an input's files appear together when all are
// complete, and a failing input leaves nothing behind.
#include "sorvan/export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include <fmt/format.h>

#include "sorvan/commands.h"
#include "sorvan/names.h"
#if defined(SORVAN_HAVE_NWB)
#include "nwb/nwb.h"
#endif

namespace sorvan {

uint32_t ExportJob::Blocks(const WaveSpec& w) const { return w.source == WaveSpec::kChannel ? rec->Episodes() : 1; }

uint32_t ExportJob::MaxBlock() const
{
    uint64_t most = rec->SampleLimit();
    for (const auto& waves : stimulus)
        for (const WaveSpec& w : waves) most = std::max(most, w.points);
    return static_cast<uint32_t>(std::max<uint64_t>(most, 1));
}

bool ExportJob::ReadBlock(const WaveSpec& w, uint32_t k, float* out, uint32_t* count, std::string* error)
{
    if (Interrupted()) {
        *error = "interrupted";
        return false;
    }
    bool ok = false;
    switch (w.source) {
    case WaveSpec::kChannel: ok = rec->Read(w.logical, k + 1, out, count); break;
    case WaveSpec::kEpisode: ok = rec->Read(w.logical, w.episode, out, count); break;
    case WaveSpec::kStimulus:
        ok = rec->ReadStimulus(w.logical, w.episode, out);
        *count = static_cast<uint32_t>(w.points);
        break;
    }
    if (!ok) *error = rec->Error();
    progress->Advance();
    return ok;
}

bool ExportJob::Create(const std::string& fileName, OutputFile* file, std::string* error)
{
    const std::string path = (std::filesystem::path(folder) / fileName).string();
    if (!written->insert(path).second) {
        *error = path + " was already written by an earlier input of this run (two inputs of the same name?)";
        return false;
    }
    return file->Create(path, error);
}

bool ExportJob::Finish(OutputFile* file, std::string* error)
{
    if (!file->Close(error)) return false;
    group->Add(*file);
    return true;
}

namespace {

// Igor's spellings of the non-finite values; the shortest text that reads back as
// the same value otherwise.
template <typename T>
void AppendNumberText(std::string* out, T value)
{
    if (std::isnan(value))
        out->append("NaN");
    else if (std::isinf(value))
        out->append(value > 0 ? "INF" : "-INF");
    else
        fmt::format_to(std::back_inserter(*out), "{}", value);
}

}  // namespace

void AppendNumber(std::string* out, float value) { AppendNumberText(out, value); }
void AppendNumber(std::string* out, double value) { AppendNumberText(out, value); }

void Complain(const std::string& path, const std::string& text)
{
    if (text.find(path) != std::string::npos)
        std::fprintf(stderr, "sorvan: %s\n", text.c_str());
    else
        std::fprintf(stderr, "sorvan: %s: %s\n", path.c_str(), text.c_str());
}

namespace {

std::unique_ptr<Writer> MakeWriter(const std::string& format)
{
    if (format == "ibw") return MakeIbwWriter();
    if (format == "itx") return MakeItxWriter();
    if (format == "csv") return MakeCsvWriter();
    if (format == "npy") return MakeNpyWriter();
#if defined(SORVAN_HAVE_NWB)
    if (format == "nwb") return MakeNwbWriter();
#endif
    return nullptr;
}

// Fills the job's waves from the recording and the user's choices. False with
// a one-line reason when the choices do not fit the recording.
bool Plan(const ExportOptions& o, Recording& rec, ExportJob* job, std::string* error)
{
    std::vector<uint32_t> channels, episodes;
    ParseList(o.channels, 0, &channels, error);  // checked by the command line
    ParseList(o.episodes, 1, &episodes, error);
    const uint32_t channelCount = static_cast<uint32_t>(rec.Channels().size());
    if (channelCount == 0) {
        *error = "the recording has no channels";
        return false;
    }
    if (channels.empty())
        for (uint32_t c = 0; c < channelCount; ++c) channels.push_back(c);
    for (uint32_t c : channels)
        if (c >= channelCount) {
            *error = fmt::format("channel {} out of range (the recording has channels 0 to {})", c, channelCount - 1);
            return false;
        }
    if (rec.Episodes() == 0) {
        *error = "the recording holds no data";
        return false;
    }
    if (rec.GapFree()) {
        if (!episodes.empty()) {
            *error = "a gap-free recording has no episodes to choose (leave out --episodes)";
            return false;
        }
    } else {
        if (episodes.empty())
            for (uint32_t e = 1; e <= rec.Episodes(); ++e) episodes.push_back(e);
        for (uint32_t e : episodes)
            if (e > rec.Episodes()) {
                *error = fmt::format("episode {} out of range (the recording has episodes 1 to {})", e, rec.Episodes());
                return false;
            }
    }

    // The stem leaves room for the longest suffix any wave of this file gets.
    const std::size_t digits = EpisodeDigits(rec.Episodes());
    const std::size_t channelDigits = std::to_string(channels.back()).size();
    const std::string tagTimes = "_tagtime", tagText = "_tagtext";
    std::size_t suffix = 2 + channelDigits + (rec.GapFree() ? 0 : 2 + digits);
    suffix = std::max({suffix, tagTimes.size(), tagText.size()});
    job->stem = WaveStem(rec.Path(), kMaxWaveName - suffix);

    for (uint32_t c : channels) {
        const int logical = static_cast<int>(c);
        const Channel& ch = rec.Channels()[c];
        std::vector<WaveSpec> waves;
        if (rec.GapFree()) {
            int64_t points = 0;
            if (!rec.ChannelPoints(&points) || points < 0) {
                *error = "the header gives no sample count for the channels";
                return false;
            }
            waves.push_back({WaveSpec::kChannel, logical, 0, fmt::format("{}_c{}", job->stem, c), ch.units,
                             rec.Note(logical, false, 0.0), rec.XStep(), static_cast<uint64_t>(points)});
        } else {
            for (uint32_t e : episodes) {
                uint32_t samples = 0;
                double start = 0.0;
                if (!rec.EpisodeSamples(e, &samples) || !rec.EpisodeStart(logical, e, &start)) {
                    *error = rec.Error();
                    return false;
                }
                waves.push_back({WaveSpec::kEpisode, logical, e,
                                 fmt::format("{}_c{}_e{}", job->stem, c, Padded(e, digits)), ch.units,
                                 rec.Note(logical, true, start), rec.XStep(), samples});
            }
        }
        job->data.push_back(std::move(waves));
    }

    // An NWB file holds the stimulus wherever there is one (its writer reads it).
    if (o.stimulus && o.format != "nwb") {
        if (rec.GapFree()) {
            std::fprintf(stderr, "sorvan: %s: a gap-free recording has no stimulus; none written\n",
                         rec.Path().c_str());
        } else {
            for (std::size_t i = 0; i < channels.size(); ++i) {
                const uint32_t c = channels[i];
                const int logical = static_cast<int>(c);
                std::vector<WaveSpec> waves;
                for (const WaveSpec& d : job->data[i])
                    waves.push_back({WaveSpec::kStimulus, logical, d.episode,
                                     fmt::format("{}_s{}_e{}", job->stem, c, Padded(d.episode, digits)),
                                     rec.Channels()[c].dacUnits, std::string(), d.xStep, d.points});
                // A channel without a waveform is said once and left out.
                std::vector<float> probe(
                    static_cast<std::size_t>(std::max<uint64_t>(waves.front().points, rec.SampleLimit())));
                if (!rec.ReadStimulus(logical, waves.front().episode, probe.data())) {
                    std::fprintf(stderr, "sorvan: %s: channel %u: no stimulus written: %s\n", rec.Path().c_str(), c,
                                 rec.Error().c_str());
                    continue;
                }
                job->stimulus.push_back(std::move(waves));
            }
        }
    }

    if (o.format == "ibw" || o.format == "itx") {
        if (!rec.Tags(&job->tags)) {
            *error = rec.Error();
            return false;
        }
        job->tagTimesName = job->stem + tagTimes;
        job->tagTextName = job->stem + tagText;
    }
    return true;
}

uint64_t TotalBlocks(const ExportJob& job)
{
    uint64_t total = 0;
    job.EachWave([&](const WaveSpec& w) {
        total += job.Blocks(w);
        return true;
    });
    return total;
}

}  // namespace

int RunExport(const ExportOptions& o)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(o.folder, ec);
    if (!fs::is_directory(o.folder)) {
        std::fprintf(stderr, "sorvan: cannot use the output folder %s: %s\n", o.folder.c_str(),
                     ec ? ec.message().c_str() : "not a folder");
        return kExitFailed;
    }
    int utcOffset = 0;
#if defined(SORVAN_HAVE_NWB)
    std::string why;
    if (!o.utcOffset.empty() && !nwb::ParseUtcOffset(o.utcOffset, &utcOffset, &why)) {
        std::fprintf(stderr, "sorvan: %s\n", why.c_str());  // (checked by the command line)
        return kExitUsage;
    }
#endif
    InstallInterruptHandler();
    Progress progress(Progress::StderrIsTerminal());
    std::set<std::string> written;
    int status = kExitOk;
    for (const std::string& path : o.files) {
        std::unique_ptr<Writer> writer = MakeWriter(o.format);
        Recording rec;
        OutputGroup group;
        ExportJob job{};
        job.rec = &rec;
        job.folder = o.folder;
        job.asDouble = o.asDouble;
        job.utcOffsetGiven = !o.utcOffset.empty();
        job.utcOffsetMinutes = utcOffset;
        job.progress = &progress;
        job.group = &group;
        job.written = &written;
        std::string error;
        bool ok = rec.Open(path);
        if (!ok) error = rec.Error();
        if (ok) ok = Plan(o, rec, &job, &error);
        if (ok) {
            progress.Start(path, TotalBlocks(job));
            ok = writer->Write(job, &error);
            progress.Finish();
        }
        if (ok) ok = group.Commit(&error);
        if (!ok) {
            group.Discard();
            if (Interrupted()) {
                std::fprintf(stderr, "sorvan: interrupted; %s left unfinished, nothing of it written\n", path.c_str());
                return kExitInterrupted;
            }
            Complain(path, error);
            status = kExitFailed;
        }
    }
    return status;
}

}  // namespace sorvan
