// The rules of the file-name functions over plain text: where a path's last
// separator and its extension's dot are, and the split into drive, directory,
// name and extension. They look at characters only and never at the file system.
#pragma once

#include <cstddef>

inline constexpr std::size_t kPathNotFound = static_cast<std::size_t>(-1);

// The strip and extension functions look at single bytes from the end of the path
// and take slash, colon and backslash alike for separators.
// Position of the last separator, or kPathNotFound.
std::size_t PathLastSeparator(const char* text, std::size_t length);
// Position of the dot that starts the extension: the last dot after the last
// separator, or kPathNotFound.
std::size_t PathExtensionDot(const char* text, std::size_t length);

// ---- The split ---------------------------------------------------------------
// A colon only marks a drive, as the second character; directory separators are
// slash and backslash. The text is read as characters of the ANSI code page: a
// lead byte and the byte after it form one character that is neither a separator
// nor a dot (a lead byte without a second byte stands alone).
typedef bool (*PathLeadByteTest)(unsigned char c);

// Room of the parts, without their NUL: a longer part is cut.
inline constexpr std::size_t kPathDriveRoom = 2;
inline constexpr std::size_t kPathPartRoom = 255;

struct PathParts {
    char drive[kPathDriveRoom + 1];
    char directory[kPathPartRoom + 1];  // up to and with the last separator
    char name[kPathPartRoom + 1];
    char extension[kPathPartRoom + 1];  // from its dot on
    std::size_t driveLength, directoryLength, nameLength, extensionLength;
};

// Splits the NUL-terminated text.
void SplitPath(const char* text, PathLeadByteTest isLeadByte, PathParts* parts);

// Which parts are not empty: 1 drive + 2 directory + 4 name + 8 extension.
int PathPartsPresent(const PathParts& parts);
