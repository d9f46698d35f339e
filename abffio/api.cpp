// Exported entry points: the open-file table, argument checks, and the test controls.
//
// Callers may use distinct files from distinct threads at once, and one file from
// one thread at a time. What the files share is the table of open files and the
// test controls, each behind a lock of its own; an open file's own state (its
// stream, read window and episodes) is touched only by the calls on its handle.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "internal.h"
#include "waveform.h"

using abffio::OpenFile;

namespace {

// Files open at once; one more open fails with ABF_TOOMANYFILESOPEN.
constexpr int kMaxFiles = 64;
std::unique_ptr<OpenFile> g_files[kMaxFiles];
std::mutex g_filesLock;  // the table's slots (not the files in them)
std::atomic<bool> g_libraryRecord{false};

// Pending injected faults, one per ordinal.
struct Fault {
    int32_t ordinal;
    int32_t error;
    int32_t remaining;
};
constexpr int kMaxFaults = 16;
Fault g_faults[kMaxFaults];
int g_faultCount = 0;
std::mutex g_faultsLock;
// g_faultCount as the calls see it without the lock: a call made while no fault is
// pending (every call outside the tests) costs one load.
std::atomic<int> g_faultsPending{0};

// True when this call of `ordinal` is to fail; *error receives the injected number.
bool Injected(int32_t ordinal, int32_t* error)
{
    if (g_faultsPending.load(std::memory_order_acquire) == 0) return false;
    std::lock_guard<std::mutex> lock(g_faultsLock);
    for (int i = 0; i < g_faultCount; ++i) {
        Fault& f = g_faults[i];
        if (f.ordinal != ordinal) continue;
        if (f.remaining > 0) {
            --f.remaining;
            return false;
        }
        if (error) *error = f.error;
        g_faults[i] = g_faults[--g_faultCount];
        g_faultsPending.store(g_faultCount, std::memory_order_release);
        return true;
    }
    return false;
}

ABFBOOL Fail(int32_t* error, int32_t code)
{
    if (error) *error = code;
    return 0;
}

ABFBOOL Ok(int32_t* error)
{
    if (error) *error = 0;
    return 1;
}

OpenFile* Lookup(int32_t handle)
{
    if (handle < 0 || handle >= kMaxFiles) return nullptr;
    std::lock_guard<std::mutex> lock(g_filesLock);
    return g_files[handle].get();
}

// The open file of a call of `ordinal` about one episode, or null with *error set: an
// injected fault first, then a bad handle, then an episode outside 1..episodes.
OpenFile* EpisodeFile(int32_t ordinal, int32_t handle, uint32_t episode, int32_t* error)
{
    if (Injected(ordinal, error)) return nullptr;
    OpenFile* f = Lookup(handle);
    if (!f) {
        Fail(error, ABF_EBADFILEINDEX);
        return nullptr;
    }
    if (episode < 1 || episode > f->episodeCount) {
        Fail(error, ABF_EEPISODERANGE);
        return nullptr;
    }
    return f;
}

// (g_filesLock held)
int FreeSlot()
{
    for (int i = 0; i < kMaxFiles; ++i)
        if (!g_files[i]) return i;
    return -1;
}

ABFBOOL FinishOpen(std::unique_ptr<OpenFile> file, int32_t* handle, ABFFileHeader* header, uint32_t* maxSamples,
                   uint32_t* maxEpisodes, int32_t* error)
{
    {
        std::lock_guard<std::mutex> lock(g_filesLock);
        if (FreeSlot() < 0) return Fail(error, ABF_TOOMANYFILESOPEN);
    }
    const uint32_t limit = maxSamples ? *maxSamples : 0;
    int err = abffio::DecodeFile(*file, limit);
    // A file the system failed to read is not a malformed file: its synch array could
    // not be read, or the file could not be accessed.
    if (err && file->src->IoError()) err = err == ABF_EBADSYNCH ? ABF_EREADSYNCH : ABF_EOPENFILE;
    // A file whose header was read but whose synch array is unusable still shows its header.
    if (header && (err == 0 || err == ABF_EBADSYNCH)) {
        if (g_libraryRecord.load(std::memory_order_relaxed))
            abffio::CopyToCallerLibraryRecord(file->rec, header);
        else
            abffio::CopyToCallerRecord(file->rec, header);
    }
    if (err) return Fail(error, err);
    // The slot seen free before the decoding may have been taken by another
    // thread's open meanwhile: the one taken is the one free now.
    const uint32_t samples = file->maxSamples;
    const uint32_t episodes = static_cast<uint32_t>(file->episodeCount);
    int slot;
    {
        std::lock_guard<std::mutex> lock(g_filesLock);
        slot = FreeSlot();
        if (slot < 0) return Fail(error, ABF_TOOMANYFILESOPEN);
        g_files[slot] = std::move(file);
    }
    if (maxSamples) *maxSamples = samples;
    if (maxEpisodes) *maxEpisodes = episodes;
    if (handle) *handle = slot;
    return Ok(error);
}

// Stored DAC-file sweeps are read straight from the open file.
bool ReadInt16(void* context, uint64_t byteOffset, uint32_t count, int16_t* out)
{
    OpenFile* f = static_cast<OpenFile*>(context);
    return f->src->Read(byteOffset, out, static_cast<uint64_t>(count) * 2);
}

// The interval between two multiplexed samples in microseconds. The vendor library keeps
// the sequence interval at 0.1 us resolution (the ABF file format, episode start times).
double SequenceInterval(const ABFLibraryHeader& h)
{
    return std::round(static_cast<double>(h.fADCSequenceInterval) * 10.0) / (10.0 * h.nADCNumChannels);
}

}  // namespace

