// The wave note.
#include "wave_note.h"

#include "header_values.h"
#include "text.h"

std::size_t AbfFormatWaveNote(const AbfNoteInput& in, char* out, std::size_t size)
{
    const ABFFileHeader& h = *in.header;
    const uint32_t date = h.uFileStartDate;
    const uint32_t seconds = h.uFileStartTimeMS / 1000u;
    char protocol[kAbfProtocolPathWidth + 1];
    char creator[kAbfCreatorWidth + 1];
    char name[kAbfChannelNameWidth + 1];
    char sequence[kAbfSamplingSeqTextSize];
    AbfTrimHeaderText(h.sProtocolPath, kAbfProtocolPathWidth, protocol);
    AbfTrimHeaderText(h.sCreatorInfo, kAbfCreatorWidth, creator);
    AbfAdcChannelName(h, in.physical, name);
    AbfSamplingSeqText(h, ',', sequence);

    TextBuffer note;
    TextBufferInit(&note, out, size);
    TextAppend(&note,
               "sFileName=%s;fFileVersionNumber=%.1f;nOperationMode=%d;lActualAcqLength=%d;lActualEpisodes=%d;"
               "sFileStartDate=%u-%02u-%02u;sFileStartTime=%02u:%02u %02d;uFileStartDate=%u;uFileStartTimeMS=%u;"
               "sProtocolPath=%s;sCreatorInfo=%s;nExperimentType=%d;fTelegraphFilter=%g;fTelegraphMembraneCap=%f;",
               in.fileName, static_cast<double>(h.fFileVersionNumber), static_cast<int>(h.nOperationMode),
               static_cast<int>(h.lActualAcqLength), static_cast<int>(h.lActualEpisodes), date / 10000u,
               (date % 10000u) / 100u, date % 100u, seconds / 3600u, (seconds % 3600u) / 60u,
               static_cast<int>(seconds % 60u), date, static_cast<unsigned>(h.uFileStartTimeMS), protocol, creator,
               static_cast<int>(h.nExperimentType), AbfTelegraphFilter(h, in.physical),
               AbfTelegraphMembraneCap(h, in.physical));
    if (in.hasStartTime) TextAppend(&note, "dStartTime=%g;", in.startTime);
    TextAppend(&note,
               "nADCNumChannels=%d;nADCSamplingSeq=%s;fADCSequenceInterval=%f;iPhysicalChannel=%d;"
               "iLogicalChannel=%d;sADCChannelName=%s;",
               static_cast<int>(h.nADCNumChannels), sequence, AbfXStep(h), static_cast<int>(in.physical),
               static_cast<int>(in.logical), name);
    return note.length;
}
