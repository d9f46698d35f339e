// The rows of `./run bench` for one recording, measured in one process beside the
// bare limit on the same file: read() in 1 MiB blocks plus the int16 -> float
// conversion of one channel, compiled with the product's flags.
//
//   kav_bench FILE GROUPS [ROUNDS]
//
// GROUPS is a comma list of
//   channel  the bare limit, the library's ordinal-210 loop over channel 0, the same
//            through the plug-in's scratch block and store pass without the host
//            (single precision), and kav_AbfChannelRead into single- and
//            double-precision waves (gap-free);
//   sweeps   every sweep of channel 0 with kav_AbfEpisodeRead, one call each;
//   calls    open + close through the library, one query (kav_AbfChannelCount),
//            kav_AbfMetaData, and the host's own round trip (a call refused
//            before the open);
//   machine  what one system call costs on this machine (Linux: getppid), for the
//            table's account of the machine; FILE is not read;
//   memory   the bytes the library reads at open, and the memory a channel read
//            takes beyond its wave, through the library alone and through the
//            plug-in (Linux only: /proc/self).
// The rows that move samples run interleaved with the bare limit, ROUNDS times
// (default 5), so that both see the same machine; each row reports its median and
// the median of the bare passes of its own rounds. One JSON object on stdout.
//
// Under Wine this program is IGOR.exe in a folder of its own, with kav_Sorvan.xop
// and an ABFFIO.dll beside it (ours, or a user's copy of the vendor's).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "core/header_block.h"
#include "core/samples.h"
#include "host/host.h"
#include "interface/abffio.h"

