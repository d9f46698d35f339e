// A file opened through the ABF library directly, exactly as the plug-in opens
// it (the header block prepared the plug-in's way, sample limit 16384 and episode
// limit 0 handed in), for tests that ask the library's own answers; closed when
// the object goes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/header_block.h"
#include "interface/abffio.h"

namespace kavtest {

struct LibraryFile {
    explicit LibraryFile(const std::string& path) : block(new AbfHeaderBlock)
    {
        AbfPrepareHeader(block.get());
        ok = ABF_ReadOpen(path.c_str(), &handle, 0, header(), &sampleLimit, &episodes, &error) != 0;
    }
    ~LibraryFile()
    {
        int32_t e = 0;
        if (ok) ABF_Close(handle, &e);
    }
    LibraryFile(const LibraryFile&) = delete;
    LibraryFile& operator=(const LibraryFile&) = delete;

    ABFFileHeader* header() { return &block->header; }

    bool ok = false;
    int32_t handle = -1;
    int32_t error = 0;
    uint32_t sampleLimit = kAbfSampleLimit;
    uint32_t episodes = kAbfEpisodeLimit;
    std::unique_ptr<AbfHeaderBlock> block;  // the record the open filled (and room for the library's own)
};

}  // namespace kavtest