namespace abffio {

ABFBOOL OpenFromMemory(const uint8_t* data, size_t size, int32_t* handle, ABFFileHeader* header, uint32_t* maxSamples,
                       uint32_t* maxEpisodes, int32_t* error)
{
    std::unique_ptr<OpenFile> file(new (std::nothrow) OpenFile);
    if (!file) return Fail(error, ABF_OUTOFMEMORY);
    file->src = Source::FromMemory(data, size);
    file->name = "<memory>";
    return FinishOpen(std::move(file), handle, header, maxSamples, maxEpisodes, error);
}

}  // namespace abffio

ABFBOOL ABF_API ABF_ReadOpen(const char* fileName, int32_t* handle, uint32_t, ABFFileHeader* header,
                             uint32_t* maxSamples, uint32_t* maxEpisodes, int32_t* error)
{
    if (Injected(110, error)) return 0;
    if (!fileName) return Fail(error, ABF_EOPENFILE);
    std::unique_ptr<abffio::Source> src = abffio::Source::Open(fileName);
    if (!src) return Fail(error, ABF_EOPENFILE);
    std::unique_ptr<OpenFile> file(new (std::nothrow) OpenFile);
    if (!file) return Fail(error, ABF_OUTOFMEMORY);
    file->src = std::move(src);
    file->name = fileName;
    return FinishOpen(std::move(file), handle, header, maxSamples, maxEpisodes, error);
}

ABFBOOL ABF_API ABF_IsABFFile(const char* fileName, int32_t* dataFormat, int32_t* error)
{
    if (Injected(140, error)) return 0;
    if (!fileName) return Fail(error, ABF_EOPENFILE);
    auto src = abffio::Source::Open(fileName);
    if (!src) return Fail(error, ABF_EOPENFILE);
    if (dataFormat) *dataFormat = 0;
    const int err = abffio::ProbeFile(*src, dataFormat);
    if (err) return Fail(error, src->IoError() ? ABF_EOPENFILE : err);
    return Ok(error);
}

ABFBOOL ABF_API ABF_HasData(int32_t handle, const ABFFileHeader*)
{
    if (Injected(150, nullptr)) return 0;
    OpenFile* f = Lookup(handle);
    if (!f) return 0;
    return f->rec.lActualAcqLength > 0 && f->episodeCount > 0;
}

