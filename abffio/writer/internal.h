// Inside the writer: the bytes of a file being planned, the plan of a file, the two
// formats' planners (abf1.cpp, abf2.cpp) behind the one dispatch (write.cpp), and
// what they share: what follows from a description (derived.cpp), the records both
// formats write alike, the data section (data.cpp) and the damage (damage.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "abf_writer.h"

namespace abfw {

inline constexpr int64_t kBlock = abfformat::kBlockBytes;

inline int64_t Blocks(int64_t bytes) { return (bytes + kBlock - 1) / kBlock; }

template <class T>
struct Same {
    using Type = T;
};

// Little-endian byte buffer with stores at fixed offsets or into the named fields of a
// structure that starts at `base`.
struct Bytes {
    std::vector<uint8_t> b;
    explicit Bytes(size_t n = 0) : b(n, 0) {}
    void Grow(size_t end)
    {
        if (b.size() < end) b.resize(end, 0);
    }
    template <typename T>
    void Put(size_t off, T v)
    {
        static_assert(std::is_arithmetic<T>::value, "numbers only");
        Grow(off + sizeof(T));
        std::memcpy(&b[off], &v, sizeof(T));  // the targets are little-endian
    }
    // Element i of field f (the value has the field's own type).
    template <typename T>
    void Put(size_t base, const abfformat::Field<T>& f, typename Same<T>::Type v, uint32_t i = 0)
    {
        Put<T>(base + f.At(i), v);
    }
    // Fixed-width text, space padded, no terminator.
    void Text(size_t off, const std::string& s, size_t width)
    {
        Grow(off + width);
        for (size_t i = 0; i < width; ++i) b[off + i] = i < s.size() ? uint8_t(s[i]) : uint8_t(' ');
    }
    void Text(size_t base, const abfformat::Field<char>& f, const std::string& s, uint32_t i = 0)
    {
        Text(base + f.At(i), s, f.width);
    }
    void Raw(size_t off, const void* p, size_t n)
    {
        Grow(off + n);
        std::memcpy(&b[off], p, n);
    }
};

// The plan of a file: its bytes before the data section, where the data goes, and
// the tags and synch array after it. A format's planner fills it; the writer
// streams the data between head and tail.
struct FilePlan {
    Bytes head;  // everything before the data section
    Layout layout;
    int64_t dataOffset = 0;
    Bytes tail;  // tags and synch array, from tailOffset
    int64_t tailOffset = 0;
};

// ---- The formats' planners, one module each, with the same stage: the header of a
// checked description laid out in plan->head, the sections placed in plan->layout,
// the data offset and the tail (Tail) set.
void PlanAbf1(const RecordingSpec& rec, FilePlan* plan);
void PlanAbf2(const RecordingSpec& rec, FilePlan* plan);

// ---- What both formats take from a description (derived.cpp).

// DAC d's name and units ("Cmd d" for DAC 0..3, "AO #d" above, "mV", where the
// description has no such DAC or leaves the name empty), and its settings.
std::string DacName(const RecordingSpec& rec, size_t d);
std::string DacUnits(const RecordingSpec& rec, size_t d);
const Dac& DacOrDefault(const RecordingSpec& rec, size_t d);
// Multiplexed samples of the whole recording (lActualAcqLength).
int64_t MuxSamples(const RecordingSpec& rec);
// Bytes of one stored sample: 2 (int16) or 4 (float32).
uint32_t SampleBytes(const RecordingSpec& rec);
// Whether the file gets a synch array: every mode but gap-free, unless left out.
bool HasSynch(const RecordingSpec& rec);
// Per-channel samples of the protocol's sweep (lNumSamplesPerEpisode / channels).
int64_t ProtocolSweepSamples(const RecordingSpec& rec);
// Whether the active DAC's enabled epochs set any digital output.
bool AnyDigital(const RecordingSpec& rec);
bool AnyExternalTag(const RecordingSpec& rec);
// Seconds of all sweeps together (fSecondsPerRun, ABF1's dFileDuration).
double TotalSeconds(const RecordingSpec& rec);
int32_t PreTrigger(int64_t sweepMuxSamples);

// ---- Records both formats write alike (write.cpp).

// false, with *error set to the text (when there is an error to set).
bool Fail(std::string* error, const std::string& text);
void PutGuid(Bytes& h, uint32_t at, uint64_t seed);
void AddSection(Layout* l, const char* name, int64_t offset, uint32_t entryBytes, int64_t count);
// Where the numbers of one epoch go: the ABF1 header's [DAC][epoch] tables, or the
// fields of an ABF2 epoch entry.
struct EpochFields {
    abfformat::Field<int16_t> type;
    abfformat::Field<float> initLevel, levelInc;
    abfformat::Field<int32_t> initDuration, durationInc, pulsePeriod, pulseWidth;
};
void PutEpoch(Bytes& h, size_t base, const EpochFields& f, const Epoch& x, uint32_t i);
// The tags and the synch array, which follow the data in both formats, laid out
// from tailOffset; *tagOffset and *synchOffset are their byte offsets (0: absent).
Bytes Tail(const RecordingSpec& rec, int64_t* tagOffset, int64_t* synchOffset, int64_t tailOffset);

// ---- The file itself.

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
bool WriteAll(FILE* f, const void* p, size_t n);
// 64-bit file positions in every build (the 32-bit Windows ones included).
bool SeekFromStart(FILE* f, int64_t at);
int64_t Position(FILE* f);
// The data section: the samples generated chunk by chunk, quantised and written,
// then padded to a block (data.cpp).
bool StreamData(const RecordingSpec& rec, FILE* f, std::string* error);
// The description's damage done to the written file (damage.cpp).
bool ApplyDamage(const RecordingSpec& rec, const Layout& layout, const std::string& path, std::string* error);

}  // namespace abfw
