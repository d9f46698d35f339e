// The ABF library and the reader used from several threads at once, built with
// ThreadSanitizer (the library's and the reader's own copies, see CMakeLists.txt):
// every thread reads every recording (all channels, their first and last
// episodes and a range across reads, the stimulus, the tags, the header string)
// through a Recording of its own, in an
// order of its own, while one more thread works the test controls the library
// keeps for all files. Each thread's digest of each file must equal the one a
// single thread made first; ThreadSanitizer reports any data race it sees, and
// fails the run (exit code 66).
//
// Inputs: abfgen's presets of every operation mode and sample format, written by
// the test, and the real recordings in KAV_SHARED_DIR/data/abf when present.
//
// usage: threads_test WORK_DIR
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "abffio/writer/abf_writer.h"
#include "interface/abffio.h"
#include "reader/recording.h"

namespace fs = std::filesystem;

namespace {

constexpr int kThreads = 4;
constexpr uint32_t kEnds = 3;  // reads of each channel read at each end

struct Digest {
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    void Add(const void* data, std::size_t bytes)
    {
        const auto* p = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < bytes; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
    }
    void Add(const std::string& s) { Add(s.data(), s.size()); }
    template <typename T>
    void Value(T v)
    {
        Add(&v, sizeof v);
    }
};

// Everything a program reads of one recording, folded into one number; a failure
// folds in its error number, so that a file refused in one thread and read in
// another differ.
uint64_t ReadWhole(const std::string& path)
{
    Digest d;
    reader::Recording rec;
    if (!rec.Open(path)) {
        d.Value(rec.ErrorNumber());
        return d.hash;
    }
    d.Add(rec.HeaderString());
    std::vector<float> buffer(std::max<uint32_t>(rec.SampleLimit(), 1));
    for (const reader::Channel& c : rec.Channels()) {
        d.Add(rec.Note(c.logical, false, 0.0));
        for (uint32_t e = 1; e <= rec.Episodes(); ++e) {
            // The first and last few reads: enough to read files at the same time,
            // and the run stays short under ThreadSanitizer.
            if (e > kEnds && e + kEnds <= rec.Episodes()) continue;
            uint32_t n = 0;
            d.Value(rec.Read(c.logical, e, buffer.data(), &n) ? 0 : rec.ErrorNumber());
            d.Add(buffer.data(), n * sizeof(float));
        }
        uint32_t room = 0;
        if (rec.Episodes() > 0 && rec.StimulusRoom(1, &room)) {
            std::vector<float> stimulus(room);
            const bool ok = rec.ReadStimulus(c.logical, 1, stimulus.data());
            d.Value(ok ? 0 : rec.ErrorNumber());
            if (ok) d.Add(stimulus.data(), stimulus.size() * sizeof(float));
        }
        int64_t points = 0;
        if (rec.GapFree() && rec.ChannelPoints(&points) && points > 2) {
            // A range across reads, through the reader's own path.
            const int64_t count = std::min<int64_t>(points / 2, 3 * int64_t{rec.SampleLimit()});
            std::vector<float> range(static_cast<std::size_t>(count));
            d.Value(rec.ReadRange(c.logical, points / 4, count, range.data()) ? 0 : rec.ErrorNumber());
            d.Add(range.data(), range.size() * sizeof(float));
        }
    }
    std::vector<reader::Tag> tags;
    if (rec.Tags(&tags))
        for (const reader::Tag& t : tags) {
            d.Value(t.seconds);
            d.Add(t.comment);
        }
    return d.hash;
}

std::vector<std::string> WritePresets(const fs::path& dir)
{
    static const char* const kPresets[] = {"default",       "step-protocol", "variable-events",   "fixed-events",
                                           "oscilloscope",  "float32",       "float32-episodic",  "abf1-episodic",
                                           "abf1-events",   "channels-16",   "tag-types",         "long-episode",
                                           "single-sample", "zero-episodes", "truncated-mid-data"};
    std::vector<std::string> paths;
    for (const char* name : kPresets) {
        abfw::RecordingSpec rec;
        std::string error;
        const std::string path = (dir / (std::string(name) + ".abf")).string();
        if (!abfw::MakePreset(name, &rec, &error) || !abfw::WriteAbf(rec, path, &error)) {
            std::fprintf(stderr, "cannot write preset %s: %s\n", name, error.c_str());
            std::exit(1);
        }
        paths.push_back(path);
    }
    return paths;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: threads_test WORK_DIR\n");
        return 2;
    }
    const fs::path work = argv[1];
    fs::remove_all(work);
    fs::create_directories(work);
    std::vector<std::string> files = WritePresets(work);
    const char* shared = std::getenv("KAV_SHARED_DIR");
    const fs::path real = shared ? fs::path(shared) / "data" / "abf" : fs::path();
    std::error_code ec;
    if (shared && fs::is_directory(real, ec)) {
        for (const auto& entry : fs::directory_iterator(real))
            if (entry.path().extension() == ".abf") files.push_back(entry.path().string());
    } else {
        std::printf("the real recordings are not there (KAV_SHARED_DIR); generated files only\n");
    }
    files.push_back((work / "no-such-file.abf").string());

    std::vector<uint64_t> expected;
    for (const std::string& f : files) expected.push_back(ReadWhole(f));

    // Each thread starts at a different file, so that different files are opened,
    // read and closed at the same time, and handles are taken and given back in
    // every order.
    std::vector<std::vector<uint64_t>> seen(kThreads, std::vector<uint64_t>(files.size()));
    std::atomic<bool> reading{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const std::size_t n = files.size();
            for (std::size_t k = 0; k < n; ++k) {
                const std::size_t i = (k + static_cast<std::size_t>(t) * n / kThreads) % n;
                seen[static_cast<std::size_t>(t)][i] = ReadWhole(files[i]);
            }
        });
    // The test controls touch the state all files share: a fault on an ordinal the
    // readers never call, which every call looks for, and the read counter, which
    // every file read counts in.
    std::thread controls([&] {
        int32_t faults = 0;
        while (reading.load()) {
            ABFTest_InjectFault(140, 4321, 0);
            int32_t format = 0, error = 0;
            if (!ABF_IsABFFile(files.front().c_str(), &format, &error) && error == 4321) ++faults;
            ABFTest_WriteLibraryRecord(0);
            ABFTest_InjectReadFault(kAbfReadFaultNone, 0, 0);
        }
        if (faults == 0) std::fprintf(stderr, "the injected fault never struck\n");
    });
    for (std::thread& t : threads) t.join();
    reading = false;
    controls.join();

    int mismatches = 0;
    for (int t = 0; t < kThreads; ++t)
        for (std::size_t i = 0; i < files.size(); ++i)
            if (seen[static_cast<std::size_t>(t)][i] != expected[i]) {
                std::fprintf(stderr, "thread %d read %s differently\n", t, files[i].c_str());
                ++mismatches;
            }
    std::printf("%zu files read by %d threads at once: %d differences\n", files.size(), kThreads, mismatches);
    fs::remove_all(work);
    return mismatches == 0 ? 0 : 1;
}
