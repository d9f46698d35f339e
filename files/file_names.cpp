// The file-name functions. Four of them (strip the extension, strip the file
// name, strip the path name, get the extension) look at single bytes from the end
// of the path and take slash, colon and backslash alike for separators. The split
// has rules of its own (a colon only marks a drive, as the second character) and
// reads the path as characters of the ANSI code page, so the second byte of a
// double-byte character is never taken for a separator or a dot.
//
// Ownership: every function owns the path handle it receives. The two strip
// functions that shorten hand it back as their result; the others release it.
#include "file_names.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame/host_services.h"
#include "platform/win32_api.h"
#include "frame/xop.h"

namespace {

// Parameter blocks: the parameters in reverse order, then the result.
#if KAV_WIN32
#pragma pack(push, 2)
#endif
struct PathParams {
    Handle path;
    Handle result;  // string result, passes to the host
};
struct SplitPathParams {
    Handle* extension;
    Handle* name;
    Handle* directory;
    Handle* drive;
    Handle path;
    double result;  // 1 drive + 2 directory + 4 name + 8 extension, each when not empty
};
#if KAV_WIN32
#pragma pack(pop)
#endif

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// Room of the split's work buffers, without the NUL.
constexpr std::size_t kDriveRoom = 2;
constexpr std::size_t kPartRoom = 255;

bool IsSeparator(char c) { return c == '/' || c == ':' || c == '\\'; }

// Position of the last separator, or kNotFound.
std::size_t LastSeparator(const char* text, std::size_t length)
{
    for (std::size_t i = length; i-- > 0;)
        if (IsSeparator(text[i])) return i;
    return kNotFound;
}

// Position of the dot that starts the extension: the last dot after the last
// separator, or kNotFound.
std::size_t ExtensionDot(const char* text, std::size_t length)
{
    for (std::size_t i = length; i-- > 0;) {
        if (text[i] == '.') return i;
        if (IsSeparator(text[i])) break;
    }
    return kNotFound;
}

// Cuts the handle's text to `length` bytes; false when the host refused.
bool ShortenHandle(Handle h, std::size_t length)
{
    const intptr_t size = static_cast<intptr_t>(length);
    SetHandleSize(h, size);
    return GetHandleSize(h) == size;
}

// A new string handle holding the path's characters from `from` to its end; null
// when the host has no memory for it.
Handle NewTail(Handle path, std::size_t from, std::size_t length)
{
    Handle out = nullptr;
    if (NewStringHandle(*path + from, length - from, &out) != 0) return nullptr;
    return out;
}

// The string functions' common start: clears the result and tells whether there is
// a path to work on.
Handle TakePath(PathParams* p)
{
    p->result = nullptr;
    return p->path;
}

// ---- The split ---------------------------------------------------------------

// A part of the split: its text (NUL-terminated in its buffer) and length.
struct Part {
    char* text;
    std::size_t length;
};

// Copies `length` bytes into a buffer with room for `room` bytes and a NUL,
// cutting what does not fit.
std::size_t CopyCut(char* buffer, std::size_t room, const char* text, std::size_t length)
{
    const std::size_t n = length < room ? length : room;
    if (n) std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return n;
}

// Splits the NUL-terminated text into drive, directory, name and extension.
void SplitText(const char* text, Part* drive, Part* directory, Part* name, Part* extension)
{
    std::size_t length = std::strlen(text);
    const char* rest = text;
    if (length >= 2 && text[1] == ':') {
        drive->length = CopyCut(drive->text, kDriveRoom, text, 2);
        rest += 2;
        length -= 2;
    } else {
        drive->length = CopyCut(drive->text, kDriveRoom, text, 0);
    }

    // One pass over the characters: a lead byte and the byte after it form one
    // character that is neither a separator nor a dot. A lead byte without a
    // second byte stands alone.
    std::size_t lastSeparator = kNotFound;
    std::size_t lastDot = kNotFound;
    for (std::size_t i = 0; i < length;) {
        const char c = rest[i];
        if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < length) {
            i += 2;
            continue;
        }
        if (c == '/' || c == '\\')
            lastSeparator = i;
        else if (c == '.')
            lastDot = i;
        ++i;
    }

