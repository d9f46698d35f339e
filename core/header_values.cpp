// Header-derived values of the queries and readers.
#include "header_values.h"

#include "text.h"

namespace {

constexpr int32_t kAdcTableEntries = 16;
constexpr int32_t kDacTableEntries = 8;
// The microsecond as the readers scale it (the double nearest to 1e-6).
constexpr double kSecondsPerMicrosecond = 0.000001;

bool InTable(int32_t index, int32_t entries) { return index >= 0 && index < entries; }

}  // namespace

int AbfSamplingSeqEntries(const ABFFileHeader& header)
{
    const int count = header.nADCNumChannels;
    if (count < 0) return 0;
    return count > kAbfSamplingSeqLength ? kAbfSamplingSeqLength : count;
}

std::size_t AbfSamplingSeqText(const ABFFileHeader& header, char separator, char* text)
{
    const int entries = AbfSamplingSeqEntries(header);
    TextBuffer out;
    TextBufferInit(&out, text, kAbfSamplingSeqTextSize);
    for (int i = 0; i < entries; ++i) {
        TextAppend(&out, "%d", static_cast<int>(header.nADCSamplingSeq[i]));
        if (i + 1 < entries) TextAppend(&out, "%c", separator);
    }
    return out.length;
}

int32_t AbfPhysicalChannel(const ABFFileHeader& header, int32_t logical)
{
    return InTable(logical, kAbfSamplingSeqLength) ? header.nADCSamplingSeq[logical] : -1;
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

double AbfXStep(const ABFFileHeader& header)
{
    return static_cast<double>(header.fADCSequenceInterval) * kSecondsPerMicrosecond;
}

bool AbfSamplesPerChannel(const ABFFileHeader& header, int64_t* samples)
{
    const int32_t channels = header.nADCNumChannels;
    if (channels == 0) return false;
    *samples = static_cast<int64_t>(header.lActualAcqLength) / channels;
    return true;
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