ABFBOOL ABF_API ABF_Close(int32_t handle, int32_t* error)
{
    if (Injected(160, error)) return 0;
    std::unique_ptr<OpenFile> closing;
    {
        std::lock_guard<std::mutex> lock(g_filesLock);
        if (handle >= 0 && handle < kMaxFiles) closing = std::move(g_files[handle]);
    }
    if (!closing) return Fail(error, ABF_EBADFILEINDEX);
    return Ok(error);
}

ABFBOOL ABF_API ABF_ReadChannel(int32_t handle, const ABFFileHeader*, int32_t channel, uint32_t episode, float* buffer,
                                uint32_t* numSamples, int32_t* error)
{
    OpenFile* f = EpisodeFile(210, handle, episode, error);
    if (!f) return 0;
    if (abffio::PositionOfChannel(f->rec, channel) < 0) return Fail(error, ABF_EINVALIDCHANNEL);
    if (!buffer) return Fail(error, ABF_EREADDATA);
    uint32_t count = 0;
    const int err = abffio::ReadChannelSamples(*f, channel, episode, buffer, &count);
    if (err) return Fail(error, err);
    if (numSamples) *numSamples = count;
    return Ok(error);
}

ABFBOOL ABF_API ABF_GetWaveform(int32_t handle, const ABFFileHeader*, int32_t channel, uint32_t episode, float* buffer,
                                int32_t* error)
{
    OpenFile* f = EpisodeFile(250, handle, episode, error);
    if (!f) return 0;
    if (!buffer) return Fail(error, ABF_ENOWAVEFORM);
    AbfWaveformFileAccess access{ReadInt16, f};
    const int err = AbfComputeWaveform(f->rec, channel, episode, buffer, f->maxSamples, &access);
    if (err) return Fail(error, err);
    return Ok(error);
}

ABFBOOL ABF_API ABF_ReadTags(int32_t handle, const ABFFileHeader*, uint32_t firstTag, ABFTag* tags, uint32_t numTags,
                             int32_t* error)
{
    if (Injected(270, error)) return 0;
    OpenFile* f = Lookup(handle);
    if (!f) return Fail(error, ABF_EBADFILEINDEX);
    const ABFLibraryHeader& h = f->rec;
    if (h.lNumTagEntries <= 0 || h.lTagSectionPtr <= 0) return Fail(error, ABF_ENOTAGS);
    const uint64_t total = static_cast<uint32_t>(h.lNumTagEntries);
    if (firstTag >= total || numTags > total - firstTag) return Fail(error, ABF_EREADTAG);
    if (numTags == 0) return Ok(error);
    if (!tags) return Fail(error, ABF_EREADTAG);
    const uint64_t off = static_cast<uint64_t>(static_cast<uint32_t>(h.lTagSectionPtr)) * abfformat::kBlockBytes +
                         static_cast<uint64_t>(firstTag) * sizeof(ABFTag);
    if (!f->src->Read(off, tags, static_cast<uint64_t>(numTags) * sizeof(ABFTag))) return Fail(error, ABF_EREADTAG);
    // ABF1 files before version 1.3 have no tag texts or kinds: blank comments, time tags.
    if (f->abfMajor == 1 && h.fFileVersionNumber < 1.3f) {
        for (uint32_t i = 0; i < numTags; ++i) {
            memset(tags[i].sComment, ' ', sizeof tags[i].sComment);
            tags[i].nTagType = kAbfTimeTag;
        }
    }
    return Ok(error);
}

ABFBOOL ABF_API ABF_GetNumSamples(int32_t handle, const ABFFileHeader*, uint32_t episode, uint32_t* numSamples,
                                  int32_t* error)
{
    OpenFile* f = EpisodeFile(340, handle, episode, error);
    if (!f) return 0;
    if (numSamples) *numSamples = abffio::EpisodeAt(*f, episode - 1).muxLength / f->nch;
    return Ok(error);
}

