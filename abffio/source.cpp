// Random access to a file's bytes, from a stdio stream or from memory, and the test
// control that makes the file layer fail as a disk, a network share or a file changed
// under the reader would.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "internal.h"

namespace abffio {
namespace {

// The pending fault of ABFTest_InjectReadFault: it strikes at the file read number
// `remaining` + 1 (counting reads of opened files, not of memory), once.
struct ReadFault {
    int32_t kind = kAbfReadFaultNone;
    int32_t remaining = 0;
    int32_t bytes = 0;
};
ReadFault g_fault;
int32_t g_fileReads = 0;
// The control's state: every transfer of every file counts and may meet the fault,
// from whichever thread reads.
std::mutex g_faultLock;

// A file whose end moved under the reader (kAbfReadFaultShrink, kAbfReadFaultGrow):
// what the system now reports for that one source, until it is closed.
struct ChangedFile {
    const Source* src = nullptr;
    int32_t kind = kAbfReadFaultNone;
    uint64_t end = 0;  // the file's new end
};
ChangedFile g_changed;

// What a grown file's first block reads as once the recording program has rewritten
// its header. (Past the end the open saw, nothing is ever read.)
constexpr uint8_t kRewrittenByte = 0x7F;
constexpr uint64_t kHeaderBlock = 512;

// What the system does with one transfer of n bytes at `off` from `src`.
struct Transfer {
    uint64_t deliver;  // bytes it delivers
    bool ioError;      // and then reports a read error
    bool rewritten;    // the header block reads as rewritten
};

Transfer Fault(const Source* src, uint64_t off, uint64_t n)
{
    Transfer t = {n, false, false};
    std::lock_guard<std::mutex> lock(g_faultLock);
    ++g_fileReads;
    if (g_fault.kind != kAbfReadFaultNone && g_fault.remaining-- == 0) {
        const ReadFault f = g_fault;
        g_fault = ReadFault();
        const uint64_t bytes = f.bytes < 0 ? 0 : static_cast<uint64_t>(f.bytes);
        switch (f.kind) {
        case kAbfReadFaultIoError: return {bytes < n ? bytes : n, true, false};
        case kAbfReadFaultShort: return {bytes < n ? bytes : n, false, false};
        case kAbfReadFaultShrink: g_changed = {src, f.kind, bytes}; break;
        case kAbfReadFaultGrow: g_changed = {src, f.kind, src->Size() + bytes}; break;
        default: break;
        }
    }
    if (g_changed.src != src) return t;
    if (g_changed.kind == kAbfReadFaultShrink)
        t.deliver = off >= g_changed.end ? 0 : (g_changed.end - off < n ? g_changed.end - off : n);
    else
        t.rewritten = off < kHeaderBlock;
    return t;
}

}  // namespace

std::unique_ptr<Source> Source::FromFile(FILE* f, uint64_t size)
{
    std::unique_ptr<Source> s(new Source());
    s->file_ = f;
    s->size_ = size;
    return s;
}

std::unique_ptr<Source> Source::FromMemory(const uint8_t* data, uint64_t size)
{
    std::unique_ptr<Source> s(new Source());
    s->mem_ = data;
    s->size_ = size;
    return s;
}

Source::~Source()
{
    {
        std::lock_guard<std::mutex> lock(g_faultLock);
        if (g_changed.src == this) g_changed = ChangedFile();
    }
    if (file_) fclose(file_);
}

bool Source::Read(uint64_t off, void* dst, uint64_t n)
{
    // The size is the one the open saw: every decision of the open (episodes, sections)
    // was made against it, and a file that grew since is read as it was then.
    if (off > size_ || n > size_ - off) return false;
    if (n == 0) return true;
    if (mem_) {
        memcpy(dst, mem_ + off, static_cast<size_t>(n));
        return true;
    }
    if (off + n <= head_.size()) {
        memcpy(dst, head_.data() + off, static_cast<size_t>(n));
        return true;
    }
    return ReadAt(off, dst, n);
}

bool Source::LoadHead(uint64_t n)
{
    n = std::min(n, size_);
    const size_t have = head_.size();
    if (mem_ || n <= have) return true;
    head_.resize(static_cast<size_t>(n));
    if (ReadAt(have, head_.data() + have, n - have)) return true;
    head_.resize(have);
    return false;
}

// One transfer from the file (the only place the library reads a file; the read
// faults of the test control strike here).
bool Source::ReadAt(uint64_t off, void* dst, uint64_t n)
{
    const Transfer t = Fault(this, off, n);
#if defined(_WIN32)
    if (_fseeki64(file_, static_cast<long long>(off), SEEK_SET) != 0) return Failed(true);
#else
    if (fseeko(file_, static_cast<off_t>(off), SEEK_SET) != 0) return Failed(true);
#endif
    // A transfer that ends early (end of file: the file shrank; or a read error) fails
    // whole: the caller never sees part of what it asked for as if it were all.
    const size_t got = fread(dst, 1, static_cast<size_t>(t.deliver), file_);
    if (got != t.deliver) return Failed(ferror(file_) != 0);
    if (t.ioError || t.deliver < n) return Failed(t.ioError);
    if (t.rewritten) {
        // The bytes a reader that looked again at the header would now find.
        uint8_t* p = static_cast<uint8_t*>(dst);
        for (uint64_t i = off; i < off + n && i < kHeaderBlock; ++i) p[i - off] = kRewrittenByte;
    }
    return true;
}

bool Source::Failed(bool ioError)
{
    ioError_ = ioError_ || ioError;
    if (file_) clearerr(file_);
    return false;
}

}  // namespace abffio

int32_t ABF_API ABFTest_InjectReadFault(int32_t kind, int32_t afterReads, int32_t bytes)
{
    std::lock_guard<std::mutex> lock(abffio::g_faultLock);
    abffio::g_fault = {kind, afterReads < 0 ? 0 : afterReads, bytes};
    if (kind == kAbfReadFaultNone) abffio::g_changed = abffio::ChangedFile();
    return abffio::g_fileReads;
}