namespace {

double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v)
{
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// The path as the plug-in and the library take it (a Windows path under Wine).
std::string LibraryPath(const std::string& path)
{
#if defined(_WIN32)
    std::string p = path;
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
#else
    return path;
#endif
}

// ---- JSON output: rows as they are measured.

std::string g_rows;

void Row(const std::string& id, const std::string& fields)
{
    if (!g_rows.empty()) g_rows += ",\n";
    g_rows += "  {\"id\": \"" + id + "\", " + fields + "}";
}

std::string Num(const char* key, double v)
{
    char b[96];
    std::snprintf(b, sizeof b, "\"%s\": %.9g", key, v);
    return b;
}

std::string Text(const char* key, const std::string& v)
{
    std::string s = std::string("\"") + key + "\": \"";
    for (char c : v) {
        if (c == '"' || c == '\\') s += '\\';
        s += (c == '\n' || c == '\r') ? ' ' : c;
    }
    return s + "\"";
}

// ---- What the bare limit needs to know of the file, from the library's open.

struct FileFacts {
    uint64_t dataOffset = 0;
    uint32_t nch = 1;
    uint32_t sampleSize = 2;  // 2 int16, 4 float32
    uint64_t perChannel = 0;  // samples of one channel in the whole file
    uint32_t sampleLimit = 0;
    uint32_t episodes = 0;
    int32_t physical0 = 0;  // the physical channel at position 0
    float factor = 1.0f;
    float shift = 0.0f;
};

bool ReadFacts(const std::string& path, FileFacts* f, std::string* error)
{
    AbfHeaderBlock block;
    AbfPrepareHeader(&block);
    int32_t h = -1, e = 0;
    uint32_t limit = kAbfSampleLimit, episodes = 0;
    if (!ABF_ReadOpen(path.c_str(), &h, 0, &block.header, &limit, &episodes, &e)) {
        *error = "the library cannot open " + path + " (error " + std::to_string(e) + ")";
        return false;
    }
    const ABFFileHeader& hd = block.header;
    f->dataOffset = static_cast<uint64_t>(static_cast<uint32_t>(hd.lDataSectionPtr)) * 512;
    f->nch = static_cast<uint32_t>(std::max<int16_t>(hd.nADCNumChannels, 1));
    f->sampleSize = hd.nDataFormat ? 4 : 2;
    f->perChannel = static_cast<uint32_t>(hd.lActualAcqLength) / f->nch;
    f->sampleLimit = limit;
    f->episodes = episodes;
    f->physical0 = hd.nADCSamplingSeq[0];
    const int ch = f->physical0 & 15;
    float gain = hd.fInstrumentScaleFactor[ch] * hd.fADCProgrammableGain[ch];
    if (gain == 0.0f) gain = 1.0f;
    f->factor = hd.fADCRange / gain / static_cast<float>(hd.lADCResolution ? hd.lADCResolution : 32768);
    f->shift = hd.fInstrumentOffset[ch];
    ABF_Close(h, &e);
    return true;
}

// ---- The bare limit: the OS's read in 1 MiB blocks, one channel converted.

constexpr size_t kBareBlock = 1 << 20;

struct RawFile {
#if defined(_WIN32)
    HANDLE h = INVALID_HANDLE_VALUE;
    bool Open(const std::string& p)
    {
        h = CreateFileA(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
        return h != INVALID_HANDLE_VALUE;
    }
    bool Seek(uint64_t off)
    {
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(off);
        return SetFilePointerEx(h, li, nullptr, FILE_BEGIN) != 0;
    }
    size_t Read(void* dst, size_t n)
    {
        DWORD got = 0;
        if (!ReadFile(h, dst, static_cast<DWORD>(n), &got, nullptr)) return 0;
        return got;
    }
    ~RawFile()
    {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
#else
    int fd = -1;
    bool Open(const std::string& p) { return (fd = open(p.c_str(), O_RDONLY)) >= 0; }
    bool Seek(uint64_t off) { return lseek(fd, static_cast<off_t>(off), SEEK_SET) >= 0; }
    size_t Read(void* dst, size_t n)
    {
        const ssize_t got = read(fd, dst, n);
        return got > 0 ? static_cast<size_t>(got) : 0;
    }
    ~RawFile()
    {
        if (fd >= 0) close(fd);
    }
#endif
};

void ConvertInt16(const int16_t* __restrict s, size_t frames, uint32_t nch, float factor, float shift,
                  float* __restrict out)
{
    switch (nch) {
    case 1:
        for (size_t i = 0; i < frames; ++i) out[i] = static_cast<float>(s[i]) * factor + shift;
        break;
    case 2:
        for (size_t i = 0; i < frames; ++i) out[i] = static_cast<float>(s[2 * i]) * factor + shift;
        break;
    case 4:
        for (size_t i = 0; i < frames; ++i) out[i] = static_cast<float>(s[4 * i]) * factor + shift;
        break;
    default:
        for (size_t i = 0; i < frames; ++i) out[i] = static_cast<float>(s[i * nch]) * factor + shift;
    }
}

// Reads the file's samples in blocks of `blockSize` bytes (whole frames of all
// channels) and stores channel position 0 as floats into `out` (perChannel
// points). Returns the seconds taken, or a negative value on failure.
double Bare(const std::string& path, const FileFacts& f, float* out, size_t blockSize = kBareBlock)
{
    static std::vector<int16_t> block(kBareBlock / 2);
    const size_t frameBytes = static_cast<size_t>(f.nch) * f.sampleSize;
    const size_t blockBytes = std::min(blockSize, kBareBlock) / frameBytes * frameBytes;
    const double t0 = Now();
    RawFile file;
    if (!file.Open(path) || !file.Seek(f.dataOffset)) return -1.0;
    uint64_t left = f.perChannel;
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, blockBytes / frameBytes)) * frameBytes;
        size_t got = 0;
        while (got < want) {
            const size_t n = file.Read(reinterpret_cast<char*>(block.data()) + got, want - got);
            if (n == 0) return -1.0;
            got += n;
        }
        const size_t frames = want / frameBytes;
        if (f.sampleSize == 2) {
            ConvertInt16(block.data(), frames, f.nch, f.factor, f.shift, out);
        } else {
            const char* p = reinterpret_cast<const char*>(block.data());
            for (size_t i = 0; i < frames; ++i) std::memcpy(out + i, p + i * frameBytes, 4);
        }
        out += frames;
        left -= frames;
    }
    return Now() - t0;
}

// ---- Our library (or the DLL beside this program) alone.

