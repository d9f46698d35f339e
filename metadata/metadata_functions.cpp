// kav_AbfPrintMetaData and kav_AbfMetaData: open the file, render its header with
// the core's catalogue, close.

#include "abfcalls/lib_file.h"
#include "core/header_text.h"
#include "frame/boundary.h"

namespace {

// The key=value text is composed here: room for the text of any header.
char headerString[kHeaderStringBufferSize];

void SendToHistory(void*, const char* text) { HistoryPrint(text); }

int PrintListing(const LibFile& f, void* result)
{
    PrintHeaderListing(SendToHistory, nullptr, f.header);
    *static_cast<double*>(result) = 1.0;
    return kStatusOk;
}

struct StringRequest {
    Handle* text;  // the caller's string variable
    double* result;
};

int StoreHeaderString(const LibFile& f, void* context)
{
    const StringRequest& r = *static_cast<const StringRequest*>(context);
    const std::size_t length = BuildHeaderString(headerString, sizeof headerString, f.header);
    // Without memory for the text the caller's variable keeps what it held.
    const int status = SetStringVariable(r.text, headerString, length);
    if (status == kStatusOk) *r.result = 1.0;
    return status;
}

int PrintMetaData(PrintMetaDataParams* p)
{
    if (int status = TakeString(p->fileName)) return status;
    return WithLibFile(p->fileName, PrintListing, &p->result);
}

int MetaData(MetaDataParams* p)
{
    if (int status = TakeString(p->fileName)) return status;
    StringRequest r = {p->text, &p->result};
    return WithLibFile(p->fileName, StoreHeaderString, &r);
}

}  // namespace

int kav_AbfPrintMetaData(void* params) { return RunFileFunction(params, PrintMetaData); }

int kav_AbfMetaData(void* params) { return RunFileFunction(params, MetaData); }
