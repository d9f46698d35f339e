// kav_AbfPrintMetaData and kav_AbfMetaData: open the file, render its header with
// the core's catalogue, close.

#include "abf/opened_file.h"
#include "core/header_text.h"
#include "frame/boundary.h"

namespace {

// The key=value text is composed here: room for the text of any header.
char headerString[kHeaderStringBufferSize];

void SendToHistory(void*, const char* text) { HistoryPrint(text); }

int PrintListing(const OpenedFile& f, void* result)
{
    PrintHeaderListing(SendToHistory, nullptr, f.header);
    *static_cast<double*>(result) = 1.0;
    return kStatusOk;
}

struct StringRequest {
    Handle* text;  // the caller's string variable
    double* result;
};

int StoreHeaderString(const OpenedFile& f, void* context)
{
    const StringRequest& r = *static_cast<const StringRequest*>(context);
    const std::size_t length = BuildHeaderString(headerString, sizeof headerString, f.header);
    // Without memory for the text the caller's variable keeps what it held.
    const int status = SetStringVariable(r.text, headerString, length);
    if (status == kStatusOk) *r.result = 1.0;
    return status;
}

}  // namespace

int kav_AbfPrintMetaData(void* params)
{
    auto* p = OpenBlock<PrintMetaDataParams>(params);
    if (int status = TakeString(p->fileName)) return status;
    return WithOpenedFile(p->fileName, PrintListing, &p->result);
}

int kav_AbfMetaData(void* params)
{
    auto* p = OpenBlock<MetaDataParams>(params);
    if (int status = TakeString(p->fileName)) return status;
    StringRequest r = {p->text, &p->result};
    return WithOpenedFile(p->fileName, StoreHeaderString, &r);
}
