// The typed boundary of the external functions: the parameter blocks (generated
// from resources/functions.csv) and the steps every function takes on its way in
// and out, so each function states only what is its own.
//
//     auto* p = OpenBlock<IsAbfFileParams>(params);     // result slot cleared
//     if (int status = TakeString(p->fileName)) return status;
//     ...                                                // the function's own work
//     return ReleaseString(p->fileName, status);         // on every path out
#pragma once

#include <cstddef>

#include "host_services.h"
#include "resources/external_functions.h"

// ---- Opening steps -------------------------------------------------------------

// The result slot starts cleared: a numeric result 0, a string result null, so a
// function that fails hands back 0 or no string.
inline void ClearResult(double* result) { *result = 0.0; }
inline void ClearResult(Handle* result) { *result = nullptr; }

// The function's parameter block, its result cleared.
template <typename Block>
Block* OpenBlock(void* params)
{
    Block* block = static_cast<Block*>(params);
    ClearResult(&block->result);
    return block;
}

// A required string parameter: kErrNullString when it is null (the function then
// returns at once and does nothing else), otherwise kStatusOk.
inline int RequireString(Handle text) { return text ? kStatusOk : kErrNullString; }

// Makes a string parameter the function owns NUL-terminated in place. When the
// handle cannot be grown it is released and kStatusOutOfMemory comes back, which
// the function returns at once.
int TerminateOwnedString(Handle text);

// Both opening steps of a required string parameter that is used as text:
// RequireString, then TerminateOwnedString.
int TakeString(Handle text);

// ---- Closing step ----------------------------------------------------------------

// Releases a string parameter the function owns (a null one is passed over) and
// passes `status` on: every path out of a function that still owns one ends here.
int ReleaseString(Handle text, int status);

// ---- Handles ---------------------------------------------------------------------

// Resizes a host handle and checks that it took (the host refuses by leaving the
// size as it was): false when it did not.
bool ResizeHandle(Handle h, std::size_t size);
