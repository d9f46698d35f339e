// Igor binary wave files, version 5, one wave per file, laid out as Igor writes
// them: the 64-byte binary header, the 320-byte wave header, the data, then the
// note and the extended units, little-endian. The header is complete before the
// first sample (the point count comes from the recording's header), so the data
// stream straight from the library's reads into the file.
#include <cstring>
#include <ctime>
#include <limits>

#include "sorvan/export.h"

namespace sorvan {

namespace {

constexpr int16_t kVersion = 5;
constexpr std::size_t kBinHeaderSize = 64;
constexpr std::size_t kWaveHeaderSize = 320;
constexpr int16_t kTypeText = 0;
constexpr int16_t kTypeFloat32 = 2;
constexpr int16_t kTypeFloat64 = 4;
// Units of up to 3 characters live in the wave header; longer ones in the
// extended units sections after the note.
constexpr std::size_t kShortUnits = 3;

// Offsets within the binary header.
constexpr std::size_t kBinChecksum = 2, kBinWfmSize = 4, kBinNoteSize = 12, kBinDataEUnitsSize = 16,
                      kBinDimEUnitsSize = 20, kBinSIndicesSize = 52;
// Offsets within the wave header.
constexpr std::size_t kWhCreationDate = 4, kWhModDate = 8, kWhNpnts = 12, kWhType = 16, kWhVersion = 26, kWhName = 28,
                      kWhNDim = 68, kWhSfA = 84, kWhSfB = 116, kWhDataUnits = 148, kWhDimUnits = 152;

struct IbwWave {
    std::string name;
    int16_t type;
    uint32_t points;
    double xStep;
    std::string units;
    std::string xUnits;
    std::string note;
    uint64_t dataBytes;
    std::vector<int32_t> stringEnds;  // text waves: end offset of each string
};

template <typename T>
void Put(unsigned char* at, T value)
{
    std::memcpy(at, &value, sizeof value);
}

// Igor's dates: seconds since 1904-01-01 in local time.
uint32_t IgorNow()
{
    const std::time_t now = std::time(nullptr);
    const std::tm* t = std::localtime(&now);
    if (!t) return 0;
    // Days from 1904-01-01 to the date (civil-from-days, proleptic Gregorian).
    const int y = t->tm_year + 1900 - (t->tm_mon < 2 ? 1 : 0);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int m = t->tm_mon + 1;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + t->tm_mday - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;  // from 1970-01-01
    const int64_t since1904 = (days + 24107) * 86400 + t->tm_hour * 3600 + t->tm_min * 60 + t->tm_sec;
    return static_cast<uint32_t>(since1904);
}

std::vector<unsigned char> Headers(const IbwWave& w)
{
    std::vector<unsigned char> h(kBinHeaderSize + kWaveHeaderSize, 0);
    unsigned char* bin = h.data();
    unsigned char* wave = h.data() + kBinHeaderSize;
    Put<int16_t>(bin, kVersion);
    Put<int32_t>(bin + kBinWfmSize, static_cast<int32_t>(kWaveHeaderSize + w.dataBytes));
    Put<int32_t>(bin + kBinNoteSize, static_cast<int32_t>(w.note.size()));
    if (w.units.size() > kShortUnits) Put<int32_t>(bin + kBinDataEUnitsSize, static_cast<int32_t>(w.units.size()));
    if (w.xUnits.size() > kShortUnits) Put<int32_t>(bin + kBinDimEUnitsSize, static_cast<int32_t>(w.xUnits.size()));
    Put<int32_t>(bin + kBinSIndicesSize, static_cast<int32_t>(w.stringEnds.size() * 4));

    const uint32_t now = IgorNow();
    Put<uint32_t>(wave + kWhCreationDate, now);
    Put<uint32_t>(wave + kWhModDate, now);
    Put<int32_t>(wave + kWhNpnts, static_cast<int32_t>(w.points));
    Put<int16_t>(wave + kWhType, w.type);
    Put<int16_t>(wave + kWhVersion, 1);
    std::memcpy(wave + kWhName, w.name.data(), w.name.size());  // at most 31, NUL after it
    Put<int32_t>(wave + kWhNDim, static_cast<int32_t>(w.points));
    // X scaling of the rows; the unused dimensions keep Igor's defaults 1 and 0.
    for (int d = 0; d < 4; ++d) Put<double>(wave + kWhSfA + 8 * d, d == 0 ? w.xStep : 1.0);
    for (int d = 0; d < 4; ++d) Put<double>(wave + kWhSfB + 8 * d, 0.0);
    if (w.units.size() <= kShortUnits) std::memcpy(wave + kWhDataUnits, w.units.data(), w.units.size());
    if (w.xUnits.size() <= kShortUnits) std::memcpy(wave + kWhDimUnits, w.xUnits.data(), w.xUnits.size());

    // The checksum makes the 16-bit sum of both headers zero.
    int16_t sum = 0;
    for (std::size_t i = 0; i < h.size(); i += 2) {
        int16_t v;
        std::memcpy(&v, &h[i], 2);
        sum = static_cast<int16_t>(sum + v);
    }
    Put<int16_t>(bin + kBinChecksum, static_cast<int16_t>(-sum));
    return h;
}

// What follows the data: formula (none), note, extended units, string ends.
std::string Trailer(const IbwWave& w)
{
    std::string t = w.note;
    if (w.units.size() > kShortUnits) t += w.units;
    if (w.xUnits.size() > kShortUnits) t += w.xUnits;
    t.append(reinterpret_cast<const char*>(w.stringEnds.data()), w.stringEnds.size() * 4);
    return t;
}

class IbwWriter : public Writer {
public:
    bool Write(ExportJob& job, std::string* error) override
    {
        if (!job.EachWave([&](const WaveSpec& w) { return WriteNumeric(job, w, error); })) return false;
        if (!job.tags.empty()) return WriteTags(job, error);
        return true;
    }

private:
    bool WriteNumeric(ExportJob& job, const WaveSpec& spec, std::string* error)
    {
        const std::size_t size = job.asDouble ? 8 : 4;
        const uint64_t bytes = spec.points * size;
        constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
        if (spec.points > kMax || bytes + kWaveHeaderSize > kMax) {
            *error = spec.name + " has " + std::to_string(spec.points) +
                     " points, more than an Igor binary wave file holds (2 GB); --to npy or itx can take it";
            return false;
        }
        const IbwWave w = {spec.name,
                           job.asDouble ? kTypeFloat64 : kTypeFloat32,
                           static_cast<uint32_t>(spec.points),
                           spec.xStep,
                           spec.units,
                           "s",
                           spec.note,
                           bytes,
                           {}};
        OutputFile out;
        if (!job.Create(spec.name + ".ibw", &out, error)) return false;
        const std::vector<unsigned char> headers = Headers(w);
        out.Reserve(headers.size() + bytes);
        out.Write(headers.data(), headers.size());
        const bool ok = job.Stream(spec, buffer_, error, [&](const float* v, uint32_t n) {
            if (!job.asDouble) return out.Write(v, n * sizeof(float));
            widened_.assign(v, v + n);
            return out.Write(widened_.data(), n * sizeof(double));
        });
        if (!ok) return false;
        out.Write(Trailer(w));
        return job.Finish(&out, error);
    }

