// Shared host-side pieces of the channel and episode readers.
#include "reader_support.h"

#include "frame/host_services.h"

int CheckFloatWave(waveHndl wave)
{
    const int32_t type = WaveType(wave);
    if (type != kWaveFloat32 && type != kWaveFloat64) return kErrNeedFloatWave;
    int32_t dimensions = 0;
    const int code = WaveDimensions(wave, &dimensions);
    if (code != 0) return code;
    if (dimensions != 1) return kErrNeed1DWave;
    return kStatusOk;
}

int CheckWaveAndName(waveHndl wave, int (*check)(waveHndl), Handle name)
{
    const int status = wave ? check(wave) : kErrNoWave;
    if (status != kStatusOk) return status;
    return TerminateStringHandle(name);
}

void SetWaveAxes(waveHndl wave, double xStep, const char* dataUnits)
{
    SetWaveScaling(wave, xStep, 0.0);
    SetWaveUnits(wave, "s", dataUnits);
    WaveModified(wave);
}

// The note starts in a handle of the base size; a longer note (a file name of
// thousands of characters) gets a handle of its own length rather than being cut.
bool AttachWaveNote(waveHndl wave, const AbfNoteInput& note)
{
    Handle h = NewHandle(static_cast<intptr_t>(kAbfNoteHandleSize));
    if (!h) return false;
    std::size_t length = AbfFormatWaveNote(note, *h, kAbfNoteHandleSize);
    bool sized = true;
    if (length >= kAbfNoteHandleSize) {
        sized = ResizeHandle(h, length + 1);
        if (sized) length = AbfFormatWaveNote(note, *h, length + 1);
    }
    // Down to the text's length: the note carries no NUL.
    if (!sized || !ResizeHandle(h, length)) {
        DisposeHandle(h);
        return false;
    }
    SetWaveNote(wave, h);
    return true;
}
