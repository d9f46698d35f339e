// One ABF recording as a Neurodata Without Borders file (NWB 2.7.0, the
// intracellular-electrophysiology layout), written with the HDF5 C library
// through the reader: the samples, stimulus waveforms, units, timing and tags
// the plug-in reads, nothing the recording does not say.
//
// What goes where:
//   /acquisition        per channel and episode (gap-free: per channel) the
//                       samples as the plug-in's float32 values: CurrentClampSeries
//                       for volts (V, mV, uV), VoltageClampSeries for amperes
//                       (A .. fA), PatchClampSeries for any other units; the tags
//                       as the AnnotationSeries "tags"
//   /stimulus/presentation  the stimulus waveform of each channel and episode where
//                       the library computes one (CurrentClampStimulusSeries,
//                       VoltageClampStimulusSeries or PatchClampSeries by its units)
//   /general            one device and one electrode per channel, the protocol,
//                       notes (the file comment and where the UTC offset came
//                       from), and the icephys tables: a row per channel and
//                       episode pairing response and stimulus, the channels of an
//                       episode as one simultaneous recording, the episodes as
//                       one sequential recording
// Series data are the plug-in's float32 values bit for bit; `conversion` turns
// them into the class's SI unit (1e-3 for mV, 1e-12 for pA), `offset` is 0.
//
// Used by sorvan (export --to nwb) and the Python module (Recording.to_nwb).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reader/recording.h"

namespace nwb {

struct Options {
    // Logical channels to write (empty: all) and episodes (empty: all; none may
    // be chosen for a gap-free recording), each once in the order given.
    std::vector<int> channels;
    std::vector<uint32_t> episodes;
    // The recording's start is local time without a zone: its offset from UTC in
    // minutes when the caller knows it, otherwise that of the machine's time zone
    // on the recording's date.
    bool utcOffsetGiven = false;
    int utcOffsetMinutes = 0;
    // The program writing the file, for the file's notes ("sorvan 1.2.3").
    std::string program;
    // Called as the samples are written: done and total steps. Returning false
    // stops the export (it fails with "interrupted").
    std::function<bool(uint64_t done, uint64_t total)> progress;
};

// Writes `rec` (open) to the file `path`, replacing it. False with a one-line
// reason, and no file at `path`, when it cannot.
bool Write(reader::Recording& rec, const std::string& path, const Options& options, std::string* error);

// "+HH:MM", "-HH:MM" or "Z" as minutes east of UTC (within 18 hours). False
// with a reason for anything else.
bool ParseUtcOffset(const std::string& text, int* minutes, std::string* error);

// The temporary name a file is written under before it is renamed to `path`:
// ".NAME.PID.tmp" in the same folder (hidden, and matched by no glob for NAME's
// extension).
std::string TemporaryPath(const std::string& path);

}  // namespace nwb
