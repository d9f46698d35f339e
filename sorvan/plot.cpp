// sorvan plot: one channel drawn with cairo. Every trace is reduced to the
// minimum and maximum of each pixel column as it is read, so a recording of any
// length takes memory for its picture only, and a spike one sample wide still
// shows. Sweeps are overlaid from their start; the pieces of a variable-length
// event recording stand at their own times; the stimulus goes in a panel below.
#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include <fmt/format.h>

#include "reader/recording.h"
#include "sorvan/commands.h"
#include "sorvan/names.h"
#include "sorvan/text.h"

namespace sorvan {

using reader::Channel;
using reader::Recording;

bool PlotAvailable() { return true; }

namespace {

constexpr double kLeft = 96, kRight = 24, kTop = 64, kBottom = 52, kGap = 40;
constexpr double kTitleSize = 15, kSubtitleSize = 12, kLabelSize = 12, kTickSize = 11;

// The extremes of one pixel column of one trace.
struct Column {
    float lo = std::numeric_limits<float>::infinity();
    float hi = -std::numeric_limits<float>::infinity();
    bool Empty() const { return lo > hi; }
};

// One trace decimated onto `columns` pixel columns spanning [x0, x1) seconds.
struct Trace {
    std::vector<Column> columns;
};

struct Panel {
    std::vector<Trace> traces;
    double x0 = 0, x1 = 1;
    double y0 = std::numeric_limits<double>::infinity(), y1 = -std::numeric_limits<double>::infinity();
    std::string label;
};

void Add(Panel* p, Trace* t, std::size_t width, double x, float v)
{
    if (std::isnan(v)) return;
    const double at = (x - p->x0) / (p->x1 - p->x0) * static_cast<double>(width);
    if (at < 0 || at >= static_cast<double>(width)) return;
    Column& c = t->columns[static_cast<std::size_t>(at)];
    c.lo = std::min(c.lo, v);
    c.hi = std::max(c.hi, v);
    p->y0 = std::min(p->y0, static_cast<double>(v));
    p->y1 = std::max(p->y1, static_cast<double>(v));
}

// Tick spacing of 1, 2 or 5 times a power of ten giving about `want` ticks.
double TickStep(double span, int want)
{
    const double raw = span / want;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= raw) return m * p;
    return 10 * p;
}

std::string TickText(double v, double step)
{
    if (std::fabs(v) < step * 1e-6) v = 0;
    return fmt::format("{:g}", v);
}

// `text` is UTF-8: texts from the header go through Latin1ToUtf8 first.
void Text(cairo_t* cr, const std::string& text, double x, double y, double size, double alignX, double alignY,
          bool bold = false)
{
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    cairo_move_to(cr, x - e.x_advance * alignX, y + size * 0.36 - size * (alignY - 0.5) * 0.72);
    cairo_show_text(cr, text.c_str());
}

// Colours that tell overlaid sweeps apart, dark enough on white.
void TraceColour(cairo_t* cr, std::size_t i, std::size_t n)
{
    static const double kPalette[][3] = {{0.12, 0.30, 0.62}, {0.80, 0.33, 0.10}, {0.15, 0.55, 0.25},
                                         {0.58, 0.20, 0.60}, {0.70, 0.15, 0.20}, {0.10, 0.55, 0.60},
                                         {0.45, 0.40, 0.10}, {0.35, 0.35, 0.35}};
    const auto& c = kPalette[i % (sizeof kPalette / sizeof kPalette[0])];
    cairo_set_source_rgba(cr, c[0], c[1], c[2], n > 8 ? 0.75 : 1.0);
}

void DrawPanel(cairo_t* cr, const Panel& p, double left, double top, double width, double height, bool timeLabel)
{
    double y0 = p.y0, y1 = p.y1;
    if (!(y0 <= y1)) y0 = -1, y1 = 1;
    if (y1 - y0 < 1e-12 * std::max(1.0, std::fabs(y0))) y0 -= 1, y1 += 1;
    const double pad = (y1 - y0) * 0.05;
    y0 -= pad;
    y1 += pad;
    auto X = [&](double x) { return left + (x - p.x0) / (p.x1 - p.x0) * width; };
    auto Y = [&](double y) { return top + height - (y - y0) / (y1 - y0) * height; };

    // Grid and ticks.
    cairo_set_line_width(cr, 1);
    const double xs = TickStep(p.x1 - p.x0, std::max(2, static_cast<int>(width / 110)));
    for (double x = std::ceil(p.x0 / xs) * xs; x <= p.x1 + xs * 1e-9; x += xs) {
        cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
        cairo_move_to(cr, std::round(X(x)) + 0.5, top);
        cairo_line_to(cr, std::round(X(x)) + 0.5, top + height);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        Text(cr, TickText(x, xs), X(x), top + height + 12, kTickSize, 0.5, 0.5);
    }
    const double ys = TickStep(y1 - y0, std::max(2, static_cast<int>(height / 60)));
    for (double y = std::ceil(y0 / ys) * ys; y <= y1 + ys * 1e-9; y += ys) {
        cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
        cairo_move_to(cr, left, std::round(Y(y)) + 0.5);
        cairo_line_to(cr, left + width, std::round(Y(y)) + 0.5);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        Text(cr, TickText(y, ys), left - 6, Y(y), kTickSize, 1.0, 0.5);
    }

    // Traces: one vertical stroke per column from its minimum to its maximum,
    // joined to the next column, clipped to the panel.
    cairo_save(cr);
    cairo_rectangle(cr, left, top, width, height);
    cairo_clip(cr);
    cairo_set_line_width(cr, 1.1);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (std::size_t t = 0; t < p.traces.size(); ++t) {
        TraceColour(cr, t, p.traces.size());
        const auto& cols = p.traces[t].columns;
        const double step = width / static_cast<double>(cols.size());
        bool drawing = false;
        for (std::size_t i = 0; i < cols.size(); ++i) {
            if (cols[i].Empty()) {
                drawing = false;
                continue;
            }
            const double x = left + (static_cast<double>(i) + 0.5) * step;
            if (!drawing) cairo_move_to(cr, x, Y(cols[i].lo));
            cairo_line_to(cr, x, Y(cols[i].lo));
            cairo_line_to(cr, x, Y(cols[i].hi) - (cols[i].hi == cols[i].lo ? 0.01 : 0));
            drawing = true;
        }
        cairo_stroke(cr);
    }
    cairo_restore(cr);

    // Frame and labels.
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, left + 0.5, top + 0.5, width - 1, height - 1);
    cairo_stroke(cr);
    cairo_save(cr);
    cairo_translate(cr, left - 72, top + height / 2);
    cairo_rotate(cr, -M_PI / 2);
    Text(cr, p.label, 0, 0, kLabelSize, 0.5, 0.5);
    cairo_restore(cr);
    if (timeLabel) Text(cr, "Time (s)", left + width / 2, top + height + 32, kLabelSize, 0.5, 0.5);
}

