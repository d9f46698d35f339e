// Header-derived answers of the file queries.
#include "query_rules.h"

#include <cstdio>

int AbfSamplingSeqEntries(const ABFFileHeader& header)
{
    const int count = header.nADCNumChannels;
    const int capacity = static_cast<int>(sizeof header.nADCSamplingSeq / sizeof header.nADCSamplingSeq[0]);
    if (count < 0) return 0;
    return count > capacity ? capacity : count;
}

std::size_t AbfSamplingSeqText(const ABFFileHeader& header, char* text)
{
    const int entries = AbfSamplingSeqEntries(header);
    std::size_t length = 0;
    text[0] = '\0';
    for (int i = 0; i < entries; ++i) {
        const int entry = header.nADCSamplingSeq[i];
        const char* format = i + 1 < entries ? "%d;" : "%d";
        int n = std::snprintf(text + length, kAbfSamplingSeqTextSize - length, format, entry);
        if (n > 0) length += static_cast<std::size_t>(n);
    }
    return length;
}

bool AbfSamplesPerChannel(const ABFFileHeader& header, double* samples)
{
    const int32_t channels = header.nADCNumChannels;
    if (channels == 0) return false;
    // In 64 bits: the most negative length over -1 channels has no 32-bit quotient.
    const int64_t quotient = static_cast<int64_t>(header.lActualAcqLength) / channels;
    *samples = static_cast<double>(quotient);
    return true;
}
