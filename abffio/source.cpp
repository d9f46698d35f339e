// Random access to a file's bytes, from a stdio stream or from memory, and the test
// control that makes the file layer fail as a disk, a network share or a file changed
// under the reader would.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#endif

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

#if defined(_WIN32)
HANDLE AsHandle(intptr_t file) { return reinterpret_cast<HANDLE>(file); }
#endif

// Up to n bytes at `off`, as many as the file has there: *got receives how many were
// read (fewer at its end). False when the system reported an error.
bool PositionedRead(intptr_t file, uint64_t off, uint8_t* dst, uint64_t n, uint64_t* got)
{
    *got = 0;
    while (*got < n) {
        // (At most 1 GiB a call: both systems take a byte count of 32 bits or less.)
        const uint64_t want = std::min<uint64_t>(n - *got, uint64_t(1) << 30);
        const uint64_t at = off + *got;
#if defined(_WIN32)
        OVERLAPPED o = {};
        o.Offset = static_cast<DWORD>(at);
        o.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD done = 0;
        if (!ReadFile(AsHandle(file), dst + *got, static_cast<DWORD>(want), &done, &o))
            return GetLastError() == ERROR_HANDLE_EOF;
#else
        const ssize_t done =
            pread(static_cast<int>(file), dst + *got, static_cast<size_t>(want), static_cast<off_t>(at));
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
#endif
        if (done == 0) return true;
        *got += static_cast<uint64_t>(done);
    }
    return true;
}

}  // namespace

std::unique_ptr<Source> Source::Open(const char* name)
{
    std::unique_ptr<Source> s(new (std::nothrow) Source());
    if (!s) return nullptr;
#if defined(_WIN32)
    // Shared as the C library's fopen shares: a file the recording program still
    // writes can be read. (A folder is not opened without backup semantics.)
    const HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    s->file_ = reinterpret_cast<intptr_t>(h);
    s->isFile_ = true;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size) || size.QuadPart < 0) return nullptr;
    s->size_ = static_cast<uint64_t>(size.QuadPart);
#else
    const int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    s->file_ = fd;
    s->isFile_ = true;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return nullptr;
    s->size_ = static_cast<uint64_t>(st.st_size);
#endif
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
    if (!isFile_) return;
#if defined(_WIN32)
    CloseHandle(AsHandle(file_));
#else
    close(static_cast<int>(file_));
#endif
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
    if (off + n <= headSize_) {
        memcpy(dst, head_.get() + off, static_cast<size_t>(n));
        return true;
    }
    return ReadAt(off, dst, n);
}

bool Source::LoadHead(uint64_t n)
{
    n = std::min(n, size_);
    if (mem_ || n <= headSize_) return true;
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[static_cast<size_t>(n)]);
    if (!grown) return false;
    if (headSize_) memcpy(grown.get(), head_.get(), static_cast<size_t>(headSize_));
    if (!ReadAt(headSize_, grown.get() + headSize_, n - headSize_)) return false;
    head_ = std::move(grown);
    headSize_ = n;
    return true;
}

void Source::TrimHead(uint64_t n, uint64_t keep)
{
    // (The memory stays: only the bytes answered from it are fewer.)
    headSize_ = std::min(headSize_, std::max(n, keep));
}

// One transfer from the file (the only place the library reads a file; the read
// faults of the test control strike here).
bool Source::ReadAt(uint64_t off, void* dst, uint64_t n)
{
    const Transfer t = Fault(this, off, n);
    // A transfer that ends early (end of file: the file shrank; or a read error) fails
    // whole: the caller never sees part of what it asked for as if it were all.
    uint64_t got = 0;
    if (!PositionedRead(file_, off, static_cast<uint8_t*>(dst), t.deliver, &got)) return Failed(true);
    if (got != t.deliver) return Failed(false);
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