// The whole of channel position 0 through the ordinal-210 loop, open and close
// included. Without `type` (0) each read lands in `out` (floats) directly: the library
// alone. With a wave type the loop is the plug-in's data path without the host: reads
// of at most the sample limit into a scratch block, each stored into `out` (a wave's
// memory of `type`) as the plug-in stores it: what the prescribed calls allow at best;
// the plug-in's channel read adds only the host's call and the wave's note. Negative
// on failure.
double EpisodeLoop(const std::string& path, const FileFacts& f, void* out, int32_t type)
{
    static AbfHeaderBlock block;
    const double t0 = Now();
    AbfPrepareHeader(&block);
    int32_t h = -1, e = 0;
    uint32_t limit = kAbfSampleLimit, episodes = 0;
    if (!ABF_ReadOpen(path.c_str(), &h, 0, &block.header, &limit, &episodes, &e)) return -1.0;
    float* scratch = type != 0 ? AllocScratch(limit) : nullptr;
    const bool streamed = type != 0 && StreamedWave(type, static_cast<size_t>(f.perChannel));
    uint64_t written = 0;
    bool ok = type == 0 || scratch != nullptr;
    for (uint32_t ep = 1; ok && ep <= episodes; ++ep) {
        float* into = type != 0 ? scratch : static_cast<float*>(out) + written;
        uint32_t n = 0;
        ok = ABF_ReadChannel(h, &block.header, f.physical0, ep, into, &n, &e) && n <= limit &&
             n <= f.perChannel - written;
        if (ok && type != 0) StoreSamples(out, type, static_cast<size_t>(written), scratch, n, streamed);
        written += n;
    }
    if (scratch != nullptr) FreeScratch(scratch);
    ABF_Close(h, &e);
    return ok && written == f.perChannel ? Now() - t0 : -1.0;
}

// ---- Through the stand-in host.

std::unique_ptr<kavhost::Host> LoadedHost(std::string* error)
{
    auto host = std::make_unique<kavhost::Host>();
    if (!host->Load()) {
        *error = "cannot load the plug-in: " + host->LoadError();
        return nullptr;
    }
    return host;
}

bool CallOk(const kavhost::CallResult& r) { return r.called && r.status == 0 && r.resultNumber == 1.0; }

std::string Why(const std::string& what, const kavhost::CallResult& r)
{
    return what + ": " +
           (r.called ? "status " + std::to_string(r.status) + ", result " + std::to_string(r.resultNumber) : r.error);
}

// One timed kav_AbfChannelRead of channel 0 into `w`, for a row of Rounds: seconds,
// or -1 with *failed saying why.
std::function<double()> TimedChannelRead(kavhost::Host* host, const std::string& name, kavhost::Wave* w,
                                         const char* what, std::string* failed)
{
    return [=] {
        const double t0 = Now();
        auto r = host->Call("kav_AbfChannelRead", {kavhost::Str(name), kavhost::Num(0), kavhost::WaveArg(w)});
        const double t = Now() - t0;
        if (!CallOk(r)) *failed = Why(what, r);
        return CallOk(r) ? t : -1.0;
    };
}

// Rounds of the bare limit and of each row in turn; the rows fill the same
// destination. Each row's entry: its median, and the median of the bare passes.
struct Timed {
    std::string id;
    std::function<double()> run;  // seconds, or negative on failure
    std::vector<double> times;
};

bool Rounds(const std::string& path, const FileFacts& f, float* bareOut, std::vector<Timed>& rows, int rounds,
            std::string* error)
{
    std::vector<double> bare;
    // One pass of everything first: the file into the page cache, the code warm.
    if (Bare(path, f, bareOut) < 0) {
        *error = "the bare read of " + path + " failed";
        return false;
    }
    for (Timed& t : rows)
        if (t.run() < 0) {
            *error = t.id + " failed";
            return false;
        }
    // A small file's pass is over in a fraction of a millisecond, where one
    // scheduler tick moves a median: its rounds are more, to about 0.1 s of bare passes.
    const double once = Bare(path, f, bareOut);
    if (once > 0) rounds = std::max(rounds, std::min(200, static_cast<int>(0.1 / once)));
    for (int r = 0; r < rounds; ++r) {
        bare.push_back(Bare(path, f, bareOut));
        for (Timed& t : rows) t.times.push_back(t.run());
    }
    const double b = Median(bare);
    for (const Timed& t : rows) {
        const double s = Median(t.times);
        const double samples = static_cast<double>(f.perChannel);
        Row(t.id, Num("seconds", s) + ", " + Num("bare_seconds", b) + ", " + Num("samples", samples) + ", " +
                      Num("msamples_per_s", samples / s / 1e6) + ", " + Num("bare_msamples_per_s", samples / b / 1e6) +
                      ", " + Num("share", b / s) + ", " + Num("rounds", rounds));
    }
    return true;
}

