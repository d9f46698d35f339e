// The subcommands. Each returns the process's exit status: 0 done, 1 when an
// input could not be handled (the others still are), 2 for a usage error.
#pragma once

#include <string>
#include <vector>

namespace sorvan {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

struct InfoOptions {
    std::vector<std::string> files;
    bool brief = false;
    bool json = false;
};
int RunInfo(const InfoOptions& options);

struct HeaderOptions {
    std::string file;
    std::vector<std::string> keys;
    bool json = false;
};
int RunHeader(const HeaderOptions& options);

struct ExportOptions {
    std::vector<std::string> files;
    std::string format;
    std::string channels = "all";
    std::string episodes = "all";
    bool stimulus = false;
    bool asDouble = false;
    std::string utcOffset;  // nwb: +HH:MM, -HH:MM or Z; empty: the machine's zone
    std::string folder = ".";
};
int RunExport(const ExportOptions& options);

struct PlotOptions {
    std::string file;
    int channel = 0;
    std::string episodes = "all";
    std::string output;  // empty: FILE's name with .png, in the current folder
    int width = 1200, height = 800;
};
int RunPlot(const PlotOptions& options);
// False when this build draws no pictures.
bool PlotAvailable();

// One line on stderr about an input: "sorvan: PATH: text", or "sorvan: text"
// when the text names the file already (the library's texts do).
void Complain(const std::string& path, const std::string& text);

}  // namespace sorvan
