// The file queries. All but kav_AbfIsAbfFile share one road: result 0, the
// file-free checks, the header prepared, the name NUL-terminated, the open, the
// query's own work, the close, the name released. Library failures are recorded
// in the last-error state and never become the status; by-reference outputs are
// written only when the query succeeded.
#include "queries.h"

#include <cmath>
#include <cstdint>

#include "abf_library.h"
#include "interface/host_abi.h"
#include "frame/host_services.h"
#include "last_error.h"
#include "query_rules.h"

namespace {

// ---- Parameter blocks: last parameter first, the result last.
#if KAV_WIN32
#pragma pack(push, 2)
#endif
struct NameParams {
    Handle fileName;
    double result;
};
struct NameNumberRefParams {
    double* value;
    Handle fileName;
    double result;
};
struct SampleCountParams {
    double* count;
    double episode;
    Handle fileName;
    double result;
};
struct StartTimeParams {
    double* time;
    double episode;
    double channel;
    Handle fileName;
    double result;
};
struct NameStringRefParams {
    Handle* text;
    Handle fileName;
    double result;
};
#if KAV_WIN32
#pragma pack(pop)
static_assert(sizeof(NameParams) == 12, "block size");
static_assert(sizeof(NameNumberRefParams) == 16, "block size");
static_assert(offsetof(SampleCountParams, fileName) == 12 && offsetof(SampleCountParams, result) == 16, "block layout");
static_assert(offsetof(StartTimeParams, episode) == 4 && offsetof(StartTimeParams, channel) == 12 &&
                  offsetof(StartTimeParams, fileName) == 20 && offsetof(StartTimeParams, result) == 24,
              "block layout");
static_assert(sizeof(NameStringRefParams) == 16, "block size");
#endif

// The header block of the file being asked about (one query runs at a time).
AbfHeaderBlock queryHeader;

// What a query's own work sees of the opened file.
struct OpenedFile {
    Handle name;  // NUL-terminated; dereference anew at each use
    int32_t file;
    const ABFFileHeader* header;
    uint32_t episodes;  // the episode limit as the open returned it
};

// A query's own work: on success it writes its output and *result; it returns
// a status (kStatusOk, or kStatusOutOfMemory when its output could not be made).
typedef int (*QueryWork)(const OpenedFile& f, double* result, void* output);

// Opens the named file, does the work, closes the file and releases the name.
// Returns the status; library failures only go to the last-error state.
int OpenAskClose(Handle fileName, double* result, QueryWork work, void* output)
{
    if (TerminateStringHandle(fileName) != kStatusOk) {
        DisposeHandle(fileName);
        return kStatusOutOfMemory;
    }
    int status = kStatusOk;
    int32_t file = -1;
    uint32_t maxSamples = 0, maxEpisodes = 0;
    if (AbfOpenRecorded(fileName, &queryHeader, &file, &maxSamples, &maxEpisodes)) {
        const OpenedFile f = {fileName, file, &queryHeader.header, maxEpisodes};
        status = work(f, result, output);
        AbfCloseRecorded(fileName, file);
    }
    DisposeHandle(fileName);
    return status;
}

// ---- Own work of each query.

int HasDataWork(const OpenedFile& f, double* result, void*)
{
    *result = static_cast<double>(AbfHasData(f.file, f.header));
    return kStatusOk;
}

int OperationModeWork(const OpenedFile& f, double* result, void* output)
{
    *static_cast<double*>(output) = static_cast<double>(f.header->nOperationMode);
    *result = 1.0;
    return kStatusOk;
}

int ChannelCountWork(const OpenedFile& f, double* result, void* output)
{
    *static_cast<double*>(output) = static_cast<double>(f.header->nADCNumChannels);
    *result = 1.0;
    return kStatusOk;
}

int EpisodeCountWork(const OpenedFile& f, double* result, void* output)
{
    *static_cast<double*>(output) = static_cast<double>(f.episodes);
    *result = 1.0;
    return kStatusOk;
}

int TotalSampleCountWork(const OpenedFile& f, double* result, void* output)
{
    double samples = 0.0;
    // A header without channels has no per-channel count: no answer, result 0.
    if (!AbfSamplesPerChannel(*f.header, &samples)) return kStatusOk;
    *static_cast<double*>(output) = samples;
    *result = 1.0;
    return kStatusOk;
}

struct SampleCountQuery {
    uint32_t episode;
    double* count;
};

int SampleCountWork(const OpenedFile& f, double* result, void* output)
{
    auto* q = static_cast<SampleCountQuery*>(output);
    uint32_t count = 0;
    int32_t error = 0;
    if (!AbfGetNumSamples(f.file, f.header, q->episode, &count, &error)) {
        RecordAbfError(*f.name, error);
        return kStatusOk;
    }
    *q->count = static_cast<double>(count);
    *result = 1.0;
    return kStatusOk;
}

struct StartTimeQuery {
    int32_t channel;  // logical, 0..15
    uint32_t episode;
    double* time;
};

int StartTimeWork(const OpenedFile& f, double* result, void* output)
{
    auto* q = static_cast<StartTimeQuery*>(output);
    const int32_t physical = f.header->nADCSamplingSeq[q->channel];
    double time = 0.0;
    int32_t error = 0;
    if (!AbfGetStartTime(f.file, f.header, physical, q->episode, &time, &error)) {
        RecordAbfError(*f.name, error);
        return kStatusOk;
    }
    *q->time = time;
    *result = 1.0;
    return kStatusOk;
}

int SamplingSeqWork(const OpenedFile& f, double* result, void* output)
{
    char text[kAbfSamplingSeqTextSize];
    const std::size_t length = AbfSamplingSeqText(*f.header, text);
    // The caller's variable stays as it was when the string cannot be made.
    const int status = SetStringVariable(static_cast<Handle*>(output), text, length);
    if (status != kStatusOk) return status;
    *result = 1.0;
    return kStatusOk;
}

// The episode of kav_AbfSampleCount: truncated toward zero, its low 32 bits
// passed on unchecked for the library to judge. A number with no integer value
// (NaN, infinite, beyond 64 bits) becomes 0, which names no episode.
uint32_t TruncatedEpisode(double episode)
{
    const double t = std::trunc(episode);
    if (!(t > -9223372036854775808.0 && t < 9223372036854775808.0)) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(t)));
}