bool ChannelGroup(const std::string& path, const FileFacts& f, int rounds, std::string* error)
{
    const std::string name = LibraryPath(path);
    if (f.perChannel == 0 || f.perChannel > INT32_MAX) {
        *error = "no channel wave for " + std::to_string(f.perChannel) + " samples";
        return false;
    }
    const auto points = static_cast<int32_t>(f.perChannel);
    {
        auto host = LoadedHost(error);
        if (!host) return false;
        // The host zero-fills a wave it makes, as the application does: the call
        // below writes into memory that is already there.
        kavhost::Wave* w = host->MakeWave(kWaveFloat32, {points});
        if (!w) {
            *error = "no memory for a single-precision wave of " + std::to_string(points) + " points";
            return false;
        }
        float* data = w->As<float>();
        std::string failed;
        std::vector<Timed> rows = {
            // The same bare read in the blocks of one read of the library (64 KiB
            // for two channels of 16384 int16 samples), for comparison.
            {"bare_64k", [&] { return Bare(name, f, data, 64 << 10); }, {}},
            {"library_210", [&] { return EpisodeLoop(name, f, data, 0); }, {}},
            {"channel_f32", TimedChannelRead(host.get(), name, w, "kav_AbfChannelRead into f32", &failed), {}},
            // (Last: each row before it runs after the same row as before it was
            // added, the caches as they were. Double-precision rows depend on what
            // ran before them, the bare pass writing into the same wave: no such
            // row for them.)
            {"scratch_f32", [&] { return EpisodeLoop(name, f, data, kWaveFloat32); }, {}},
        };
        if (!Rounds(name, f, data, rows, rounds, error)) {
            if (!failed.empty()) *error = failed;
            return false;
        }
    }
    auto host = LoadedHost(error);
    if (!host) return false;
    kavhost::Wave* w = host->MakeWave(kWaveFloat64, {points});
    if (!w) {
        Row("channel_f64", Text("skipped", "no memory for a double-precision wave of " + std::to_string(points) +
                                               " points in this process"));
        return true;
    }
    std::string failed;
    std::vector<Timed> rows = {
        {"channel_f64", TimedChannelRead(host.get(), name, w, "kav_AbfChannelRead into f64", &failed), {}},
    };
    // The bare pass writes its floats into the first half of the same wave.
    if (!Rounds(name, f, w->As<float>(), rows, rounds, error)) {
        if (!failed.empty()) *error = failed;
        return false;
    }
    return true;
}

bool SweepsGroup(const std::string& path, const FileFacts& f, int rounds, std::string* error)
{
    const std::string name = LibraryPath(path);
    uint32_t sweepSamples = 0;
    {
        AbfHeaderBlock block;
        AbfPrepareHeader(&block);
        int32_t h = -1, e = 0;
        uint32_t limit = kAbfSampleLimit, episodes = 0;
        const bool opened = ABF_ReadOpen(name.c_str(), &h, 0, &block.header, &limit, &episodes, &e);
        const bool asked = opened && ABF_GetNumSamples(h, &block.header, 1, &sweepSamples, &e);
        if (opened) ABF_Close(h, &e);
        if (!asked) {
            *error = "cannot ask the sweep length of " + path;
            return false;
        }
    }
    auto host = LoadedHost(error);
    if (!host) return false;
    kavhost::Wave* w = host->MakeWave(kWaveFloat32, {static_cast<int32_t>(sweepSamples)});
    std::vector<float> bareOut(static_cast<size_t>(f.perChannel));
    std::string failed;
    std::vector<Timed> rows = {
        {"sweeps_f32",
         [&] {
             const double t0 = Now();
             for (uint32_t e = 1; e <= f.episodes; ++e) {
                 auto r = host->Call("kav_AbfEpisodeRead", {kavhost::Str(name), kavhost::Num(0),
                                                            kavhost::Num(static_cast<double>(e)), kavhost::WaveArg(w)});
                 if (!CallOk(r)) {
                     failed = Why("kav_AbfEpisodeRead of sweep " + std::to_string(e), r);
                     return -1.0;
                 }
             }
             return Now() - t0;
         },
         {}},
    };
    if (!Rounds(name, f, bareOut.data(), rows, rounds, error)) {
        if (!failed.empty()) *error = failed;
        return false;
    }
    Row("sweep_count", Num("sweeps", f.episodes) + ", " + Num("sweep_samples", sweepSamples));
    return true;
}