cairo_surface_t* MakeSurface(const std::string& path, int width, int height, std::string* kind)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    *kind = ext;
    if (ext == ".png") return cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (ext == ".svg") return cairo_svg_surface_create(path.c_str(), width, height);
    if (ext == ".pdf") return cairo_pdf_surface_create(path.c_str(), width, height);
    return nullptr;
}

}  // namespace

int RunPlot(const PlotOptions& o)
{
    std::string output = o.output;
    if (output.empty()) output = std::filesystem::path(o.file).stem().string() + ".png";
    {
        std::string ext = std::filesystem::path(output).extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (ext != ".png" && ext != ".svg" && ext != ".pdf") {
            std::fprintf(stderr, "sorvan: %s: the picture's name must end in .png, .svg or .pdf\n", output.c_str());
            return kExitUsage;
        }
    }
    Recording rec;
    if (!rec.Open(o.file)) {
        Complain(o.file, rec.Error());
        return kExitFailed;
    }
    const int channelCount = static_cast<int>(rec.Channels().size());
    if (o.channel < 0 || o.channel >= channelCount) {
        Complain(o.file, fmt::format("channel {} out of range (the recording has channels 0 to {})", o.channel,
                                     channelCount - 1));
        return kExitFailed;
    }
    if (rec.Episodes() == 0) {
        Complain(o.file, "the recording holds no data");
        return kExitFailed;
    }
    std::vector<uint32_t> episodes;
    std::string error;
    ParseList(o.episodes, 1, &episodes, &error);
    const bool continuous = rec.GapFree() || rec.VariableLengthEvents();
    if (continuous && !episodes.empty()) {
        Complain(o.file, "this recording is drawn whole; leave out --episodes");
        return kExitFailed;
    }
    if (episodes.empty())
        for (uint32_t e = 1; e <= rec.Episodes(); ++e) episodes.push_back(e);
    for (uint32_t e : episodes)
        if (e > rec.Episodes()) {
            Complain(o.file,
                     fmt::format("episode {} out of range (the recording has episodes 1 to {})", e, rec.Episodes()));
            return kExitFailed;
        }

    const Channel& ch = rec.Channels()[static_cast<std::size_t>(o.channel)];
    const double plotWidth = o.width - kLeft - kRight;
    const std::size_t columns = static_cast<std::size_t>(std::max(1.0, plotWidth));
    const double step = rec.XStep();
    std::vector<float> buffer(rec.SampleLimit());

    Panel data;
    data.label = Latin1ToUtf8((ch.name.empty() ? fmt::format("channel {}", ch.logical) : ch.name) +
                              (ch.units.empty() ? "" : " (" + ch.units + ")"));
    auto fail = [&](const std::string& text) {
        Complain(o.file, text);
        return kExitFailed;
    };

    if (continuous) {
        // The time axis: from the first read's start to the end of the last.
        std::vector<double> starts(rec.Episodes(), 0.0);
        uint64_t position = 0;
        double end = 0;
        for (uint32_t e = 1; e <= rec.Episodes(); ++e) {
            uint32_t n = 0;
            double ms = 0;
            if (!rec.EpisodeSamples(e, &n)) return fail(rec.Error());
            if (rec.GapFree()) {
                starts[e - 1] = static_cast<double>(position) * step;
            } else {
                if (!rec.EpisodeStart(o.channel, e, &ms)) return fail(rec.Error());
                starts[e - 1] = ms / 1000.0;
            }
            position += n;
            end = std::max(end, starts[e - 1] + n * step);
        }
        data.x0 = starts.front();
        data.x1 = end > data.x0 ? end : data.x0 + step;
        data.traces.resize(1);
        data.traces[0].columns.resize(columns);
        for (uint32_t e = 1; e <= rec.Episodes(); ++e) {
            uint32_t n = 0;
            if (!rec.Read(o.channel, e, buffer.data(), &n)) return fail(rec.Error());
            for (uint32_t i = 0; i < n; ++i) Add(&data, &data.traces[0], columns, starts[e - 1] + i * step, buffer[i]);
        }
    } else {
        uint32_t longest = 0;
        std::vector<uint32_t> lengths;
        for (uint32_t e : episodes) {
            uint32_t n = 0;
            if (!rec.EpisodeSamples(e, &n)) return fail(rec.Error());
            lengths.push_back(n);
            longest = std::max(longest, n);
        }
        data.x0 = 0;
        data.x1 = std::max(1u, longest) * step;
        for (uint32_t e : episodes) {
            uint32_t n = 0;
            if (!rec.Read(o.channel, e, buffer.data(), &n)) return fail(rec.Error());
            Trace t;
            t.columns.resize(columns);
            for (uint32_t i = 0; i < n; ++i) Add(&data, &t, columns, i * step, buffer[i]);
            data.traces.push_back(std::move(t));
        }
    }

    // The stimulus where the library has one for this channel.
    Panel stimulus;
    bool haveStimulus = false;
    if (!continuous) {
        stimulus.x0 = data.x0;
        stimulus.x1 = data.x1;
        stimulus.label = Latin1ToUtf8("Stimulus" + (ch.dacUnits.empty() ? std::string() : " (" + ch.dacUnits + ")"));
        haveStimulus = true;
        for (uint32_t e : episodes) {
            uint32_t n = 0;
            if (!rec.EpisodeSamples(e, &n)) return fail(rec.Error());
            std::vector<float> wave(std::max(n, rec.SampleLimit()));
            if (!rec.ReadStimulus(o.channel, e, wave.data())) {
                haveStimulus = false;
                break;
            }
            Trace t;
            t.columns.resize(columns);
            for (uint32_t i = 0; i < n; ++i) Add(&stimulus, &t, columns, i * step, wave[i]);
            stimulus.traces.push_back(std::move(t));
        }
    }

    std::string kind;
    cairo_surface_t* surface = MakeSurface(output, o.width, o.height, &kind);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);

    const std::string name = std::filesystem::path(o.file).filename().string();
    const std::string protocol = Latin1ToUtf8(rec.Protocol());
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    Text(cr, protocol.empty() ? name : name + "  \xE2\x80\x94  " + protocol, kLeft, 20, kTitleSize, 0, 0.5, true);
    std::string subtitle = fmt::format("{}, channel {}", Recording::ModeName(rec.Mode()), ch.logical);
    if (!continuous)
        subtitle += episodes.size() == 1 ? fmt::format(", episode {}", episodes[0])
                                         : fmt::format(", {} episodes overlaid", episodes.size());
    subtitle += fmt::format(", {:g} Hz, {} {}", 1.0 / step, DateText(rec.StartDate()), TimeText(rec.StartTimeMs()));
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    Text(cr, subtitle, kLeft, 42, kSubtitleSize, 0, 0.5);

    const double plotHeight = o.height - kTop - kBottom;
    const double dataHeight = haveStimulus ? (plotHeight - kGap) * 0.7 : plotHeight;
    DrawPanel(cr, data, kLeft, kTop, plotWidth, dataHeight, !haveStimulus);
    if (haveStimulus)
        DrawPanel(cr, stimulus, kLeft, kTop + dataHeight + kGap, plotWidth, plotHeight - dataHeight - kGap, true);

    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_status_t status = cairo_surface_status(surface);
    if (status == CAIRO_STATUS_SUCCESS && kind == ".png") status = cairo_surface_write_to_png(surface, output.c_str());
    cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    // The font caches cairo and fontconfig keep for the process's life, released
    // so that a leak checker sees only real leaks.
    cairo_debug_reset_static_data();
    FcFini();
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "sorvan: cannot write %s: %s\n", output.c_str(), cairo_status_to_string(status));
        std::remove(output.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace sorvan
