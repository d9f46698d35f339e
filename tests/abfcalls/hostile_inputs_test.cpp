// The hostile-input sweep: a few hundred files mutated from abfgen's recordings
// (truncated, bytes flipped, blocks zeroed, the ABF2 section map and protocol and the
// ABF1 header fields set to huge or negative values), each through every reading
// function with hostile arguments (fuzz/plugin/plugin_calls.h: NaN, infinities, huge
// episode numbers, null, 4000-byte and odd file names, wrong wave types, shapes and
// lengths). No crash, no hang, and the host's audit clean after every call. Natively
// and under Wine with the real kav_Sorvan.xop and ABFFIO.dll. One seed: the same
// files and calls on every run.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "abffio/format/abf_format.h"
#include "abffio/writer/abf_writer.h"
#include "fuzz/plugin/plugin_calls.h"
#include "host/host.h"
#include "query_support.h"
#include "tools/abfgen/cli.h"

namespace {

namespace fmt = abfformat;

constexpr uint32_t kSeed = 17;
constexpr int kMutantsPerRecording = 8;
constexpr size_t kMaxBaseBytes = 65535;

// Where a header field lies (bytes from the start of its structure) and its width.
struct FieldAt {
    uint32_t offset;
    uint32_t width;
};
template <class T>
FieldAt At(const fmt::Field<T>& f)
{
    return {f.offset, static_cast<uint32_t>(sizeof(T))};
}

const FieldAt kAbf1Fields[] = {
    At(fmt::abf1::fFileVersionNumber), At(fmt::abf1::nOperationMode),    At(fmt::abf1::lActualAcqLength),
    At(fmt::abf1::nNumPointsIgnored),  At(fmt::abf1::lActualEpisodes),   At(fmt::abf1::lDataSectionPtr),
    At(fmt::abf1::lTagSectionPtr),     At(fmt::abf1::lNumTagEntries),    At(fmt::abf1::lSynchArrayPtr),
    At(fmt::abf1::lSynchArraySize),    At(fmt::abf1::nDataFormat),       At(fmt::abf1::nADCNumChannels),
    At(fmt::abf1::fADCSampleInterval), At(fmt::abf1::fSynchTimeUnit),    At(fmt::abf1::lNumSamplesPerEpisode),
    At(fmt::abf1::nADCSamplingSeq),    At(fmt::abf1::lDACFilePtr),       At(fmt::abf1::lDACFileNumEpisodes),
    At(fmt::abf1::nWaveformSource),    At(fmt::abf1::lEpochPulsePeriod),
};
const FieldAt kAbf2ProtocolFields[] = {
    At(fmt::abf2::protocol::nOperationMode),        At(fmt::abf2::protocol::fADCSequenceInterval),
    At(fmt::abf2::protocol::uFileCompressionRatio), At(fmt::abf2::protocol::fSynchTimeUnit),
    At(fmt::abf2::protocol::lNumSamplesPerEpisode), At(fmt::abf2::protocol::fEpisodeStartToStart),
};
const FieldAt kAbf2DacFields[] = {
    At(fmt::abf2::dac::lDACFilePtr),
    At(fmt::abf2::dac::lDACFileNumEpisodes),
    At(fmt::abf2::dac::nWaveformSource),
};

const int64_t kHostile[] = {0,         1,        -1,    2,         16,        17,         255,
                            32767,     -32768,   65536, INT32_MAX, INT32_MIN, 0x7FFFFF00, int64_t(1) << 40,
                            INT64_MAX, INT64_MIN};

class Mutator {
public:
    explicit Mutator(uint32_t seed) : rng_(seed) {}
    uint32_t Next(uint32_t below) { return below ? static_cast<uint32_t>(rng_() % below) : 0; }

    // One to three of the mutations, in order.
    std::string Mutate(std::string f)
    {
        for (uint32_t n = 1 + Next(3); n > 0 && !f.empty(); --n) {
            switch (Next(5)) {
            case 0: f.resize(Next(static_cast<uint32_t>(f.size()))); break;
            case 1:
                for (uint32_t k = 1 + Next(16); k > 0; --k)
                    f[Next(static_cast<uint32_t>(f.size()))] ^= static_cast<char>(1 + Next(255));
                break;
            case 2: {
                const uint32_t block = Next(static_cast<uint32_t>(f.size() / fmt::kBlockBytes + 1));
                for (size_t i = block * fmt::kBlockBytes; i < f.size() && i < (block + 1) * fmt::kBlockBytes; ++i)
                    f[i] = 0;
                break;
            }
            default: SetField(f); break;
            }
        }
        return f;
    }

private:
    int64_t Value(const std::string& f)
    {
        // Now and then a block just past the end of the file, or the file's size.
        const int64_t blocks = static_cast<int64_t>(f.size() / fmt::kBlockBytes);
        switch (Next(8)) {
        case 0: return blocks + Next(3);
        case 1: return static_cast<int64_t>(f.size());
        default: return kHostile[Next(sizeof kHostile / sizeof kHostile[0])];
        }
    }
    void Put(std::string& f, uint64_t offset, uint32_t width, int64_t v)
    {
        if (offset + width > f.size()) return;
        const size_t at = static_cast<size_t>(offset);
        for (uint32_t i = 0; i < width; ++i) f[at + i] = static_cast<char>(static_cast<uint64_t>(v) >> (8 * i));
    }
    uint32_t Get32(const std::string& f, uint64_t offset)
    {
        uint32_t v = 0;
        if (offset + 4 <= f.size()) memcpy(&v, f.data() + static_cast<size_t>(offset), 4);
        return v;
    }
    // A header field, an ABF2 section map entry, or a field of ABF2's protocol or first
    // DAC entry, set to a hostile value.
    void SetField(std::string& f)
    {
        const bool abf2 = f.size() >= 4 && memcmp(f.data(), fmt::kAbf2Signature, 4) == 0;
        if (!abf2) {
            const FieldAt& a = kAbf1Fields[Next(sizeof kAbf1Fields / sizeof kAbf1Fields[0])];
            Put(f, a.offset, a.width, Value(f));
            return;
        }
        const uint32_t which = Next(3);
        if (which == 0) {
            const uint32_t entry = fmt::abf2::SectionEntryOffset(static_cast<int>(Next(fmt::abf2::kSections209)));
            const FieldAt members[] = {At(fmt::abf2::section::uBlockIndex), At(fmt::abf2::section::uBytes),
                                       At(fmt::abf2::section::llNumEntries)};
            const FieldAt& m = members[Next(3)];
            Put(f, entry + m.offset, m.width, Value(f));
            return;
        }
        const int section = which == 1 ? fmt::abf2::kProtocol : fmt::abf2::kDAC;
        const uint64_t start =
            uint64_t(Get32(f, fmt::abf2::SectionEntryOffset(section) + fmt::abf2::section::uBlockIndex.offset)) *
            fmt::kBlockBytes;
        const FieldAt& a = which == 1 ? kAbf2ProtocolFields[Next(sizeof kAbf2ProtocolFields / sizeof(FieldAt))]
                                      : kAbf2DacFields[Next(sizeof kAbf2DacFields / sizeof(FieldAt))];
        Put(f, start + a.offset, a.width, Value(f));
    }

