// The file-name functions: the path without its extension, its directory, its
// file name, its extension, and all four parts at once (drive, directory, name,
// extension). Their rules are the core's (core/path_rules.h); here they meet the
// host's handles. The split reads the path in the ANSI code page of the process.
//
// Ownership: every function owns the path handle it receives. The strip
// functions that keep the path hand it over as their result; otherwise the
// function's one exit releases it.
// Each returns 0, kErrNullString for a null path, or kStatusOutOfMemory when a
// handle could not be created or grown.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "core/path_rules.h"
#include "frame/boundary.h"
#include "platform/win32_api.h"

namespace {

// The result of a strip function that keeps the path: the path handle itself, cut
// to `length` bytes unless that is kPathNotFound, handed over. When the host
// refuses the cut there is no result, and the path stays the function's.
int HandBack(Handle* path, std::size_t length, Handle* result)
{
    if (length != kPathNotFound && !ResizeHandle(*path, length)) return kStatusOutOfMemory;
    *result = HandOver(path);
    return kStatusOk;
}

// The result of a function that keeps the path's end: a new string handle holding
// its characters from `from` on (none when the host has no memory for it).
int NewTail(Handle path, std::size_t from, Handle* result)
{
    const std::size_t length = StringHandleLength(path);
    if (NewStringHandle(*path + from, length - from, result) != 0) *result = nullptr;
    return *result ? kStatusOk : kStatusOutOfMemory;
}

// The bodies of the four functions of one path: the path is the function's
// (`path`, released at its exit) unless the body hands it over as the result.
int StripExt(FileStripExtParams* p, Handle* path)
{
    if (int status = RequireString(*path)) return status;
    return HandBack(path, PathExtensionDot(**path, StringHandleLength(*path)), &p->result);
}

int StripFileName(FileStripFileNameParams* p, Handle* path)
{
    if (int status = RequireString(*path)) return status;
    const std::size_t separator = PathLastSeparator(**path, StringHandleLength(*path));
    return HandBack(path, separator == kPathNotFound ? kPathNotFound : separator + 1, &p->result);
}

int StripPathName(FileStripPathNameParams* p, Handle* path)
{
    if (int status = RequireString(*path)) return status;
    const std::size_t separator = PathLastSeparator(**path, StringHandleLength(*path));
    if (separator == kPathNotFound) return HandBack(path, kPathNotFound, &p->result);
    return NewTail(*path, separator + 1, &p->result);
}

int GetExt(FileGetExtParams* p, Handle* path)
{
    if (int status = RequireString(*path)) return status;
    const std::size_t length = StringHandleLength(*path);
    const std::size_t dot = PathExtensionDot(**path, length);
    return NewTail(*path, dot == kPathNotFound ? length : dot + 1, &p->result);
}

// A part of the split as the store sees it.
struct Part {
    const char* text;
    std::size_t length;
};

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE; }

// Storing the four parts into the caller's variables happens completely or not
// at all: everything that can fail (new handles, resizing the existing ones) is
// done before any text is written, and a failed resize is undone.
constexpr int kPartCount = 4;

struct PartStore {
    Handle* variable;  // the caller's string variable (may be null: skipped)
    const Part* part;
    bool stores;            // the last parameter naming this variable stores into it
    Handle created;         // new handle for a variable that holds none
    std::size_t oldLength;  // length of the variable's existing handle
    std::size_t cutOffset;  // where the bytes that shrinking cuts are kept
    bool resized;
};

// Handles for the variables that hold none, and a scratch copy of the bytes that
// shrinking the others will cut. False when a handle could not be had.
bool PrepareStores(PartStore* s, Handle* scratch)
{
    std::size_t cutBytes = 0;
    for (int i = 0; i < kPartCount; ++i) {
        if (!s[i].stores) continue;
        Handle h = *s[i].variable;
        if (!h) {
            s[i].created = NewHandle(static_cast<intptr_t>(s[i].part->length));
            if (!s[i].created) return false;
            continue;
        }
        s[i].oldLength = StringHandleLength(h);
        s[i].cutOffset = cutBytes;
        if (s[i].oldLength > s[i].part->length) cutBytes += s[i].oldLength - s[i].part->length;
    }
    if (cutBytes == 0) return true;
    *scratch = NewHandle(static_cast<intptr_t>(cutBytes));
    if (!*scratch) return false;
    for (int i = 0; i < kPartCount; ++i) {
        if (!s[i].stores || s[i].created || s[i].oldLength <= s[i].part->length) continue;
        const std::size_t n = s[i].oldLength - s[i].part->length;
        std::memcpy(**scratch + s[i].cutOffset, **s[i].variable + s[i].part->length, n);
    }
    return true;
}

