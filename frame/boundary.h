// The typed boundary of the external functions: the parameter blocks (generated
// from resources/functions.csv) and the steps every function takes on its way in
// and out, so each function states only what is its own.
//
// Every external function has one shape: open the block, run the body (its checks
// and its work), and leave through one exit that releases what the function took.
// RunExternalFunction is that shape for the functions whose block holds one string:
//
//     int IsAbfFile(IsAbfFileParams* p);  // checks and work: returns a status, releases nothing
//     int kav_AbfIsAbfFile(void* params)
//     {
//         return RunExternalFunction(params, &IsAbfFileParams::fileName, IsAbfFile);
//     }
//
// The function owns the string parameters of its block from the moment it is
// called. Only its exit releases them: the helpers it calls check, convert and
// work, and return a status, but never release a handle on its behalf. A handle
// that goes to the host instead (a string parameter handed back as the result)
// leaves through HandOver, after which the exit passes it over.
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
// does nothing else), otherwise kStatusOk.
inline int RequireString(Handle text) { return text ? kStatusOk : kErrNullString; }

// A required string parameter that is used as text: RequireString, then the text
// made NUL-terminated in place (kStatusOutOfMemory when the handle cannot be
// grown; the handle stays the function's, for its exit to release).
int TakeString(Handle text);

// ---- Handing over ----------------------------------------------------------------

// A handle the function owned goes to the host (as its string result): returns
// it and clears *owned, so that the exit no longer releases it.
inline Handle HandOver(Handle* owned)
{
    Handle h = *owned;
    *owned = nullptr;
    return h;
}

// ---- The exit --------------------------------------------------------------------

// Releases a string parameter the function owns (a null one is passed over) and
// passes `status` on: the last step of every function that owns one.
int ReleaseString(Handle text, int status);

// ---- The shape -------------------------------------------------------------------

// An external function whose block holds one string parameter, `text`: the block
// opened, the body run, and the one exit, which releases the string on every path.
template <typename Block>
int RunExternalFunction(void* params, Handle Block::*text, int (*body)(Block* block))
{
    Block* p = OpenBlock<Block>(params);
    const int status = body(p);
    return ReleaseString(p->*text, status);
}

// The same for a body that may hand the string over to the host: it gets the string
// as `owned` and gives it away with HandOver; the exit releases it otherwise.
template <typename Block>
int RunExternalFunction(void* params, Handle Block::*text, int (*body)(Block* block, Handle* owned))
{
    Block* p = OpenBlock<Block>(params);
    Handle owned = p->*text;
    const int status = body(p, &owned);
    return ReleaseString(owned, status);
}
