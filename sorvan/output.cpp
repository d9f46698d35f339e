#include "sorvan/output.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#define SORVAN_ISATTY(fd) _isatty(fd)
#define SORVAN_GETPID() _getpid()
#else
#include <fcntl.h>
#include <unistd.h>
#define SORVAN_ISATTY(fd) isatty(fd)
#define SORVAN_GETPID() getpid()
#endif

namespace sorvan {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int)
{
    interrupted = 1;
    // A second Ctrl+C ends the program at once, the usual way.
    std::signal(SIGINT, SIG_DFL);
}

// Large enough that a block of samples goes out in one write.
constexpr std::size_t kWriteBuffer = 1 << 20;

}  // namespace

void InstallInterruptHandler() { std::signal(SIGINT, OnInterrupt); }

bool Interrupted() { return interrupted != 0; }

OutputFile::~OutputFile()
{
    if (file_) {
        std::fclose(file_);
        std::remove(temp_.c_str());
    }
}

bool OutputFile::Create(const std::string& path, std::string* error)
{
    namespace fs = std::filesystem;
    path_ = path;
    const fs::path p(path);
    temp_ = (p.parent_path() / ("." + p.filename().string() + "." + std::to_string(SORVAN_GETPID()) + ".tmp")).string();
    file_ = std::fopen(temp_.c_str(), "wb");
    if (!file_) {
        *error = "cannot write " + temp_ + ": " + std::strerror(errno);
        return false;
    }
    buffer_.resize(kWriteBuffer);
    std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
    return true;
}

namespace {

// Sets the blocks allocated to an open file; past its end they leave its size alone.
bool SetAllocation(std::FILE* file, uint64_t bytes)
{
#if defined(_WIN32)
    FILE_ALLOCATION_INFO info;
    info.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return SetFileInformationByHandle(h, FileAllocationInfo, &info, sizeof info) != 0;
#elif defined(__linux__)
    return fallocate(fileno(file), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes)) == 0;
#else
    (void)file;
    (void)bytes;
    return false;
#endif
}

}  // namespace

void OutputFile::Reserve(uint64_t bytes)
{
    if (file_ && SetAllocation(file_, bytes)) reserved_ = bytes;
}

bool OutputFile::Write(const void* data, std::size_t bytes)
{
    // Long text outputs are written well after their last read: Ctrl+C stops them here.
    if (!failed_ && Interrupted()) {
        failed_ = true;
        errno_ = EINTR;
    }
    if (failed_) return false;
    if (bytes && std::fwrite(data, 1, bytes, file_) != bytes) {
        failed_ = true;
        errno_ = errno;
    }
    written_ += bytes;
    return !failed_;
}

bool OutputFile::Close(std::string* error)
{
    if (!file_) return false;
    if (std::fflush(file_) != 0 && !failed_) {
        failed_ = true;
        errno_ = errno;
    }
    // Blocks reserved past what was written (a shorter file than announced) go back.
#if defined(_WIN32)
    if (!failed_ && written_ < reserved_) SetAllocation(file_, written_);
#else
    if (!failed_ && written_ < reserved_ && ftruncate(fileno(file_), static_cast<off_t>(written_)) != 0) {
        failed_ = true;
        errno_ = errno;
    }
#endif
    if (std::fclose(file_) != 0 && !failed_) {
        failed_ = true;
        errno_ = errno;
    }
    file_ = nullptr;
    if (failed_) {
        std::remove(temp_.c_str());
        *error = "cannot write " + path_ + ": " + std::strerror(errno_);
        return false;
    }
    return true;
}

bool OutputGroup::Commit(std::string* error)
{
    namespace fs = std::filesystem;
    for (std::size_t i = 0; i < files_.size(); ++i) {
        std::error_code ec;
        fs::rename(files_[i].temp, files_[i].final, ec);
        if (ec) {
            *error = "cannot rename " + files_[i].temp + " to " + files_[i].final + ": " + ec.message();
            // The files already renamed are whole; the rest go.
            files_.erase(files_.begin(), files_.begin() + static_cast<std::ptrdiff_t>(i));
            Discard();
            return false;
        }
    }
    files_.clear();
    return true;
}

void OutputGroup::Discard()
{
    for (const Names& n : files_) std::remove(n.temp.c_str());
    files_.clear();
}

bool Progress::StderrIsTerminal() { return SORVAN_ISATTY(2) != 0; }

void Progress::Start(const std::string& label, uint64_t total)
{
    label_ = label;
    total_ = total;
    done_ = 0;
    shown_ = -1;
    Draw();
}

void Progress::Advance(uint64_t done)
{
    done_ += done;
    Draw();
}

void Progress::Draw()
{
    if (!enabled_) return;
    const int percent = total_ ? static_cast<int>(done_ * 100 / total_) : 100;
    if (percent == shown_) return;
    shown_ = percent;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');
    std::string label = label_;
    if (label.size() > 40) label = "..." + label.substr(label.size() - 37);
    // Padded to the width of any earlier line, so no terminal escapes are needed.
    std::fprintf(stderr, "\r[%s] %3d%% %-40s", bar.c_str(), percent, label.c_str());
    std::fflush(stderr);
}

void Progress::Finish()
{
    if (!enabled_ || shown_ < 0) return;
    std::fprintf(stderr, "\r%78s\r", "");
    std::fflush(stderr);
    shown_ = -1;
}

}  // namespace sorvan