    std::mt19937 rng_;
};

// Every preset of abfgen, made small as fuzz/make-corpus.sh makes them.
std::vector<std::string> BaseRecordings()
{
    const std::vector<std::vector<std::string>> shrink = {{},
                                                          {"--samples", "2000"},
                                                          {"--episodes", "3", "--episode-samples", "600"},
                                                          {"--episodes", "3", "--episode-lengths", "300,700,500"},
                                                          {"--samples", "2000", "--channels", "4"}};
    const std::string path = querytest::ScratchFile("hostile_base.abf");
    std::vector<std::string> out;
    for (const abfw::PresetInfo& p : abfw::Presets()) {
        for (const std::vector<std::string>& opts : shrink) {
            std::vector<std::string> args = {"--preset", p.name};
            args.insert(args.end(), opts.begin(), opts.end());
            args.push_back(path);
            abfw::RecordingSpec rec;
            std::string file, error, bytes;
            testing::internal::CaptureStderr();
            const bool built = abfgen::BuildRecording(args, &rec, &file);
            testing::internal::GetCapturedStderr();
            abfw::Layout layout;
            if (!built || !abfw::PlanLayout(rec, &layout, &error) || layout.fileSize > 4 * int64_t(kMaxBaseBytes))
                continue;
            if (!abfw::WriteAbf(rec, path, &error) || !querytest::ReadFile(path, &bytes) ||
                bytes.size() > kMaxBaseBytes)
                continue;
            out.push_back(bytes);
            break;
        }
    }
    return out;
}

TEST(Hostile, MutatedRecordingsThroughEveryReadingFunction)
{
    const std::vector<std::string> bases = BaseRecordings();
    ASSERT_GE(bases.size(), 40u) << "abfgen's presets did not make the recordings";
    Mutator m(kSeed);
    const std::string path = querytest::ScratchFile("hostile.abf");
    int files = 0, calls = 0, failures = 0;
    for (const std::string& base : bases) {
        for (int i = 0; i < kMutantsPerRecording; ++i, ++files) {
            const std::string mutant = m.Mutate(base);
            ASSERT_TRUE(querytest::WriteFile(path, mutant));
            // A host of its own for every file: its waves and heap go with it.
            kavhost::Host host;
            ASSERT_TRUE(host.Load()) << host.LoadError();
            std::string last;
            auto check = [&](const kavhost::CallResult& r) -> const kavhost::CallResult& {
                ++calls;
                if (!r.called || !r.Clean() || !host.AuditClean()) {
                    ++failures;
                    const std::string kept =
                        querytest::ScratchFile("hostile_failure_" + std::to_string(files) + ".abf");
                    querytest::WriteFile(kept, mutant);
                    ADD_FAILURE() << "file " << files << " (kept as " << kept << "), after " << last << ": "
                                  << (r.called ? host.AuditReport() : r.error);
                }
                return r;
            };
            for (size_t f = 0; f < kavfuzz::kFunctionCount; ++f) {
                const uint8_t c[4] = {static_cast<uint8_t>(f + kavfuzz::kFunctionCount * m.Next(16)),
                                      static_cast<uint8_t>(m.Next(256)), static_cast<uint8_t>(m.Next(256)),
                                      static_cast<uint8_t>(m.Next(256))};
                last = std::string(kavfuzz::kFunctions[f].name) + " with bytes " + std::to_string(c[1]) + " " +
                       std::to_string(c[2]) + " " + std::to_string(c[3]);
                kavfuzz::HostileCall(host, path, c, check);
            }
            check(host.Call("kav_AbfLastErrStr", {}));
            if (failures > 10) FAIL() << "stopped after " << failures << " failures";
        }
    }
    std::printf("%d mutated files from %zu recordings, %d calls\n", files, bases.size(), calls);
}

}  // namespace
