// NWB files (Neurodata Without Borders): one a recording, NAME.nwb, written by
// the NWB writer (nwb/) under a temporary name and renamed with the recording's
// other outputs. The channels and episodes are those the user chose.
#include <filesystem>

#include "nwb/nwb.h"
#include "sorvan/export.h"

namespace sorvan {

namespace {

class NwbWriter : public Writer {
public:
    bool Write(ExportJob& job, std::string* error) override
    {
        namespace fs = std::filesystem;
        const std::string path = (fs::path(job.folder) / fs::path(job.rec->Path()).stem()).string() + ".nwb";
        if (!job.written->insert(path).second) {
            *error = path + " was already written by an earlier input of this run (two inputs of the same name?)";
            return false;
        }
        nwb::Options o;
        for (const auto& waves : job.data) o.channels.push_back(waves.front().logical);
        if (!job.rec->GapFree())
            for (const WaveSpec& w : job.data.front()) o.episodes.push_back(w.episode);
        o.utcOffsetGiven = job.utcOffsetGiven;
        o.utcOffsetMinutes = job.utcOffsetMinutes;
        o.program = std::string("sorvan ") + SORVAN_VERSION;
        bool started = false;
        o.progress = [&](uint64_t, uint64_t total) {
            if (!started) job.progress->Start(job.rec->Path(), total);
            started = true;
            job.progress->Advance();
            return !Interrupted();
        };
        const std::string temp = nwb::TemporaryPath(path);
        if (!nwb::Write(*job.rec, temp, o, error)) return false;
        job.group->Add(temp, path);
        return true;
    }
};

}  // namespace

std::unique_ptr<Writer> MakeNwbWriter() { return std::make_unique<NwbWriter>(); }

}  // namespace sorvan
