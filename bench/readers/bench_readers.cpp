// Reading speed of kav_AbfChannelRead: one channel of a large generated gap-free
// recording read through the stand-in host into a single- and a double-precision
// wave, beside a bare read of the file's bytes in blocks of the same size.
// Usage: bench_readers [SAMPLES [CHANNELS [FILE]]]  (default 100000000 samples, 1 channel)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "abffio/writer/abf_writer.h"
#include "host/host.h"

namespace {

double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Peak resident memory in MB (Linux), 0 when unknown.
double PeakMB()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    double kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %lf kB", &kb) == 1) break;
    std::fclose(f);
    return kb / 1024.0;
}

}  // namespace

int main(int argc, char** argv)
{
    const long long total = argc > 1 ? std::atoll(argv[1]) : 100000000LL;
    const int channels = argc > 2 ? std::atoi(argv[2]) : 1;
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = argc > 3 ? argv[3] : std::string(tmp ? tmp : "/tmp") + "/bench_readers_gapfree.abf";
    if (total < 1 || channels < 1 || channels > 16) {
        std::fprintf(stderr, "usage: bench_readers [SAMPLES [CHANNELS 1-16 [FILE]]]\n");
        return 2;
    }
    const long long perChannel = total / channels;

    abfw::Recording rec;
    rec.mode = abfw::Mode::GapFree;
    rec.channels.clear();
    for (int c = 0; c < channels; ++c) {
        abfw::Channel ch;
        ch.physical = static_cast<int16_t>(c);
        ch.noise = 1.0f;
        ch.sineAmplitude = 5.0f;
        ch.sineHz = 50.0f;
        rec.channels.push_back(ch);
    }
    rec.samplesPerChannel = perChannel;
    std::string error;
    double t0 = Now();
    if (!abfw::WriteAbf(rec, path, &error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    std::printf("file: %s, %d channel(s) x %lld samples (%lld in all), written in %.2f s\n", path.c_str(), channels,
                perChannel, perChannel * channels, Now() - t0);

    // Bare read of the same bytes, in blocks of one read's size (16384 int16
    // samples per channel), twice: the second from the page cache like the reads.
    double bare = 1e30;
    long long bytes = 0;
    std::vector<char> block(static_cast<size_t>(16384) * 2 * channels);
    for (int rep = 0; rep < 2; ++rep) {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return 1;
        t0 = Now();
        bytes = 0;
        size_t n;
        while ((n = std::fread(block.data(), 1, block.size(), f)) > 0) bytes += static_cast<long long>(n);
        const double t = Now() - t0;
        std::fclose(f);
        if (t < bare) bare = t;
    }
    std::printf("bare read: %lld bytes in %.3f s (%.1f MB/s, %.1f M int16 samples/s)\n", bytes, bare,
                static_cast<double>(bytes) / bare / 1e6, static_cast<double>(bytes) / 2.0 / bare / 1e6);

    kavhost::Host host;
    if (!host.Load()) {
        std::fprintf(stderr, "cannot load the plug-in: %s\n", host.LoadError().c_str());
        return 1;
    }
    for (int type : {kWaveFloat32, kWaveFloat64}) {
        kavhost::Wave* w = host.MakeWave(type, {static_cast<int32_t>(perChannel)});
        if (!w) {
            std::fprintf(stderr, "no wave of %lld points\n", perChannel);
            return 1;
        }
        double best = 1e30;
        for (int rep = 0; rep < 2; ++rep) {
            t0 = Now();
            kavhost::CallResult r =
                host.Call("kav_AbfChannelRead", {kavhost::Str(path), kavhost::Num(0), kavhost::WaveArg(w)});
            const double t = Now() - t0;
            if (r.status != 0 || r.resultNumber != 1.0) {
                std::fprintf(stderr, "kav_AbfChannelRead failed: status %d result %g\n", r.status, r.resultNumber);
                return 1;
            }
            if (t < best) best = t;
        }
        std::printf(
            "kav_AbfChannelRead into %s wave: %lld samples in %.3f s = %.1f M samples/s "
            "(%.2f x the bare read)\n",
            type == kWaveFloat32 ? "single" : "double", perChannel, best, static_cast<double>(perChannel) / best / 1e6,
            best / bare);
    }
    std::printf("peak resident memory: %.0f MB (the waves themselves: %.0f MB)\n", PeakMB(),
                static_cast<double>(perChannel) * 12.0 / 1e6);
    if (argc <= 3) std::remove(path.c_str());
    return 0;
}
