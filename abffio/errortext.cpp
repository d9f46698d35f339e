// Error texts of the library, in its own words.
#include <cstdio>
#include <string>

#include "internal.h"

namespace abffio {
namespace {

struct Text {
    int number;
    bool namesFile;  // the text names the file with %s
    const char* text;
};

const Text kTexts[] = {
    {1, false, "The operation is not permitted."},
    {2, true, "The file \"%s\" was not found."},
    {3, true, "The folder of \"%s\" was not found."},
    {4, false, "Too many files are open in the system."},
    {5, true, "Access to \"%s\" was denied."},
    {ABF_EUNKNOWNFILETYPE, true, "\"%s\" is of a file type this library does not know."},
    {ABF_EBADFILEINDEX, false, "The file handle does not refer to an open ABF file."},
    {ABF_TOOMANYFILESOPEN, false, "Too many ABF files are open at once; close one and try again."},
    {ABF_EOPENFILE, true, "\"%s\" could not be opened: it is missing or cannot be accessed."},
    {ABF_EINVALIDFILE, true, "\"%s\" is not a valid ABF file: its header is missing, too short or invalid."},
    {ABF_EREADDATA, true, "The samples of \"%s\" could not be read."},
    {ABF_OUTOFMEMORY, true, "There was not enough memory to read \"%s\"."},
    {ABF_EREADSYNCH, true, "The synch array of \"%s\" could not be read."},
    {ABF_EBADSYNCH, true, "The synch array of \"%s\" is corrupted."},
    {ABF_EEPISODERANGE, true, "The episode number is outside the episodes of \"%s\"."},
    {ABF_EINVALIDCHANNEL, true, "The channel number is not one of the channels sampled in \"%s\"."},
    {ABF_EEPISODESIZE, true, "The episode size recorded in \"%s\" is invalid."},
    {1014, true, "\"%s\" is a read-only file."},
    {1015, true, "There is not enough disk space for \"%s\"."},
    {ABF_ENOTAGS, true, "\"%s\" holds no tags."},
    {ABF_EREADTAG, true, "A tag of \"%s\" could not be read."},
    {ABF_ENOSYNCHPRESENT, true, "\"%s\" has no synch array."},
    {ABF_EREADDACEPISODE, true, "A stored DAC-file episode of \"%s\" could not be read."},
    {ABF_ENOWAVEFORM, true, "No stimulus waveform is defined for this channel of \"%s\"."},
    {ABF_EBADWAVEFORM, true, "The stimulus waveform definition of \"%s\" is invalid."},
    {1022, true, "The mathematical channel settings of \"%s\" are invalid."},
    {1023, true, "The file \"%s\" could not be written."},
};

// Numbers the library recognises without a specific wording of its own.
bool KnownGeneric(int n) { return (n >= 1025 && n <= 1037) || n == 1041 || (n >= 2001 && n <= 2033) || n == 2035; }

}  // namespace

std::string ErrorText(int errorNumber, const char* fileName)
{
    const char* name = fileName ? fileName : "";
    char buf[1100];
    for (const Text& t : kTexts) {
        if (t.number != errorNumber) continue;
        if (t.namesFile) {
            // Long names are cut so the whole text stays within 1023 characters.
            snprintf(buf, sizeof buf, t.text, std::string(name).substr(0, 900).c_str());
        } else {
            snprintf(buf, sizeof buf, "%s", t.text);
        }
        return buf;
    }
    if (KnownGeneric(errorNumber)) {
        if (errorNumber >= 2001)
            snprintf(buf, sizeof buf, "The protocol settings of \"%s\" are invalid (check %d).",
                     std::string(name).substr(0, 900).c_str(), errorNumber - 2000);
        else
            snprintf(buf, sizeof buf, "\"%s\" could not be processed (library error %d).",
                     std::string(name).substr(0, 900).c_str(), errorNumber);
        return buf;
    }
    return std::string();
}

}  // namespace abffio
