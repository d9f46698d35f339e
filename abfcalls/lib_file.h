// The one road of every function that reads an ABF file (the queries, the sample
// and tag readers, the header functions): open the named file, do the work, close
// it again, with the library's failures recorded in the last-error state and never
// returned as a status. No file stays open between calls.
#pragma once

#include <cstdint>

#include "abf_library.h"
#include "frame/boundary.h"
#include "interface/host_abi.h"

// What a piece of work sees of the file the library opened for this call.
struct LibFile {
    Handle name;  // the file name, NUL-terminated; dereference anew at each use
    int32_t file;
    const ABFFileHeader* header;
    uint32_t sampleLimit;  // the most samples one read delivers
    uint32_t episodes;     // the episode count, the episode limit as the open returned it
};

// A piece of work on an opened file. It returns a status: kStatusOk, or the code
// of a check against the header or of an output it could not make. Library
// failures inside it are recorded (RecordAbfError) and are not a status.
typedef int (*LibFileWork)(const LibFile& file, void* context);

// Opens the file named by the NUL-terminated text of `name` with a freshly
// prepared header block (ordinal 110), does the work and closes the file (ordinal
// 160): what this opens, this closes, on every path. A failed open is recorded and
// the work is not done; a failed close is recorded. Returns the work's status
// (kStatusOk without work). The name stays the caller's to release.
int WithLibFile(Handle name, LibFileWork work, void* context);

// The shape of every function that reads a file (frame/boundary.h): the string its
// block owns is the file name, released at the one exit on every path.
template <typename Block>
int RunFileFunction(void* params, int (*body)(Block* block))
{
    return RunExternalFunction(params, &Block::fileName, body);
}
