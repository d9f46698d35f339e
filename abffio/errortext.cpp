// Error texts of the library, in its own words.
#include <cstdio>
#include <deque>
#include <mutex>
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

// The files last refused for holding more samples than the record counts, newest
// last, with their sample counts. A few are enough: the text is asked for right
// after the open that failed.
struct Uncounted {
    std::string name;
    uint64_t samples;
};
constexpr size_t kUncountedKept = 8;
std::mutex g_uncountedLock;
std::deque<Uncounted> g_uncounted;

// The sample count of the file of this name as last refused for it, or 0.
uint64_t UncountedSamples(const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_uncountedLock);
    for (auto it = g_uncounted.rbegin(); it != g_uncounted.rend(); ++it)
        if (it->name == name) return it->samples;
    return 0;
}

}  // namespace

void NoteTooManySamples(const std::string& fileName, uint64_t samples)
{
    std::lock_guard<std::mutex> lock(g_uncountedLock);
    for (auto it = g_uncounted.begin(); it != g_uncounted.end(); ++it)
        if (it->name == fileName) {
            g_uncounted.erase(it);
            break;
        }
    if (g_uncounted.size() == kUncountedKept) g_uncounted.pop_front();
    g_uncounted.push_back({fileName, samples});
}

std::string ErrorText(int errorNumber, const char* fileName)
{
    const char* name = fileName ? fileName : "";
    char buf[1100];
    if (errorNumber == ABF_EINVALIDFILE) {
        if (const uint64_t samples = UncountedSamples(name)) {
            snprintf(buf, sizeof buf,
                     "\"%s\" holds %llu samples in its data section, more than the %llu (2^31 - 1) that an ABF "
                     "header counts: too long a recording for this library to read.",
                     std::string(name).substr(0, 900).c_str(), static_cast<unsigned long long>(samples),
                     static_cast<unsigned long long>(kMaxCountedSamples));
            return buf;
        }
    }
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