    // The tag times (double, seconds) and the comments (a text wave).
    bool WriteTags(ExportJob& job, std::string* error)
    {
        const uint32_t n = static_cast<uint32_t>(job.tags.size());
        std::vector<double> times;
        std::string text;
        std::vector<int32_t> ends;
        for (const Tag& t : job.tags) {
            times.push_back(t.seconds);
            text += t.comment;
            ends.push_back(static_cast<int32_t>(text.size()));
        }
        const IbwWave timesWave = {job.tagTimesName, kTypeFloat64, n, 1.0, "s", "", "", n * 8ull, {}};
        const IbwWave textWave = {job.tagTextName, kTypeText, n, 1.0, "", "", "", text.size(), ends};
        OutputFile a, b;
        if (!job.Create(timesWave.name + ".ibw", &a, error)) return false;
        const std::vector<unsigned char> ha = Headers(timesWave);
        a.Write(ha.data(), ha.size());
        a.Write(times.data(), times.size() * sizeof(double));
        a.Write(Trailer(timesWave));
        if (!job.Finish(&a, error)) return false;
        if (!job.Create(textWave.name + ".ibw", &b, error)) return false;
        const std::vector<unsigned char> hb = Headers(textWave);
        b.Write(hb.data(), hb.size());
        b.Write(text);
        b.Write(Trailer(textWave));
        return job.Finish(&b, error);
    }

    std::vector<float> buffer_;
    std::vector<double> widened_;
};

}  // namespace

std::unique_ptr<Writer> MakeIbwWriter() { return std::make_unique<IbwWriter>(); }

}  // namespace sorvan
