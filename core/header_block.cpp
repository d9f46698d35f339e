#include "header_block.h"

#include <cstring>

void AbfPrepareHeader(AbfHeaderBlock* block)
{
    std::memset(block, 0, sizeof *block);
    block->header.fFileVersionNumber = kAbfHeaderVersion;
    block->header.fHeaderVersionNumber = kAbfHeaderVersion;
    block->header.lHeaderSize = kAbfHeaderSize;
}