// Resizes the variables' existing handles to their parts' lengths, the ones that
// grow first: undoing a grow is a shrink, which keeps the text and does not need
// memory. False when one could not be resized.
bool ResizeExisting(PartStore* s)
{
    for (bool growing : {true, false}) {
        for (int i = 0; i < kPartCount; ++i) {
            if (!s[i].stores || s[i].created || s[i].oldLength == s[i].part->length) continue;
            if ((s[i].part->length > s[i].oldLength) != growing) continue;
            if (!ResizeHandle(*s[i].variable, s[i].part->length)) return false;
            s[i].resized = true;
        }
    }
    return true;
}

// Gives the resized handles back their old lengths and texts.
void UndoResizes(PartStore* s, Handle scratch)
{
    for (int i = 0; i < kPartCount; ++i) {
        if (!s[i].resized) continue;
        Handle h = *s[i].variable;
        if (!ResizeHandle(h, s[i].oldLength)) continue;  // nothing more can be done
        if (s[i].oldLength > s[i].part->length)
            std::memcpy(*h + s[i].part->length, *scratch + s[i].cutOffset, s[i].oldLength - s[i].part->length);
    }
}

void DiscardCreated(PartStore* s)
{
    for (int i = 0; i < kPartCount; ++i)
        if (s[i].created) DisposeHandle(s[i].created);
}

// Stores the parts; returns kStatusOk, or kStatusOutOfMemory with every variable
// left as it was.
int StoreParts(PartStore* s)
{
    // A variable named by several parameters ends up with the last part stored
    // into it, as if the parts were stored one after the other.
    for (int i = 0; i < kPartCount; ++i) {
        s[i].stores = s[i].variable != nullptr;
        for (int j = i + 1; j < kPartCount && s[i].stores; ++j)
            if (s[j].variable == s[i].variable) s[i].stores = false;
    }

    Handle scratch = nullptr;
    bool ok = PrepareStores(s, &scratch);
    if (ok && !ResizeExisting(s)) {
        UndoResizes(s, scratch);
        ok = false;
    }
    if (scratch) DisposeHandle(scratch);
    if (!ok) {
        DiscardCreated(s);
        return kStatusOutOfMemory;
    }

    for (int i = 0; i < kPartCount; ++i) {
        if (!s[i].stores) continue;
        if (s[i].created) *s[i].variable = s[i].created;
        if (s[i].part->length) std::memcpy(**s[i].variable, s[i].part->text, s[i].part->length);
    }
    return kStatusOk;
}

int SplitPathInto(FileSplitPathParams* p)
{
    if (int status = TakeString(p->path)) return status;
    PathParts parts;
    SplitPath(*p->path, IsLeadByte, &parts);

    const Part drive{parts.drive, parts.driveLength};
    const Part directory{parts.directory, parts.directoryLength};
    const Part name{parts.name, parts.nameLength};
    const Part extension{parts.extension, parts.extensionLength};
    PartStore stores[kPartCount] = {
        {p->drive, &drive, false, nullptr, 0, 0, false},
        {p->dir, &directory, false, nullptr, 0, 0, false},
        {p->name, &name, false, nullptr, 0, 0, false},
        {p->ext, &extension, false, nullptr, 0, 0, false},
    };
    if (int status = StoreParts(stores)) return status;
    p->result = PathPartsPresent(parts);
    return kStatusOk;
}

}  // namespace

int kav_AbfFileStripExt(void* params)
{
    return RunExternalFunction(params, &FileStripExtParams::path, StripExt);
}

int kav_AbfFileStripFileName(void* params)
{
    return RunExternalFunction(params, &FileStripFileNameParams::path, StripFileName);
}

int kav_AbfFileStripPathName(void* params)
{
    return RunExternalFunction(params, &FileStripPathNameParams::path, StripPathName);
}

int kav_AbfFileGetExt(void* params) { return RunExternalFunction(params, &FileGetExtParams::path, GetExt); }

int kav_AbfFileSplitPath(void* params) { return RunExternalFunction(params, &FileSplitPathParams::path, SplitPathInto); }
