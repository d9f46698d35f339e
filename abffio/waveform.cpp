// The stimulus waveform of one episode, computed from the library's header record.
//
// Timeline of an episode of S samples per channel: an optional first holding
// period (1/64 of the episode) at the episode's holding level, then the enabled
// epochs in table order, then the trailing level up to the end. Levels are user
// units of the DAC. Epoch shapes are built at the multiplexed rate (all channels)
// and the values of sampling position 0 are returned.
//
// Failures leave the buffer untouched: no waveform (not episodic, no such DAC, DAC
// disabled or without source, epochs longer than the episode), an invalid
// definition (train without period, unknown source), or a stored DAC-file sweep
// that cannot be read.
#include "waveform.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "abffio/format/abf_format.h"
#include "interface/abffio.h"

namespace {

constexpr int kDacCount = 8;
constexpr int kEpochsPerDac = 50;
constexpr int kListCount = 8;
constexpr int kListTextSize = 256;
constexpr double kPi = 3.14159265358979323846;

using namespace abfformat::values;

// What a user list varies (see DecodeListCode).
enum ListTarget {
    kListNone,
    kListPostTrainPeriod,
    kListPostTrainLevel,
    kListEpochLevel,
    kListEpochDuration,
    kListEpochPeriod,
    kListEpochWidth,
};

struct Epoch {
    int16_t type;
    float level;
    int64_t duration;  // wide enough for any increment over any episode count
    int64_t period;
    int64_t width;
};

// User-list parameter codes number the epochs of the library's own table (50 per
// DAC): 11 + 50 + i is the level of epoch i, 11 + 100 + i its duration, and so on.
// Files from the 10-epoch protocol editor hold codes of the older numbering, which
// this one reads as digital values: such lists leave the waveform alone.
ListTarget DecodeListCode(int code, int* epoch)
{
    *epoch = -1;
    if (code == 5) return kListPostTrainPeriod;
    if (code == 6) return kListPostTrainLevel;
    const int n = kEpochsPerDac;
    const int rel = code - 11;
    if (rel < n) return kListNone;  // presweep train, digital values and others
    const int group = rel / n;
    *epoch = rel % n;
    switch (group) {
    case 1: return kListEpochLevel;
    case 2: return kListEpochDuration;
    case 3: return kListEpochPeriod;
    case 4: return kListEpochWidth;
    default: *epoch = -1; return kListNone;
    }
}

// Item `episode` (from 1) of a comma-separated list; the last item stands for
// every later episode, or the list cycles when `repeat` is set. Empty items are
// skipped. False when the list holds no item.
bool ListItem(const char* list, uint32_t episode, bool repeat, char* item, std::size_t itemSize)
{
    char text[kListTextSize + 1];
    std::memcpy(text, list, kListTextSize);
    text[kListTextSize] = '\0';
    struct Span {
        std::size_t start, length;
    };
    std::vector<Span> items;
    std::size_t i = 0;
    const std::size_t n = std::strlen(text);
    while (i < n) {
        std::size_t j = i;
        while (j < n && text[j] != ',') ++j;
        std::size_t s = i, e = j;
        while (s < e && (text[s] == ' ' || text[s] == '\t')) ++s;
        while (e > s && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
        if (e > s) items.push_back({s, e - s});
        i = j + 1;
    }
    if (items.empty()) return false;
    std::size_t index = episode - 1;
    if (index >= items.size()) index = repeat ? index % items.size() : items.size() - 1;
    std::size_t len = items[index].length < itemSize - 1 ? items[index].length : itemSize - 1;
    std::memcpy(item, text + items[index].start, len);
    item[len] = '\0';
    return true;
}

// The list that varies `target` (for `epoch`) of DAC `dac`, or -1.
int FindList(const ABFLibraryHeader& h, int dac, ListTarget target, int epoch)
{
    for (int u = 0; u < kListCount; ++u) {
        if (!h.nULEnable[u]) continue;
        int listEpoch = -1;
        if (DecodeListCode(h.nULParamToVary[u], &listEpoch) != target || listEpoch != epoch) continue;
        const bool timing = target == kListEpochDuration || target == kListEpochPeriod || target == kListEpochWidth;
        // Levels vary on the list's own DAC; timing only for the active DAC.
        if (u != dac) continue;
        if (timing && u != h.nActiveDACChannel) continue;
        return u;
    }
    return -1;
}

bool ListFloat(const ABFLibraryHeader& h, int u, uint32_t episode, float* value)
{
    char item[kListTextSize + 1];
    if (!ListItem(h.sULParamValueList[u], episode, h.nULRepeat[u] != 0, item, sizeof item)) return false;
    *value = static_cast<float>(std::strtod(item, nullptr));
    return true;
}

bool ListInt(const ABFLibraryHeader& h, int u, uint32_t episode, int64_t* value)
{
    char item[kListTextSize + 1];
    if (!ListItem(h.sULParamValueList[u], episode, h.nULRepeat[u] != 0, item, sizeof item)) return false;
    *value = static_cast<int64_t>(std::strtoll(item, nullptr, 10));
    return true;
}

// Epoch `i` of DAC `dac` as played in `episode`: increments and user lists applied.
Epoch EpochOf(const ABFLibraryHeader& h, int dac, int i, uint32_t episode)
{
    Epoch ep;
    const float steps = static_cast<float>(episode - 1);
    ep.type = h.nEpochType[dac][i];
    ep.level = h.fEpochInitLevel[dac][i] + steps * h.fEpochLevelInc[dac][i];
    ep.duration = static_cast<int64_t>(h.lEpochInitDuration[dac][i]) +
                  static_cast<int64_t>(episode - 1) * h.lEpochDurationInc[dac][i];
    ep.period = h.lEpochPulsePeriod[dac][i];
    ep.width = h.lEpochPulseWidth[dac][i];
    int u = FindList(h, dac, kListEpochLevel, i);
    if (u >= 0) ListFloat(h, u, episode, &ep.level);
    u = FindList(h, dac, kListEpochDuration, i);
    if (u >= 0) ListInt(h, u, episode, &ep.duration);
    u = FindList(h, dac, kListEpochPeriod, i);
    if (u >= 0) ListInt(h, u, episode, &ep.period);
    u = FindList(h, dac, kListEpochWidth, i);
    if (u >= 0) ListInt(h, u, episode, &ep.width);
    return ep;
}

// The level the episode starts from (and holds outside its epochs).
float HoldingLevel(const ABFLibraryHeader& h, int dac, uint32_t episode)
{
    if (h.nConditEnable[dac]) {
        float period = h.fPostTrainPeriod[dac];
        float level = h.fPostTrainLevel[dac];
        int u = FindList(h, dac, kListPostTrainPeriod, -1);
        if (u >= 0) ListFloat(h, u, episode, &period);
        u = FindList(h, dac, kListPostTrainLevel, -1);
        if (u >= 0) ListFloat(h, u, episode, &level);
        return period > 0 ? level : h.fDACHoldingLevel[dac];
    }
    if (!h.nInterEpisodeLevel[dac] || episode <= 1) return h.fDACHoldingLevel[dac];
    for (int i = kEpochsPerDac - 1; i >= 0; --i)
        if (h.nEpochType[dac][i] != kEpochDisabled) return EpochOf(h, dac, i, episode - 1).level;
    return h.fDACHoldingLevel[dac];
}

bool IsTrain(int16_t type)
{
    return type == kEpochPulseTrain || type == kEpochTriangleTrain || type == kEpochCosineTrain ||
           type == kEpochBiphasicTrain;
}

// Fills `n` samples of one epoch from start level `a` to level `b`. Trains repeat
// every `period` samples; `nch` is the number of multiplexed channels.
void FillEpoch(const Epoch& ep, float a, float b, int32_t nch, float* out)
{
    const int64_t n = ep.duration;
    switch (ep.type) {
    case kEpochRamp: {
        // Sample m (from 1) of the multiplexed ramp; position 0 takes every nch-th.
        const double total = static_cast<double>(n * nch);
        const double delta = static_cast<double>(b) - static_cast<double>(a);
        for (int64_t k = 0; k < n; ++k) {
            const double m = static_cast<double>(k * nch + 1);
            out[k] = static_cast<float>(static_cast<double>(a) + delta * m / total);
        }
        break;
    }
    case kEpochPulseTrain:
        for (int64_t k = 0; k < n; ++k) out[k] = (k % ep.period) < ep.width ? b : a;
        break;
    case kEpochTriangleTrain: {
        // Rises from a to b over the width, falls back over the rest of the period.
        const int64_t p = ep.period, w = ep.width;
        const double da = a, db = b;
        for (int64_t k = 0; k < n; ++k) {
            const int64_t j = k % p;
            if (j < w)
                out[k] =
                    static_cast<float>(da + (db - da) * static_cast<double>(j * nch) / static_cast<double>(w * nch));
            else
                out[k] = static_cast<float>(db + (da - db) * static_cast<double>((j - w) * nch) /
                                                     static_cast<double>((p - w) * nch));
        }
        break;
    }
    case kEpochCosineTrain: {
        const double p = static_cast<double>(ep.period);
        for (int64_t k = 0; k < n; ++k) {
            const double c = (1.0 - std::cos(2.0 * kPi * static_cast<double>(k % ep.period) / p)) / 2.0;
            out[k] = static_cast<float>(a + (b - a) * c);
        }
        break;
    }
    case kEpochBiphasicTrain: {
        const int64_t half = ep.width / 2;
        const float mirror = 2 * a - b;
        for (int64_t k = 0; k < n; ++k) {
            const int64_t j = k % ep.period;
            out[k] = j < half ? b : (j < ep.width ? mirror : a);
        }
        break;
    }
    default:  // step, and the types without a shape of their own (6, 8 on)
        for (int64_t k = 0; k < n; ++k) out[k] = b;
        break;
    }
}

int32_t DacFileWaveform(const ABFLibraryHeader& h, int dac, uint32_t episode, uint32_t length, float* out,
                        const AbfWaveformFileAccess* file)
{
    if (h.lDACFilePtr[dac] <= 0 || h.lDACFileNumEpisodes[dac] <= 0) return ABF_ENOWAVEFORM;
    if (!file || !file->readInt16) return ABF_EREADDACEPISODE;
    const uint32_t stored = static_cast<uint32_t>(h.lDACFileNumEpisodes[dac]);
    const uint32_t sweep = episode < stored ? episode : stored;
    const uint64_t offset =
        static_cast<uint64_t>(h.lDACFilePtr[dac]) * 512u + static_cast<uint64_t>(sweep - 1) * length * 2u;
    if (h.lDACResolution <= 0) return ABF_EBADWAVEFORM;
    std::vector<int16_t> counts(length);
    if (!file->readInt16(file->context, offset, length, counts.data())) return ABF_EREADDACEPISODE;
    const float f = h.fDACRange * h.fDACScaleFactor[dac] / static_cast<float>(h.lDACResolution);
    const float gain = f * h.fDACCalibrationFactor[dac];
    const float shift = f * h.fDACCalibrationOffset[dac];
    // One rounding per value: the product and the sum are formed in double.
    for (uint32_t k = 0; k < length; ++k)
        out[k] = static_cast<float>(static_cast<double>(counts[k]) * gain + static_cast<double>(shift));
    return ABF_SUCCESS;
}

}  // namespace

uint32_t AbfWaveformLength(const ABFLibraryHeader& h)
{
    if (h.nADCNumChannels <= 0 || h.lNumSamplesPerEpisode <= 0) return 0;
    return static_cast<uint32_t>(h.lNumSamplesPerEpisode / h.nADCNumChannels);
}

int32_t AbfComputeWaveform(const ABFLibraryHeader& h, int32_t channel, uint32_t episode, float* out, uint32_t capacity,
                           const AbfWaveformFileAccess* file)
{
    if (h.nOperationMode != 5) return ABF_ENOWAVEFORM;
    if (channel < 0 || channel >= kDacCount) return ABF_ENOWAVEFORM;
    if (episode == 0 || h.lActualEpisodes <= 0 || episode > static_cast<uint32_t>(h.lActualEpisodes))
        return ABF_EEPISODERANGE;
    const int dac = channel;
    if (!h.nWaveformEnable[dac] || h.nWaveformSource[dac] == kSourceNone) return ABF_ENOWAVEFORM;
    const uint32_t length = AbfWaveformLength(h);
    if (length == 0) return ABF_ENOWAVEFORM;
    if (!out || capacity < length) return ABF_EEPISODESIZE;
    const int32_t nch = h.nADCNumChannels;

    if (h.nWaveformSource[dac] == kSourceDacFile) return DacFileWaveform(h, dac, episode, length, out, file);
    if (h.nWaveformSource[dac] != kSourceEpochs) return ABF_EBADWAVEFORM;

    const float hold = HoldingLevel(h, dac, episode);
    if (h.lEpisodesPerRun > 0 && episode > static_cast<uint32_t>(h.lEpisodesPerRun)) {
        for (uint32_t k = 0; k < length; ++k) out[k] = hold;
        return ABF_SUCCESS;
    }

    // First holding period: 1/64 of the multiplexed episode, whole sequences.
    uint32_t first = 0;
    if (h.nEnableFirstLastHolding) {
        uint32_t mux = static_cast<uint32_t>(h.lNumSamplesPerEpisode) / 64u;
        mux -= mux % static_cast<uint32_t>(nch);
        if (mux < static_cast<uint32_t>(nch)) mux = static_cast<uint32_t>(nch);
        first = mux / static_cast<uint32_t>(nch);
    }

    // Check the whole table before anything is written.
    Epoch epochs[kEpochsPerDac];
    uint64_t end = first;
    for (int i = 0; i < kEpochsPerDac; ++i) {
        epochs[i] = EpochOf(h, dac, i, episode);
        const Epoch& ep = epochs[i];
        if (ep.type == kEpochDisabled || ep.duration <= 0) continue;
        if (IsTrain(ep.type) && (ep.period <= 0 || ep.width < 0)) return ABF_EBADWAVEFORM;
        end += static_cast<uint64_t>(ep.duration);
        if (end > length) return ABF_ENOWAVEFORM;
    }

    // Alternating outputs: DAC 0 plays on odd episodes, DAC 1 on even ones.
    bool played = true;
    if (h.nAlternateDACOutputState && dac < 2) played = (episode % 2 == 1) == (dac == 0);

    for (uint32_t k = 0; k < first; ++k) out[k] = hold;
    uint32_t pos = first;
    float level = hold;
    for (int i = 0; i < kEpochsPerDac; ++i) {
        const Epoch& ep = epochs[i];
        if (ep.type == kEpochDisabled || ep.duration <= 0) continue;
        if (played) {
            FillEpoch(ep, level, ep.level, nch, out + pos);
        } else {
            for (int64_t k = 0; k < ep.duration; ++k) out[pos + k] = hold;
        }
        level = ep.level;
        pos += static_cast<uint32_t>(ep.duration);
    }
    const float trailing = h.nInterEpisodeLevel[dac] ? level : h.fDACHoldingLevel[dac];
    for (uint32_t k = pos; k < length; ++k) out[k] = trailing;
    return ABF_SUCCESS;
}
