// The file queries: nine external functions that open an ABF file, ask the
// library one question, and close it again. All but kav_AbfIsAbfFile take the
// road of WithLibFile; by-reference outputs are written only when the query
// succeeded, and then the result is 1.
#include <cstdint>

#include "abf_library.h"
#include "arguments.h"
#include "core/header_values.h"
#include "core/numbers.h"
#include "frame/boundary.h"
#include "last_error.h"
#include "lib_file.h"

namespace {

// A query in progress: where its answer goes, and what it asks about.
struct Query {
    double* result;
    double* number;    // the by-reference number of the numeric queries
    Handle* text;      // the by-reference string of the sampling-sequence query
    int32_t channel;   // logical, 0..15
    uint32_t episode;  // as the library numbers them, from 1
};

Query* AsQuery(void* context) { return static_cast<Query*>(context); }

int Answer(void* context, double number)
{
    *AsQuery(context)->number = number;
    *AsQuery(context)->result = 1.0;
    return kStatusOk;
}

// ---- Each query's own work on the opened file.

int HasDataWork(const LibFile& f, void* q)
{
    *AsQuery(q)->result = static_cast<double>(LibHasData(f.file, f.header));
    return kStatusOk;
}

int OperationModeWork(const LibFile& f, void* q) { return Answer(q, f.header->nOperationMode); }

int ChannelCountWork(const LibFile& f, void* q) { return Answer(q, f.header->nADCNumChannels); }

int EpisodeCountWork(const LibFile& f, void* q) { return Answer(q, f.episodes); }

int TotalSampleCountWork(const LibFile& f, void* q)
{
    int64_t samples = 0;
    // A header without channels has no per-channel count: no answer, result 0.
    if (!AbfSamplesPerChannel(*f.header, &samples)) return kStatusOk;
    return Answer(q, static_cast<double>(samples));
}

int SampleCountWork(const LibFile& f, void* q)
{
    uint32_t count = 0;
    int32_t error = 0;
    if (LibGetNumSamples(f.file, f.header, AsQuery(q)->episode, &count, &error)) return Answer(q, count);
    RecordAbfError(*f.name, error);
    return kStatusOk;
}

int StartTimeWork(const LibFile& f, void* q)
{
    const int32_t physical = AbfPhysicalChannel(*f.header, AsQuery(q)->channel);
    double time = 0.0;
    int32_t error = 0;
    if (LibGetStartTime(f.file, f.header, physical, AsQuery(q)->episode, &time, &error)) return Answer(q, time);
    RecordAbfError(*f.name, error);
    return kStatusOk;
}

int SamplingSeqWork(const LibFile& f, void* q)
{
    char text[kAbfSamplingSeqTextSize];
    const std::size_t length = AbfSamplingSeqText(*f.header, ';', text);
    // The caller's variable stays as it was when the string cannot be made.
    const int status = SetStringVariable(AsQuery(q)->text, text, length);
    if (status == kStatusOk) *AsQuery(q)->result = 1.0;
    return status;
}

// The road of the queries once their own checks have passed: the name made
// NUL-terminated, then the file opened, asked and closed.
int Ask(Handle fileName, LibFileWork work, Query* q)
{
    if (int status = TerminateStringHandle(fileName)) return status;
    return WithLibFile(fileName, work, q);
}

// A query with nothing to check but its file name.
int AskAbout(Handle fileName, double* result, double* number, Handle* text, LibFileWork work)
{
    if (int status = RequireString(fileName)) return status;
    Query q = {result, number, text, 0, 0};
    return Ask(fileName, work, &q);
}

// ---- The queries' bodies: their checks and their work (the exit is RunFileFunction's).

int IsAbfFile(IsAbfFileParams* p)
{
    if (int status = TakeString(p->fileName)) return status;
    int32_t dataFormat = 0;
    int32_t error = 0;
    const ABFBOOL answer = LibIsAbfFile(*p->fileName, &dataFormat, &error);
    p->result = static_cast<double>(answer);
    if (!answer) RecordAbfError(*p->fileName, error);
    return kStatusOk;
}

int HasData(HasDataParams* p) { return AskAbout(p->fileName, &p->result, nullptr, nullptr, HasDataWork); }

// The queries with one number by reference and nothing to check but the name.
template <typename Block>
int AskNumber(Block* p, double* number, LibFileWork work)
{
    return AskAbout(p->fileName, &p->result, number, nullptr, work);
}

int OperationMode(OperationModeParams* p) { return AskNumber(p, p->mode, OperationModeWork); }
int ChannelCount(ChannelCountParams* p) { return AskNumber(p, p->count, ChannelCountWork); }
int EpisodeCount(EpisodeCountParams* p) { return AskNumber(p, p->count, EpisodeCountWork); }
int TotalSampleCount(TotalSampleCountParams* p) { return AskNumber(p, p->count, TotalSampleCountWork); }

int SamplingSeq(ADCSamplingSeqParams* p)
{
    return AskAbout(p->fileName, &p->result, nullptr, p->sequence, SamplingSeqWork);
}

int SampleCount(SampleCountParams* p)
{
    if (int status = RequireString(p->fileName)) return status;
    Query q = {&p->result, p->count, nullptr, 0, TruncatedEpisode(p->episode)};
    return Ask(p->fileName, SampleCountWork, &q);
}

int StartTime(StartTimeParams* p)
{
    if (int status = RequireString(p->fileName)) return status;
    Query q = {&p->result, p->time, nullptr, 0, 0};
    if (!LogicalChannelOf(p->channel, &q.channel)) return kErrChannel;
    if (!RoundToUInt32(p->episode, &q.episode)) return kErrEpisode;
    return Ask(p->fileName, StartTimeWork, &q);
}

}  // namespace

int kav_AbfIsAbfFile(void* params) { return RunFileFunction(params, IsAbfFile); }
int kav_AbfHasData(void* params) { return RunFileFunction(params, HasData); }
int kav_AbfOperationMode(void* params) { return RunFileFunction(params, OperationMode); }
int kav_AbfChannelCount(void* params) { return RunFileFunction(params, ChannelCount); }
int kav_AbfEpisodeCount(void* params) { return RunFileFunction(params, EpisodeCount); }
int kav_AbfTotalSampleCount(void* params) { return RunFileFunction(params, TotalSampleCount); }
int kav_AbfADCSamplingSeq(void* params) { return RunFileFunction(params, SamplingSeq); }
int kav_AbfSampleCount(void* params) { return RunFileFunction(params, SampleCount); }
int kav_AbfStartTime(void* params) { return RunFileFunction(params, StartTime); }
