// Output files that appear whole or not at all, the interrupt flag the export
// loops poll, and the progress bar.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sorvan {

// Set once SIGINT (or Ctrl+C on Windows) arrives; the export loops poll it after
// every block and clean up before the process ends.
void InstallInterruptHandler();
bool Interrupted();

// A file written under a temporary name in its folder (".NAME.PID.tmp", hidden,
// and matched by no glob for NAME's extension) through a large buffer. A group of
// them is committed together: every file of one input is renamed to its final
// name only when all of them are complete, and removed when anything fails.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::string& path, std::string* error);
    // A hint that the file will hold at least `bytes`: where the file system can,
    // its blocks are allocated in one step (ext4 otherwise reserves them page by
    // page, which costs as much as copying the data). What is not used is given
    // back at Close. Failure is ignored; the writes then allocate as usual.
    void Reserve(uint64_t bytes);
    bool Write(const void* data, std::size_t bytes);
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    // Flushes and closes; false (with the reason) when the file is not whole.
    bool Close(std::string* error);
    bool Failed() const { return failed_; }
    const std::string& Path() const { return path_; }
    const std::string& TempPath() const { return temp_; }

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string temp_;
    std::vector<char> buffer_;
    uint64_t written_ = 0;
    uint64_t reserved_ = 0;
    bool failed_ = false;
    int errno_ = 0;
};

// The temporary files of one input, renamed together.
class OutputGroup {
public:
    ~OutputGroup() { Discard(); }
    // Takes a closed file's names.
    void Add(const OutputFile& file) { files_.push_back({file.TempPath(), file.Path()}); }
    // Takes a file another writer made under `temp`, to be renamed to `final`.
    void Add(const std::string& temp, const std::string& final) { files_.push_back({temp, final}); }
    bool Commit(std::string* error);
    void Discard();

private:
    struct Names {
        std::string temp, final;
    };
    std::vector<Names> files_;
};

// A one-line progress bar on stderr, shown only when stderr is a terminal.
class Progress {
public:
    explicit Progress(bool enabled) : enabled_(enabled) {}
    static bool StderrIsTerminal();
    void Start(const std::string& label, uint64_t total);
    void Advance(uint64_t done = 1);
    void Finish();

private:
    void Draw();
    bool enabled_;
    std::string label_;
    uint64_t total_ = 0, done_ = 0;
    int shown_ = -1;
};

}  // namespace sorvan