ABFBOOL ABF_API ABF_GetStartTime(int32_t handle, const ABFFileHeader*, int32_t channel, uint32_t episode,
                                 double* startTime, int32_t* error)
{
    OpenFile* f = EpisodeFile(350, handle, episode, error);
    if (!f) return 0;
    const int pos = abffio::PositionOfChannel(f->rec, channel);
    if (pos < 0) return Fail(error, ABF_EINVALIDCHANNEL);
    const ABFLibraryHeader& h = f->rec;
    const double si = SequenceInterval(h);
    const double unit = h.fSynchTimeUnit > 0 ? static_cast<double>(h.fSynchTimeUnit) : si;
    const abffio::Episode ep = abffio::EpisodeAt(*f, episode - 1);
    double count;
    if (ep.startCount == abffio::kAveragedSweep) {
        if (startTime) *startTime = 0.0;
        return Ok(error);
    }
    if (ep.startCount == abffio::kStartFromInterval) {
        // No synch array: episodes follow each other at the start-to-start interval,
        // or back to back when that is shorter than an episode.
        const double episodeUs = static_cast<double>(h.lNumSamplesPerEpisode) * si;
        const double s2s = std::max(episodeUs, static_cast<double>(h.fEpisodeStartToStart) * 1e6);
        count = std::round((episode - 1) * s2s / unit);
    } else {
        count = static_cast<double>(ep.startCount);
    }
    // Channels scanned one after the other start one sample interval apart; with
    // simultaneous scanning they all start together.
    const double skew = h.nSimultaneousScan ? 0.0 : pos * si / 1000.0;
    if (startTime) *startTime = count * unit / 1000.0 + skew;
    return Ok(error);
}

ABFBOOL ABF_API ABF_GetEpisodeDuration(int32_t handle, const ABFFileHeader*, uint32_t episode, double* duration,
                                       int32_t* error)
{
    OpenFile* f = EpisodeFile(360, handle, episode, error);
    if (!f) return 0;
    const ABFLibraryHeader& h = f->rec;
    // Episodic files: the protocol's sweep; other modes: this episode's samples.
    const double samples = h.nOperationMode == kAbfEpisodic
                               ? static_cast<double>(h.lNumSamplesPerEpisode)
                               : static_cast<double>(abffio::EpisodeAt(*f, episode - 1).muxLength);
    // Milliseconds, in the vendor library's order: the samples of all channels times the
    // sequence interval (at 0.1 us), then divided by the channel count and by 1000. Every
    // duration the vendor library gave for the recorded files (1023 episodes) and the 480
    // ms of three channels of 9600 samples at 20 kHz come out exactly; dividing the
    // interval by the channel count first gives 480.00000000000006 there, dividing by 1000
    // first misses three of the recorded gap-free durations (786.4 ms, for one).
    const double tenthsOfUs = std::round(static_cast<double>(h.fADCSequenceInterval) * 10.0);
    if (duration) *duration = samples * tenthsOfUs / (10.0 * h.nADCNumChannels) / 1000.0;
    return Ok(error);
}

ABFBOOL ABF_API ABF_BuildErrorText(int32_t errorNumber, const char* fileName, char* text, uint32_t maxLength)
{
    if (Injected(470, nullptr)) return 0;
    if (!text || maxLength == 0) return 0;
    const std::string s = abffio::ErrorText(errorNumber, fileName);
    if (s.empty()) {
        text[0] = '\0';
        return 0;
    }
    const size_t n = std::min<size_t>(std::min<size_t>(s.size(), static_cast<size_t>(maxLength) - 1), 1023);
    memcpy(text, s.data(), n);
    text[n] = '\0';
    return 1;
}

void ABF_API ABFTest_InjectFault(int32_t ordinal, int32_t errorNumber, int32_t afterCalls)
{
    std::lock_guard<std::mutex> lock(g_faultsLock);
    const Fault fault = {ordinal, errorNumber, afterCalls < 0 ? 0 : afterCalls};
    int i = 0;
    while (ordinal != 0 && i < g_faultCount && g_faults[i].ordinal != ordinal) ++i;
    if (ordinal == 0)
        g_faultCount = 0;
    else if (i < g_faultCount)
        g_faults[i] = fault;
    else if (g_faultCount < kMaxFaults)
        g_faults[g_faultCount++] = fault;
    g_faultsPending.store(g_faultCount, std::memory_order_release);
}

void ABF_API ABFTest_WriteLibraryRecord(int32_t on) { g_libraryRecord.store(on != 0, std::memory_order_relaxed); }
