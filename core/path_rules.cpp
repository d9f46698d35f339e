// The file-name rules.
#include "path_rules.h"

#include <cstring>

namespace {

bool IsSeparator(char c) { return c == '/' || c == ':' || c == '\\'; }

// Copies `length` bytes into a buffer with room for `room` bytes and a NUL,
// cutting what does not fit; returns the length kept.
std::size_t CopyCut(char* buffer, std::size_t room, const char* text, std::size_t length)
{
    const std::size_t n = length < room ? length : room;
    if (n) std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return n;
}

}  // namespace

std::size_t PathLastSeparator(const char* text, std::size_t length)
{
    for (std::size_t i = length; i-- > 0;)
        if (IsSeparator(text[i])) return i;
    return kPathNotFound;
}

std::size_t PathExtensionDot(const char* text, std::size_t length)
{
    for (std::size_t i = length; i-- > 0;) {
        if (text[i] == '.') return i;
        if (IsSeparator(text[i])) break;
    }
    return kPathNotFound;
}

void SplitPath(const char* text, PathLeadByteTest isLeadByte, PathParts* parts)
{
    std::size_t length = std::strlen(text);
    const char* rest = text;
    if (length >= 2 && text[1] == ':') {
        parts->driveLength = CopyCut(parts->drive, kPathDriveRoom, text, 2);
        rest += 2;
        length -= 2;
    } else {
        parts->driveLength = CopyCut(parts->drive, kPathDriveRoom, text, 0);
    }

    // One pass over the characters, a double-byte character as one.
    std::size_t lastSeparator = kPathNotFound;
    std::size_t lastDot = kPathNotFound;
    for (std::size_t i = 0; i < length;) {
        const char c = rest[i];
        if (isLeadByte(static_cast<unsigned char>(c)) && i + 1 < length) {
            i += 2;
            continue;
        }
        if (c == '/' || c == '\\')
            lastSeparator = i;
        else if (c == '.')
            lastDot = i;
        ++i;
    }

    const std::size_t directoryLength = lastSeparator == kPathNotFound ? 0 : lastSeparator + 1;
    std::size_t nameEnd = length;
    if (lastDot != kPathNotFound && lastDot >= directoryLength) nameEnd = lastDot;
    parts->directoryLength = CopyCut(parts->directory, kPathPartRoom, rest, directoryLength);
    parts->nameLength = CopyCut(parts->name, kPathPartRoom, rest + directoryLength, nameEnd - directoryLength);
    parts->extensionLength = CopyCut(parts->extension, kPathPartRoom, rest + nameEnd, length - nameEnd);
}

int PathPartsPresent(const PathParts& parts)
{
    int which = 0;
    if (parts.driveLength) which |= 1;
    if (parts.directoryLength) which |= 2;
    if (parts.nameLength) which |= 4;
    if (parts.extensionLength) which |= 8;
    return which;
}
