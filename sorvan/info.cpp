// sorvan info: what a person wants to know first about each recording, as a
// short report, one line a file (--brief), or JSON (--json).
#include <algorithm>
#include <cstdio>
#include <map>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "reader/recording.h"
#include "sorvan/commands.h"
#include "sorvan/text.h"

namespace sorvan {

using reader::Channel;
using reader::Recording;
using reader::Tag;

std::string Latin1ToUtf8(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string DateText(uint32_t d) { return fmt::format("{:04}-{:02}-{:02}", d / 10000, d / 100 % 100, d % 100); }

std::string TimeText(uint32_t ms)
{
    const uint32_t s = ms / 1000;
    return fmt::format("{:02}:{:02}:{:02}.{:03}", s / 3600, s / 60 % 60, s % 60, ms % 1000);
}

namespace {

// Everything the three forms show, gathered once.
struct Summary {
    std::string format;  // "ABF1" or "ABF2"
    double version;
    int mode;
    double rate;  // samples per second per channel
    uint32_t episodes;
    std::vector<uint32_t> samples;  // per episode (the library's reads of a gap-free file)
    int64_t points = 0;             // gap-free: per channel
    double duration;                // seconds
    std::vector<Tag> tags;
};

bool Summarize(Recording& rec, Summary* s)
{
    s->version = rec.FileVersion();
    s->format = s->version < 2.0 ? "ABF1" : "ABF2";
    s->mode = rec.Mode();
    s->rate = rec.XStep() > 0 ? 1.0 / rec.XStep() : 0.0;
    s->episodes = rec.Episodes();
    if (rec.GapFree()) {
        if (!rec.ChannelPoints(&s->points)) s->points = 0;
        s->duration = static_cast<double>(s->points) * rec.XStep();
    } else {
        for (uint32_t e = 1; e <= s->episodes; ++e) {
            uint32_t n = 0;
            if (!rec.EpisodeSamples(e, &n)) return false;
            s->samples.push_back(n);
        }
        double start = 0.0, length = 0.0;
        s->duration = 0.0;
        if (s->episodes > 0) {
            if (!rec.EpisodeStart(0, s->episodes, &start) || !rec.EpisodeDuration(s->episodes, &length)) return false;
            s->duration = (start + length) / 1000.0;
        }
    }
    return rec.Tags(&s->tags);
}

std::string EpisodesText(const Summary& s)
{
    if (s.samples.empty()) return fmt::format("{} samples per channel", s.points);
    const auto [lo, hi] = std::minmax_element(s.samples.begin(), s.samples.end());
    if (*lo == *hi) return fmt::format("{} x {} samples", s.episodes, *lo);
    return fmt::format("{} of {} to {} samples", s.episodes, *lo, *hi);
}

std::map<std::string, int> TagCounts(const std::vector<Tag>& tags)
{
    std::map<std::string, int> counts;
    for (const Tag& t : tags) ++counts[Recording::TagTypeName(t.type)];
    return counts;
}

void PrintLong(const Recording& rec, const Summary& s)
{
    std::printf("%s\n", rec.Path().c_str());
    std::printf("  format      %s %.2f, %s samples\n", s.format.c_str(), s.version,
                rec.FloatData() ? "float32" : "int16");
    std::printf("  mode        %s (%d)\n", Recording::ModeName(s.mode), s.mode);
    const char* head = "  channels    ";
    for (const Channel& c : rec.Channels()) {
        std::printf("%s%d: %-10s %-8s (ADC %d)\n", head, c.logical, c.name.empty() ? "-" : c.name.c_str(),
                    c.units.empty() ? "-" : c.units.c_str(), c.physical);
        head = "              ";
    }
    std::printf("  sampling    %s Hz per channel\n", fmt::format("{:g}", s.rate).c_str());
    std::printf("  %-11s %s\n", rec.GapFree() ? "length" : "episodes", EpisodesText(s).c_str());
    std::printf("  duration    %.3f s\n", s.duration);
    std::printf("  start       %s %s\n", DateText(rec.StartDate()).c_str(), TimeText(rec.StartTimeMs()).c_str());
    std::printf("  protocol    %s\n", rec.Protocol().c_str());
    std::printf("  creator     %s\n", rec.Creator().c_str());
    if (!rec.Comment().empty()) std::printf("  comment     %s\n", rec.Comment().c_str());
    std::string counts;
    for (const auto& [type, n] : TagCounts(s.tags))
        counts += fmt::format("{}{} {}", counts.empty() ? "" : ", ", n, type);
    std::printf("  tags        %zu%s\n", s.tags.size(), counts.empty() ? "" : (" (" + counts + ")").c_str());
    for (const Tag& t : s.tags)
        if (t.type == kAbfCommentTag) std::printf("              %12.3f s  %s\n", t.seconds, t.comment.c_str());
}

void PrintBrief(const Recording& rec, const Summary& s)
{
    std::printf("%s\t%s %.2f\t%s\t%zu ch\t%s Hz\t%s\t%.3f s\t%s %s\n", rec.Path().c_str(), s.format.c_str(), s.version,
                Recording::ModeName(s.mode), rec.Channels().size(), fmt::format("{:g}", s.rate).c_str(),
                EpisodesText(s).c_str(), s.duration, DateText(rec.StartDate()).c_str(),
                TimeText(rec.StartTimeMs()).c_str());
}

nlohmann::ordered_json Json(const Recording& rec, const Summary& s)
{
    using json = nlohmann::ordered_json;
    json channels = json::array();
    for (const Channel& c : rec.Channels())
        channels.push_back({{"logical", c.logical},
                            {"physical", c.physical},
                            {"name", Latin1ToUtf8(c.name)},
                            {"units", Latin1ToUtf8(c.units)}});
    json tags = json::array();
    for (const Tag& t : s.tags)
        tags.push_back(
            {{"time_s", t.seconds}, {"type", Recording::TagTypeName(t.type)}, {"text", Latin1ToUtf8(t.comment)}});
    json j = {{"file", Latin1ToUtf8(rec.Path())},
              {"format", s.format},
              {"version", std::stod(fmt::format("{:.2f}", s.version))},
              {"data_format", rec.FloatData() ? "float32" : "int16"},
              {"mode", s.mode},
              {"mode_name", Recording::ModeName(s.mode)},
              {"channels", channels},
              {"sample_rate_hz", s.rate},
              {"interval_s", rec.XStep()},
              {"episodes", s.episodes},
              {"duration_s", s.duration},
              {"start", DateText(rec.StartDate()) + "T" + TimeText(rec.StartTimeMs())},
              {"protocol", Latin1ToUtf8(rec.Protocol())},
              {"creator", Latin1ToUtf8(rec.Creator())},
              {"comment", Latin1ToUtf8(rec.Comment())},
              {"tag_counts", TagCounts(s.tags)},
              {"tags", tags}};
    if (rec.GapFree())
        j["samples_per_channel"] = s.points;
    else
        j["samples_per_episode"] = s.samples;
    return j;
}

}  // namespace

int RunInfo(const InfoOptions& o)
{
    int status = kExitOk;
    int shown = 0;
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const std::string& path : o.files) {
        Recording rec;
        Summary s{};
        if (!rec.Open(path) || !Summarize(rec, &s)) {
            Complain(path, rec.Error());
            if (o.json) all.push_back({{"file", Latin1ToUtf8(path)}, {"error", Latin1ToUtf8(rec.Error())}});
            status = kExitFailed;
            continue;
        }
        if (o.json)
            all.push_back(Json(rec, s));
        else if (o.brief)
            PrintBrief(rec, s);
        else {
            if (shown++) std::printf("\n");
            PrintLong(rec, s);
        }
        std::fflush(stdout);
    }
    if (o.json) std::printf("%s\n", all.dump(2).c_str());
    return status;
}

}  // namespace sorvan
