// The wave note.
#include "wave_note.h"

#include "header_values.h"
#include "text.h"

// The note is an interface, not a display: host procedures take it apart by key
// and compare the values they find, so its text stays as procedures written for
// earlier versions of the plug-in know it, however odd a format looks
// (tests/core/wave_note_test.cpp pins it byte for byte). In particular:
// - fFileVersionNumber has one decimal (%.1f): 2.06 reads 2.1 and 1.83 reads 1.8.
//   It tells the formats apart; the exact version is the header catalogue's
//   (kav_AbfMetaData).
// - sFileStartTime is "HH:MM SS": hours and minutes with a colon, then a space and
//   the seconds, from uFileStartTimeMS (the milliseconds dropped); sFileStartDate
//   is "YYYY-MM-DD" from uFileStartDate. Both raw values follow them.
// - fADCSequenceInterval is the X step in seconds, as the wave's X scaling, not the
//   header's microseconds.
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