// Per-call rows: `batches` batches of `perBatch` calls; the median batch divided
// by its calls.
double PerCall(const std::function<bool()>& call, int batches, int perBatch)
{
    std::vector<double> t;
    for (int i = 0; i < perBatch; ++i)
        if (!call()) return -1.0;
    for (int b = 0; b < batches; ++b) {
        const double t0 = Now();
        for (int i = 0; i < perBatch; ++i)
            if (!call()) return -1.0;
        t.push_back((Now() - t0) / perBatch);
    }
    return Median(t);
}

bool CallsGroup(const std::string& path, int rounds, std::string* error)
{
    const std::string name = LibraryPath(path);
    const int batches = 10 * rounds;
    const int perBatch = 20;
    AbfHeaderBlock block;
    const double open = PerCall(
        [&] {
            AbfPrepareHeader(&block);
            int32_t h = -1, e = 0;
            uint32_t limit = kAbfSampleLimit, episodes = 0;
            if (!ABF_ReadOpen(name.c_str(), &h, 0, &block.header, &limit, &episodes, &e)) return false;
            return ABF_Close(h, &e) != 0;
        },
        batches, perBatch);
    // The floor under it: the OS opening the file, reading its first block and
    // closing it again.
    static std::vector<char> first(4096);
    const double bareOpen = PerCall(
        [&] {
            RawFile file;
            return file.Open(name) && file.Read(first.data(), first.size()) > 0;
        },
        batches, perBatch);
    auto host = LoadedHost(error);
    if (!host) return false;
    std::string failed;
    auto call = [&](const char* fn, std::vector<kavhost::Arg> args, bool refused) {
        return [&, fn, args, refused] {
            auto r = host->Call(fn, args);
            const bool ok = refused ? r.called && r.status != 0 : CallOk(r);
            if (!ok) failed = Why(fn, r);
            return ok;
        };
    };
    struct PerCallRow {
        const char* id;
        double seconds;
    } rows[] = {
        {"bare_open_close", bareOpen},
        {"open_close", open},
        {"query",
         PerCall(call("kav_AbfChannelCount", {kavhost::Str(name), kavhost::NumRef(0)}, false), batches, perBatch)},
        {"metadata",
         PerCall(call("kav_AbfMetaData", {kavhost::Str(name), kavhost::StrRef("")}, false), batches, perBatch)},
        // Channel 99 is refused after the name was taken and before anything is
        // opened: the host's packing, string handles and audit, and the plug-in's
        // entry checks.
        {"host_round_trip",
         PerCall(call("kav_AbfEpisodeRead",
                      {kavhost::Str(name), kavhost::Num(99), kavhost::Num(1), kavhost::NullWave()}, true),
                 batches, perBatch)},
    };
    for (const PerCallRow& r : rows) {
        if (r.seconds < 0) {
            *error = std::string(r.id) + " failed" + (failed.empty() ? "" : ": " + failed);
            return false;
        }
        Row(r.id,
            Num("seconds", r.seconds) + ", " + Num("us", r.seconds * 1e6) + ", " + Num("calls", batches * perBatch));
    }
    return true;
}

#if !defined(_WIN32)
// A field of /proc/self/io or /proc/self/status, -1 when absent.
long long ProcField(const char* file, const char* key)
{
    FILE* f = std::fopen(file, "r");
    if (!f) return -1;
    char line[256];
    long long v = -1;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0 && line[n] == ':') {
            v = std::atoll(line + n + 1);
            break;
        }
    std::fclose(f);
    return v;
}
#endif

