// Writing a file: one look at the description's format picks the format's
// planner (abf1.cpp, abf2.cpp), which lays out the header; what surrounds the
// header is the same for both: the checks (validate.cpp), the data section streamed
// chunk by chunk (data.cpp), the tags and the synch array after it, and the damage
// done afterwards (damage.cpp).
#include <cstdio>
#include <memory>

#include "internal.h"

namespace abfw {
namespace {

namespace af = abfformat;

struct FormatWriter {
    Format format;
    void (*plan)(const RecordingSpec& rec, FilePlan* plan);
};

const FormatWriter kWriters[] = {
    {Format::Abf1, PlanAbf1},
    {Format::Abf2, PlanAbf2},
};

// The plan of a checked description, by its format's planner.
bool Plan(const RecordingSpec& rec, FilePlan* plan, std::string* error)
{
    if (!Validate(rec, error)) return false;
    for (const FormatWriter& w : kWriters) {
        if (w.format != rec.format) continue;
        w.plan(rec, plan);
        return true;
    }
    return Fail(error, "unknown file format");
}

void PutTag(Bytes* out, size_t at, const Tag& t)
{
    out->Put(at, af::tag::lTagTime, t.time);
    out->Text(at, af::tag::sComment, t.comment);
    out->Put(at, af::tag::nTagType, t.type);
    out->Put(at, af::tag::nVoiceTagNumber, t.number);
}

}  // namespace

bool Fail(std::string* error, const std::string& text)
{
    if (error) *error = text;
    return false;
}

// The file GUID: 16 bytes made from the seed, so that equal recordings are equal files.
void PutGuid(Bytes& h, uint32_t at, uint64_t seed)
{
    h.Put<uint64_t>(at, seed * 0x9E3779B97F4A7C15ull + 0x1234567ull);
    h.Put<uint64_t>(at + 8, ~seed * 0xC2B2AE3D27D4EB4Full);
}

void AddSection(Layout* l, const char* name, int64_t offset, uint32_t entryBytes, int64_t count)
{
    l->sections.push_back(SectionInfo{name, offset, entryBytes, count});
}

void PutEpoch(Bytes& h, size_t base, const EpochFields& f, const Epoch& x, uint32_t i)
{
    h.Put(base, f.type, x.type, i);
    h.Put(base, f.initLevel, x.initLevel, i);
    h.Put(base, f.levelInc, x.levelInc, i);
    h.Put(base, f.initDuration, x.initDuration, i);
    h.Put(base, f.durationInc, x.durationInc, i);
    h.Put(base, f.pulsePeriod, x.pulsePeriod, i);
    h.Put(base, f.pulseWidth, x.pulseWidth, i);
}

Bytes Tail(const RecordingSpec& rec, int64_t* tagOffset, int64_t* synchOffset, int64_t tailOffset)
{
    Bytes tail;
    int64_t pos = 0;
    *tagOffset = *synchOffset = 0;
    if (!rec.tags.empty()) {
        *tagOffset = tailOffset + pos;
        for (size_t i = 0; i < rec.tags.size(); ++i) PutTag(&tail, size_t(pos) + af::tag::kExtent * i, rec.tags[i]);
        pos += Blocks(int64_t(rec.tags.size()) * af::tag::kExtent) * kBlock;
    }
    const std::vector<int64_t> lengths = SweepLengths(rec);
    if (HasSynch(rec) && !lengths.empty()) {
        const std::vector<int64_t> starts = SweepStarts(rec);
        *synchOffset = tailOffset + pos;
        const int64_t nch = int64_t(rec.channels.size());
        for (size_t i = 0; i < lengths.size(); ++i) {
            const size_t at = size_t(pos) + af::synch_entry::kExtent * i;
            tail.Put(at, af::synch_entry::lStart, int32_t(starts[i]));
            tail.Put(at, af::synch_entry::lLength, int32_t(lengths[i] * nch));
        }
        pos += Blocks(int64_t(lengths.size()) * af::synch_entry::kExtent) * kBlock;
    }
    tail.Grow(size_t(pos));
    return tail;
}

int64_t SectionOffset(const Layout& layout, const std::string& name)
{
    if (name.empty() || name == "file") return 0;
    if (name == "end") return layout.fileSize;
    for (const SectionInfo& s : layout.sections)
        if (s.name == name) return s.offset;
    return -1;
}

bool PlanLayout(const RecordingSpec& rec, Layout* layout, std::string* error)
{
    FilePlan plan;
    if (!Plan(rec, &plan, error)) return false;
    *layout = plan.layout;
    return true;
}

bool WriteAbf(const RecordingSpec& rec, const std::string& path, std::string* error, Layout* layout)
{
    FilePlan plan;
    if (!Plan(rec, &plan, error)) return false;
    {
        std::vector<char> buffer(1 << 20);  // outlives the stream that uses it
        std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
        if (!f) return Fail(error, "cannot create \"" + path + "\"");
        std::setvbuf(f.get(), buffer.data(), _IOFBF, buffer.size());
        plan.head.Grow(size_t(plan.dataOffset));
        bool ok = WriteAll(f.get(), plan.head.b.data(), size_t(plan.dataOffset));
        std::string streamError;
        ok = ok && StreamData(rec, f.get(), &streamError);
        ok = ok && WriteAll(f.get(), plan.tail.b.data(), plan.tail.b.size());
        ok = ok && std::fflush(f.get()) == 0;
        ok = std::fclose(f.release()) == 0 && ok;
        if (!ok) {
            // A half-written recording would pass for a damaged one: remove it.
            std::remove(path.c_str());
            return Fail(error, streamError.empty() ? "write error in \"" + path + "\"" : streamError);
        }
    }
    if (!ApplyDamage(rec, plan.layout, path, error)) return false;
    if (layout) *layout = plan.layout;
    return true;
}

}  // namespace abfw