// The shared road of the queries with one number by reference.
int NumberQuery(void* params, QueryWork work)
{
    auto* p = static_cast<NameNumberRefParams*>(params);
    p->result = 0.0;
    if (!p->fileName) return kErrNullString;
    return OpenAskClose(p->fileName, &p->result, work, p->value);
}

}  // namespace

int kav_AbfIsAbfFile(void* params)
{
    auto* p = static_cast<NameParams*>(params);
    p->result = 0.0;
    Handle name = p->fileName;
    if (!name) return kErrNullString;
    if (TerminateStringHandle(name) != kStatusOk) {
        DisposeHandle(name);
        return kStatusOutOfMemory;
    }
    int32_t dataFormat = 0;
    int32_t error = 0;
    const ABFBOOL answer = AbfIsAbfFile(*name, &dataFormat, &error);
    p->result = static_cast<double>(answer);
    if (!answer) RecordAbfError(*name, error);
    DisposeHandle(name);
    return kStatusOk;
}

int kav_AbfHasData(void* params)
{
    auto* p = static_cast<NameParams*>(params);
    p->result = 0.0;
    if (!p->fileName) return kErrNullString;
    return OpenAskClose(p->fileName, &p->result, HasDataWork, nullptr);
}

int kav_AbfOperationMode(void* params) { return NumberQuery(params, OperationModeWork); }

int kav_AbfChannelCount(void* params) { return NumberQuery(params, ChannelCountWork); }

int kav_AbfEpisodeCount(void* params) { return NumberQuery(params, EpisodeCountWork); }

int kav_AbfTotalSampleCount(void* params) { return NumberQuery(params, TotalSampleCountWork); }

int kav_AbfSampleCount(void* params)
{
    auto* p = static_cast<SampleCountParams*>(params);
    p->result = 0.0;
    if (!p->fileName) return kErrNullString;
    SampleCountQuery q = {TruncatedEpisode(p->episode), p->count};
    return OpenAskClose(p->fileName, &p->result, SampleCountWork, &q);
}

int kav_AbfStartTime(void* params)
{
    auto* p = static_cast<StartTimeParams*>(params);
    p->result = 0.0;
    if (!p->fileName) return kErrNullString;
    StartTimeQuery q = {0, 0, p->time};
    int status = kStatusOk;
    if (!AbfLogicalChannel(p->channel, &q.channel))
        status = kErrChannel;
    else if (!AbfNumberToUInt32(p->episode, &q.episode))
        status = kErrEpisode;
    if (status != kStatusOk) {
        DisposeHandle(p->fileName);
        return status;
    }
    return OpenAskClose(p->fileName, &p->result, StartTimeWork, &q);
}

int kav_AbfADCSamplingSeq(void* params)
{
    auto* p = static_cast<NameStringRefParams*>(params);
    p->result = 0.0;
    if (!p->fileName) return kErrNullString;
    return OpenAskClose(p->fileName, &p->result, SamplingSeqWork, p->text);
}