bool MemoryGroup(const std::string& path, const FileFacts& f, std::string* error)
{
#if defined(_WIN32)
    (void)path;
    (void)f;
    (void)error;
    Row("memory", Text("skipped", "Linux only"));
    return true;
#else
    // Bytes read through read() during an open and close: the header and the
    // tables it needs; the data section starts at dataOffset.
    AbfHeaderBlock block;
    AbfPrepareHeader(&block);
    int32_t h = -1, e = 0;
    uint32_t limit = kAbfSampleLimit, episodes = 0;
    // (Reading /proc/self/io counts too: the bytes of one reading are taken off.)
    const long long r0 = ProcField("/proc/self/io", "rchar");
    const long long itself = ProcField("/proc/self/io", "rchar") - r0;
    const bool opened = ABF_ReadOpen(path.c_str(), &h, 0, &block.header, &limit, &episodes, &e);
    if (opened) ABF_Close(h, &e);
    const long long r1 = ProcField("/proc/self/io", "rchar") - 2 * itself;
    if (!opened) {
        *error = "cannot open " + path;
        return false;
    }
    // The peak of the resident memory while a whole channel is read into a wave
    // made (and zero-filled) before, beyond what the process held before: first
    // through the library alone (its read window), then through the plug-in (its
    // scratch block; the library's window is by then the one kept from the first
    // read, already resident). Linux counts in pages.
    long long libraryExtra = -1, pluginExtra = -1;
    auto peakExtra = [](const std::function<bool()>& read) {
        FILE* c = std::fopen("/proc/self/clear_refs", "w");
        if (!c) return -1LL;
        std::fputs("5", c);  // resets the peak to the current resident size
        std::fclose(c);
        const long long before = ProcField("/proc/self/status", "VmRSS");
        const bool ok = read();
        const long long peak = ProcField("/proc/self/status", "VmHWM");
        return ok && before >= 0 && peak >= 0 ? (peak - before) * 1024 : -1LL;
    };
    if (f.perChannel > 0 && f.perChannel <= INT32_MAX) {
        auto host = LoadedHost(error);
        if (!host) return false;
        kavhost::Wave* w = host->MakeWave(kWaveFloat32, {static_cast<int32_t>(f.perChannel)});
        if (w) {
            libraryExtra = peakExtra([&] { return EpisodeLoop(path, f, w->As<float>(), 0) >= 0; });
            pluginExtra = peakExtra([&] {
                return CallOk(
                    host->Call("kav_AbfChannelRead", {kavhost::Str(path), kavhost::Num(0), kavhost::WaveArg(w)}));
            });
        }
    }
    Row("memory", Num("open_read_bytes", static_cast<double>(r1 - r0)) + ", " +
                      Num("data_offset", static_cast<double>(f.dataOffset)) + ", " +
                      Num("library_peak_extra_bytes", static_cast<double>(libraryExtra)) + ", " +
                      Num("channel_read_peak_extra_bytes", static_cast<double>(pluginExtra)));
    return true;
#endif
}

// The cost of the cheapest system call (one that the C library does not answer
// itself), the median of batches.
void MachineGroup()
{
#if defined(_WIN32)
    Row("syscall", Text("skipped", "Linux only"));
#else
    const double s = PerCall([] { return syscall(SYS_getppid) > 0; }, 50, 2000);
    Row("syscall", Num("seconds", s) + ", " + Num("us", s * 1e6));
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: kav_bench FILE channel,sweeps,calls,memory|machine [ROUNDS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const std::string groups = "," + std::string(argv[2]) + ",";
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    auto has = [&](const char* g) { return groups.find("," + std::string(g) + ",") != std::string::npos; };

    std::string error;
    FileFacts f;
    if (has("machine")) {
        MachineGroup();
        std::printf("{\"rows\": [\n%s\n]}\n", g_rows.c_str());
        return 0;
    }
    bool ok = ReadFacts(LibraryPath(path), &f, &error);
    if (ok && has("memory")) ok = MemoryGroup(LibraryPath(path), f, &error);
    if (ok && has("calls")) ok = CallsGroup(path, rounds, &error);
    if (ok && has("sweeps")) ok = SweepsGroup(path, f, rounds, &error);
    if (ok && has("channel")) ok = ChannelGroup(path, f, rounds, &error);
    std::printf("{%s, \"channels\": %u, \"samples_per_channel\": %llu, \"episodes\": %u, \"rows\": [\n%s\n]",
                Text("file", path).c_str(), f.nch, static_cast<unsigned long long>(f.perChannel), f.episodes,
                g_rows.c_str());
    if (!ok) std::printf(", %s", Text("error", error).c_str());
    std::printf("}\n");
    return ok ? 0 : 1;
}
