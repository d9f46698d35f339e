// Reading speed of our ABF library: every channel of a large gap-free recording read
// through ABF_ReadChannel, beside a bare read of the same bytes with the same block size.
// Usage: bench_abffio [SAMPLES_PER_CHANNEL [CHANNELS]]  (default 8388608 and 4)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "abffio/writer/abf_writer.h"
#include "interface/abffio.h"

namespace {

double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const size_t perChannel = argc > 1 ? static_cast<size_t>(std::strtoul(argv[1], nullptr, 10)) : 8388608;
    const size_t nch = argc > 2 ? static_cast<size_t>(std::strtoul(argv[2], nullptr, 10)) : 4;
    if (nch < 1 || nch > 16 || perChannel < 1) {
        fprintf(stderr, "usage: bench_abffio [SAMPLES_PER_CHANNEL [CHANNELS 1-16]]\n");
        return 2;
    }
    // A gap-free recording of noise around a baseline, written by the project's writer.
    abfw::Recording r = abfw::DefaultRecording();
    r.tags.clear();
    r.channels.clear();
    for (size_t c = 0; c < nch; ++c) {
        abfw::Channel ch;
        ch.physical = static_cast<int16_t>(c);
        ch.name = "IN " + std::to_string(c);
        ch.baseline = -60.0f;
        ch.noise = 2.0f;
        r.channels.push_back(ch);
    }
    r.samplesPerChannel = static_cast<int64_t>(perChannel);
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp ? tmp : ".") + "/bench_abffio_large.abf";
    std::string error;
    abfw::Layout layout;
    if (!abfw::WriteAbf(r, path, &error, &layout)) {
        fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    printf("file: %zu channels x %zu samples, %.1f MB\n", nch, perChannel, static_cast<double>(layout.fileSize) / 1e6);

    std::vector<uint8_t> header(kAbfRecordSize);
    int32_t h = -1, e = 0;
    uint32_t limit = kAbfSampleLimit, episodes = 0;
    if (!ABF_ReadOpen(path.c_str(), &h, 0, reinterpret_cast<ABFFileHeader*>(header.data()), &limit, &episodes, &e)) {
        fprintf(stderr, "open failed: %d\n", e);
        return 1;
    }
    std::vector<float> buf(limit);
    double best = 1e30, sink = 0;
    for (int rep = 0; rep < 3; ++rep) {
        const double t0 = Now();
        for (size_t c = 0; c < nch; ++c)
            for (uint32_t ep = 1; ep <= episodes; ++ep) {
                uint32_t n = 0;
                if (!ABF_ReadChannel(h, nullptr, static_cast<int32_t>(c), ep, buf.data(), &n, &e)) {
                    fprintf(stderr, "read failed: %d\n", e);
                    return 1;
                }
                sink += buf[n / 2];
            }
        best = std::min(best, Now() - t0);
    }
    ABF_Close(h, &e);
    const double samples = static_cast<double>(perChannel * nch);
    // The library reads each episode's bytes once per channel.
    const double libraryBytes = static_cast<double>(perChannel * nch * 2 * nch);

    // Bare reads of the same bytes, in the same blocks (one episode of all channels).
    std::vector<uint8_t> raw(static_cast<size_t>(limit) * nch * 2);
    double bare = 1e30;
    for (int rep = 0; rep < 3; ++rep) {
        FILE* in = fopen(path.c_str(), "rb");
        const double t0 = Now();
        for (size_t c = 0; c < nch; ++c) {
            fseek(in, 0, SEEK_SET);
            size_t got;
            while ((got = fread(raw.data(), 1, raw.size(), in)) > 0) sink += raw[got / 2];
        }
        bare = std::min(bare, Now() - t0);
        fclose(in);
    }
    remove(path.c_str());
    printf("library: every channel read in %.3f s: %.1f M samples/s delivered (%.0f MB/s of file read)\n", best,
           samples / best / 1e6, libraryBytes / best / 1e6);
    printf("bare read of the same bytes: %.3f s (%.0f MB/s)\n", bare, libraryBytes / bare / 1e6);
    printf("library / bare read time: %.2f  (checksum %g)\n", best / bare, sink);
    return 0;
}