    const std::size_t directoryLength = lastSeparator == kNotFound ? 0 : lastSeparator + 1;
    std::size_t nameEnd = length;
    if (lastDot != kNotFound && lastDot >= directoryLength) nameEnd = lastDot;
    directory->length = CopyCut(directory->text, kPartRoom, rest, directoryLength);
    name->length = CopyCut(name->text, kPartRoom, rest + directoryLength, nameEnd - directoryLength);
    extension->length = CopyCut(extension->text, kPartRoom, rest + nameEnd, length - nameEnd);
}

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
            Handle h = *s[i].variable;
            const intptr_t size = static_cast<intptr_t>(s[i].part->length);
            SetHandleSize(h, size);
            if (GetHandleSize(h) != size) return false;
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
        const intptr_t size = static_cast<intptr_t>(s[i].oldLength);
        SetHandleSize(h, size);
        if (GetHandleSize(h) != size) continue;  // nothing more can be done
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

}  // namespace

int kav_AbfFileStripExt(void* params)
{
    auto* p = static_cast<PathParams*>(params);
    Handle path = TakePath(p);
    if (!path) return kErrNullString;
    const std::size_t dot = ExtensionDot(*path, StringHandleLength(path));
    if (dot != kNotFound && !ShortenHandle(path, dot)) {
        DisposeHandle(path);
        return kStatusOutOfMemory;
    }
    p->result = path;
    return kStatusOk;
}

int kav_AbfFileStripFileName(void* params)
{
    auto* p = static_cast<PathParams*>(params);
    Handle path = TakePath(p);
    if (!path) return kErrNullString;
    const std::size_t separator = LastSeparator(*path, StringHandleLength(path));
    if (separator != kNotFound && !ShortenHandle(path, separator + 1)) {
        DisposeHandle(path);
        return kStatusOutOfMemory;
    }
    p->result = path;
    return kStatusOk;
}

int kav_AbfFileStripPathName(void* params)
{
    auto* p = static_cast<PathParams*>(params);
    Handle path = TakePath(p);
    if (!path) return kErrNullString;
    const std::size_t length = StringHandleLength(path);
    const std::size_t separator = LastSeparator(*path, length);
    if (separator == kNotFound) {
        p->result = path;
        return kStatusOk;
    }
    Handle name = NewTail(path, separator + 1, length);
    DisposeHandle(path);
    if (!name) return kStatusOutOfMemory;
    p->result = name;
    return kStatusOk;
}

int kav_AbfFileGetExt(void* params)
{
    auto* p = static_cast<PathParams*>(params);
    Handle path = TakePath(p);
    if (!path) return kErrNullString;
    const std::size_t length = StringHandleLength(path);
    const std::size_t dot = ExtensionDot(*path, length);
    Handle extension = NewTail(path, dot == kNotFound ? length : dot + 1, length);
    DisposeHandle(path);
    if (!extension) return kStatusOutOfMemory;
    p->result = extension;
    return kStatusOk;
}

int kav_AbfFileSplitPath(void* params)
{
    auto* p = static_cast<SplitPathParams*>(params);
    p->result = 0;
    Handle path = p->path;
    if (!path) return kErrNullString;
    if (TerminateStringHandle(path) != kStatusOk) {
        DisposeHandle(path);
        return kStatusOutOfMemory;
    }

    char driveText[kDriveRoom + 1];
    char directoryText[kPartRoom + 1];
    char nameText[kPartRoom + 1];
    char extensionText[kPartRoom + 1];
    Part drive{driveText, 0};
    Part directory{directoryText, 0};
    Part name{nameText, 0};
    Part extension{extensionText, 0};
    SplitText(*path, &drive, &directory, &name, &extension);
    DisposeHandle(path);

    PartStore stores[kPartCount] = {
        {p->drive, &drive, false, nullptr, 0, 0, false},
        {p->directory, &directory, false, nullptr, 0, 0, false},
        {p->name, &name, false, nullptr, 0, 0, false},
        {p->extension, &extension, false, nullptr, 0, 0, false},
    };
    const int status = StoreParts(stores);
    if (status != kStatusOk) return status;

    int which = 0;
    if (drive.length) which |= 1;
    if (directory.length) which |= 2;
    if (name.length) which |= 4;
    if (extension.length) which |= 8;
    p->result = which;
    return kStatusOk;
}
