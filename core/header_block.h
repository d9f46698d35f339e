// The header block a caller hands to the library's open, prepared the same way
// before every open: by the plug-in and by any other program that reads ABF files
// the plug-in's way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/abf_record.h"

// The block the library fills on open. The library may write its own, larger
// record layout whatever lHeaderSize says, so the record sits at the start of a
// zero-filled block with room for it.
inline constexpr std::size_t kAbfHeaderBlockSize = 32768;
inline constexpr float kAbfHeaderVersion = 2.05f;
inline constexpr int32_t kAbfHeaderSize = static_cast<int32_t>(kAbfRecordSize);
// The episode limit handed to the open (the library returns the episode count).
inline constexpr uint32_t kAbfEpisodeLimit = 0;

struct AbfHeaderBlock {
    ABFFileHeader header;
    unsigned char spare[kAbfHeaderBlockSize - sizeof(ABFFileHeader)];
};
static_assert(sizeof(AbfHeaderBlock) == kAbfHeaderBlockSize, "header block size");
static_assert(kAbfLibraryRecordSize <= kAbfHeaderBlockSize, "the library's record fits the block");

// Zero-fills the block and sets the version fields and the header size.
void AbfPrepareHeader(AbfHeaderBlock* block);
