// Opening, working on and closing an ABF file.
#include "lib_file.h"

#include "last_error.h"

namespace {

// The header block of the file being read. The host calls one function at a time
// and no work opens a second file, so one block serves every call.
AbfHeaderBlock openedHeader;

}  // namespace

int WithLibFile(Handle name, LibFileWork work, void* context)
{
    int status = kStatusOk;
    LibFile f = {name, -1, &openedHeader.header, 0, 0};
    int32_t error = 0;
    if (LibOpenPrepared(*name, &f.file, &openedHeader, &f.sampleLimit, &f.episodes, &error)) {
        status = work(f, context);
        if (!LibClose(f.file, &error)) RecordAbfError(*name, error);
    } else {
        RecordAbfError(*name, error);
    }
    return status;
}
