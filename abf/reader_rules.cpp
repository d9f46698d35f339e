// Header-derived parts of the channel, episode and tag readers.
#include "reader_rules.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "query_rules.h"

namespace {

constexpr int32_t kAdcTableEntries = 16;
constexpr int32_t kDacTableEntries = 8;
// The microsecond as the readers scale it (the double nearest to 1e-6).
constexpr double kSecondsPerMicrosecond = 0.000001;

bool InTable(int32_t index, int32_t entries) { return index >= 0 && index < entries; }

// Appends formatted text at *length, never past size - 1 bytes; *length counts
// the whole text as if nothing had been cut.
void Append(char* out, std::size_t size, std::size_t* length, const char* format, ...)
{
    char spare[1];
    char* at = *length < size ? out + *length : spare;
    const std::size_t room = *length < size ? size - *length : 0;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(room ? at : nullptr, room, format, args);
    va_end(args);
    if (n > 0) *length += static_cast<std::size_t>(n);
}

}  // namespace

void AbfTrimHeaderText(const char* field, std::size_t width, char* out)
{
    std::memcpy(out, field, width);
    out[width] = '\0';
    for (std::size_t i = width + 1; i-- > 0;) {
        if (out[i] == '\0') continue;
        if (out[i] != ' ') break;
        out[i] = '\0';
    }
}

void AbfAdcUnits(const ABFFileHeader& header, int32_t physical, char out[kAbfUnitsWidth + 1])
{
    out[0] = '\0';
    if (InTable(physical, kAdcTableEntries)) AbfTrimHeaderText(header.sADCUnits[physical], kAbfUnitsWidth, out);
}

void AbfDacUnits(const ABFFileHeader& header, int32_t physical, char out[kAbfUnitsWidth + 1])
{
    out[0] = '\0';
    if (InTable(physical, kDacTableEntries)) AbfTrimHeaderText(header.sDACChannelUnits[physical], kAbfUnitsWidth, out);
}

void AbfAdcChannelName(const ABFFileHeader& header, int32_t physical, char out[kAbfChannelNameWidth + 1])
{
    out[0] = '\0';
    if (InTable(physical, kAdcTableEntries))
        AbfTrimHeaderText(header.sADCChannelName[physical], kAbfChannelNameWidth, out);
}

double AbfTelegraphFilter(const ABFFileHeader& header, int32_t physical)
{
    return InTable(physical, kAdcTableEntries) ? static_cast<double>(header.fTelegraphFilter[physical]) : 0.0;
}

double AbfTelegraphMembraneCap(const ABFFileHeader& header, int32_t physical)
{
    return InTable(physical, kAdcTableEntries) ? static_cast<double>(header.fTelegraphMembraneCap[physical]) : 0.0;
}

int32_t AbfPhysicalChannel(const ABFFileHeader& header, int32_t logical)
{
    return InTable(logical, kAdcTableEntries) ? header.nADCSamplingSeq[logical] : -1;
}

double AbfXStep(const ABFFileHeader& header)
{
    return static_cast<double>(header.fADCSequenceInterval) * kSecondsPerMicrosecond;
}

bool AbfChannelPoints(const ABFFileHeader& header, int64_t* points)
{
    const int32_t channels = header.nADCNumChannels;
    if (channels <= 0) return false;
    *points = static_cast<int64_t>(header.lActualAcqLength) / channels;
    return true;
}

std::size_t AbfFormatWaveNote(const AbfNoteInput& in, char* out, std::size_t size)
{
    const ABFFileHeader& h = *in.header;
    const uint32_t date = h.uFileStartDate;
    const uint32_t seconds = h.uFileStartTimeMS / 1000u;
    char protocol[kAbfProtocolPathWidth + 1];
    char creator[kAbfCreatorWidth + 1];
    char name[kAbfChannelNameWidth + 1];
    AbfTrimHeaderText(h.sProtocolPath, kAbfProtocolPathWidth, protocol);
    AbfTrimHeaderText(h.sCreatorInfo, kAbfCreatorWidth, creator);
    AbfAdcChannelName(h, in.physical, name);

    // The sampling list: entries the channel count covers, "%d," but the last.
    char list[16 * 7 + 1];
    std::size_t listLength = 0;
    const int entries = AbfSamplingSeqEntries(h);
    list[0] = '\0';
    for (int i = 0; i < entries; ++i)
        Append(list, sizeof list, &listLength, i + 1 < entries ? "%d," : "%d", static_cast<int>(h.nADCSamplingSeq[i]));

    if (size) out[0] = '\0';
    std::size_t length = 0;
    Append(out, size, &length,
           "sFileName=%s;fFileVersionNumber=%.1f;nOperationMode=%d;lActualAcqLength=%d;lActualEpisodes=%d;"
           "sFileStartDate=%u-%02u-%02u;sFileStartTime=%02u:%02u %02d;uFileStartDate=%u;uFileStartTimeMS=%u;"
           "sProtocolPath=%s;sCreatorInfo=%s;nExperimentType=%d;fTelegraphFilter=%g;fTelegraphMembraneCap=%f;",
           in.fileName, static_cast<double>(h.fFileVersionNumber), static_cast<int>(h.nOperationMode),
           static_cast<int>(h.lActualAcqLength), static_cast<int>(h.lActualEpisodes), date / 10000u,
           (date % 10000u) / 100u, date % 100u, seconds / 3600u, (seconds % 3600u) / 60u,
           static_cast<int>(seconds % 60u), date, static_cast<unsigned>(h.uFileStartTimeMS), protocol, creator,
           static_cast<int>(h.nExperimentType), AbfTelegraphFilter(h, in.physical),
           AbfTelegraphMembraneCap(h, in.physical));
    if (in.hasStartTime) Append(out, size, &length, "dStartTime=%g;", in.startTime);
    Append(out, size, &length,
           "nADCNumChannels=%d;nADCSamplingSeq=%s;fADCSequenceInterval=%f;iPhysicalChannel=%d;"
           "iLogicalChannel=%d;sADCChannelName=%s;",
           static_cast<int>(h.nADCNumChannels), list, AbfXStep(h), static_cast<int>(in.physical),
           static_cast<int>(in.logical), name);
    return length;
}

double AbfTagTimeScale(const ABFFileHeader& header)
{
    const double unit = static_cast<double>(header.fSynchTimeUnit);
    if (unit > 0.0) return unit * kSecondsPerMicrosecond;
    double scale = static_cast<double>(header.fADCSequenceInterval) * kSecondsPerMicrosecond;
    if (header.nADCNumChannels > 1) scale /= header.nADCNumChannels;
    return scale;
}

bool AbfTagBufferBytes(int32_t count, std::size_t* bytes)
{
    constexpr uint64_t kMaxBytes = 0x7FFFFFFFu;
    if (count <= 0) return false;
    const uint64_t total = static_cast<uint64_t>(count) * kAbfTagRecordBytes;
    if (total > kMaxBytes) return false;
    *bytes = static_cast<std::size_t>(total);
    return true;
}
