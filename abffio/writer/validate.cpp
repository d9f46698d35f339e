// The check of a description before anything is planned or written: what the
// formats can hold (channels, texts, counts, DACs, epochs, tags) and what the
// writer can make of it (sample values, the raw sample file).
#include <filesystem>
#include <limits>
#include <system_error>

#include "internal.h"

namespace abfw {

bool Validate(const RecordingSpec& rec, std::string* error)
{
    const size_t nch = rec.channels.size();
    if (nch < 1 || nch > size_t(kMaxChannels)) return Fail(error, "a recording has 1 to 16 channels");
    bool used[kMaxChannels] = {};
    for (const Channel& c : rec.channels) {
        if (c.physical < 0 || c.physical >= kMaxChannels)
            return Fail(error, "physical channel " + std::to_string(c.physical) + " is not 0 to 15");
        if (used[c.physical])
            return Fail(error, "physical channel " + std::to_string(c.physical) + " is sampled twice");
        used[c.physical] = true;
        if (c.name.size() > kChannelNameWidth)
            return Fail(error, "channel name \"" + c.name + "\" is longer than 10 characters");
        if (c.units.size() > kUnitsWidth) return Fail(error, "units \"" + c.units + "\" are longer than 8 characters");
        if (!(c.scaleFactor > 0) && rec.dataFormat == DataFormat::Int16 && c.scaleFactor != 0)
            return Fail(error, "channel \"" + c.name + "\": scale factor must be positive");
    }
    const int mode = int(rec.mode);
    if (mode < 1 || mode > 5) return Fail(error, "operation mode must be 1 to 5");
    if (!(rec.sequenceIntervalUs > 0)) return Fail(error, "the sampling interval must be positive");
    if (rec.synchTimeUnit < 0) return Fail(error, "the synch time unit must not be negative");
    if (rec.creator.size() > kCreatorWidth) return Fail(error, "creator text is longer than 16 characters");
    if (rec.protocolPath.size() > kProtocolPathWidth) return Fail(error, "protocol path is longer than 256 characters");
    if (rec.comment.size() > kCommentWidth) return Fail(error, "file comment is longer than 128 characters");
    if (rec.format == Format::Abf1 && !(rec.abf1Version >= 1.6f && rec.abf1Version < 2.0f))
        return Fail(error, "ABF1 files are written as version 1.6 to 1.99");
    if (rec.format == Format::Abf2 && rec.versionMinor > 99) return Fail(error, "ABF2 minor version above 99");
    if (!(rec.adcRange > 0) || rec.adcResolution <= 0) return Fail(error, "ADC range and resolution must be positive");
    if (rec.mode == Mode::GapFree) {
        if (rec.samplesPerChannel < 0) return Fail(error, "negative sample count");
        if (rec.unwrittenSamples < 0 || rec.unwrittenSamples > rec.samplesPerChannel)
            return Fail(error, "unwritten samples must be 0 to the sample count");
    } else {
        if (rec.unwrittenSamples != 0) return Fail(error, "only gap-free recordings leave samples unwritten");
        if (rec.episodes < 0) return Fail(error, "negative episode count");
        if (rec.episodeLengths.empty() && rec.samplesPerEpisode <= 0 && rec.episodes > 0)
            return Fail(error, "sweeps need a positive number of samples");
        for (int32_t len : rec.episodeLengths)
            if (len <= 0) return Fail(error, "every sweep needs a positive number of samples");
        if (rec.mode != Mode::VariableEvents && !rec.episodeLengths.empty()) {
            for (int32_t len : rec.episodeLengths)
                if (len != rec.episodeLengths[0])
                    return Fail(error, "only variable-length event mode has sweeps of different lengths");
        }
    }
    const std::vector<int64_t> lengths = SweepLengths(rec);
    int64_t total = 0;
    // ABF1 counts the samples in 32 bits, and so do the synch arrays of sweeps; an
    // ABF2 gap-free recording counts them in its data section's 64-bit entry count
    // (what a reader makes of more than 2^31 - 1 is the reader's business).
    const bool counted64 = rec.format == Format::Abf2 && rec.mode == Mode::GapFree;
    const int64_t most = counted64 ? int64_t(1) << 40 : std::numeric_limits<int32_t>::max();
    for (int64_t len : lengths) {
        total += len;
        if (total > most / int64_t(nch))
            return Fail(error, counted64 ? "more than 2^40 samples in all channels together"
                                         : "more than 2147483647 samples in all channels together");
    }
    const std::vector<int64_t> starts = SweepStarts(rec);
    if (rec.mode != Mode::GapFree) {
        if (starts.size() != lengths.size()) return Fail(error, "sweep starts and sweep lengths differ in number");
        for (int64_t s : starts)
            if (s < -1 || s > std::numeric_limits<int32_t>::max())
                return Fail(error, "a sweep start does not fit the synch array");
    }
    if (rec.dacs.size() > size_t(rec.format == Format::Abf1 ? 4 : kMaxDacs))
        return Fail(error, rec.format == Format::Abf1 ? "ABF1 files hold 4 DACs" : "at most 8 DACs");
    for (size_t d = 0; d < rec.dacs.size(); ++d) {
        const Dac& dac = rec.dacs[d];
        if (dac.name.size() > kChannelNameWidth)
            return Fail(error, "DAC name \"" + dac.name + "\" is longer than 10 characters");
        if (dac.units.size() > kUnitsWidth)
            return Fail(error, "DAC units \"" + dac.units + "\" are longer than 8 characters");
        for (const Epoch& e : dac.epochs) {
            if (e.type < 0 || e.type > 7) return Fail(error, "epoch type must be 0 to 7");
            if (rec.format == Format::Abf1 && d >= 2 && e.type != kEpochDisabled)
                return Fail(error, "ABF1 files hold epoch tables for DAC 0 and 1 only");
        }
    }
    if (rec.activeDac < 0 || rec.activeDac >= kMaxDacs) return Fail(error, "active DAC must be 0 to 7");
    for (const Tag& t : rec.tags)
        if (t.comment.size() > kTagCommentWidth)
            return Fail(error, "tag comment \"" + t.comment + "\" is longer than 56 characters");
    if (rec.source == SignalSource::Values && rec.values.size() < uint64_t(total) * nch)
        return Fail(error, "fewer sample values than the recording needs");
    if (rec.source == SignalSource::RawFile) {
        std::error_code ec;
        const uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(rec.rawPath), ec);
        if (ec) return Fail(error, "cannot read raw sample file \"" + rec.rawPath + "\"");
        if (size < uintmax_t(total) * nch * 4)
            return Fail(error, "raw sample file \"" + rec.rawPath + "\" holds fewer samples than the recording needs");
    }
    return true;
}

}  // namespace abfw
