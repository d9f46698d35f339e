// Random access to a file's bytes, from a stdio stream or from memory.
#include <algorithm>
#include <cstring>

#include "internal.h"

namespace abffio {

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
    if (file_) fclose(file_);
}

bool Source::Read(uint64_t off, void* dst, uint64_t n)
{
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

bool Source::ReadAt(uint64_t off, void* dst, uint64_t n)
{
#if defined(_WIN32)
    if (_fseeki64(file_, static_cast<long long>(off), SEEK_SET) != 0) return false;
#else
    if (fseeko(file_, static_cast<off_t>(off), SEEK_SET) != 0) return false;
#endif
    return fread(dst, 1, static_cast<size_t>(n), file_) == n;
}

}  // namespace abffio
