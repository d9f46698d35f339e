// CSV: a header row, then one row per sample time. A gap-free recording gives one
// file with a column per channel, streamed read by read; an episodic one gives a
// file per channel (and per stimulus channel) with a column per episode, which
// needs that channel's episodes at hand to write a row. Shorter episodes leave
// their cells empty.
#include <algorithm>

#include <fmt/format.h>

#include "sorvan/export.h"

namespace sorvan {

namespace {

constexpr std::size_t kFlushAt = 1 << 20;

// A field quoted when it holds a separator, a quote or a line break.
std::string Field(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string q = "\"";
    for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string Heading(const WaveSpec& w) { return Field(w.units.empty() ? w.name : w.name + " (" + w.units + ")"); }

class CsvWriter : public Writer {
public:
    bool Write(ExportJob& job, std::string* error) override
    {
        if (job.rec->GapFree()) return WriteGapFree(job, error);
        return job.EachGroup([&](const std::vector<WaveSpec>& group, char kind) {
            return WriteEpisodes(job, group, fmt::format("{}_{}{}.csv", job.stem, kind, group.front().logical), error);
        });
    }

private:
    void Value(ExportJob& job, float v)
    {
        if (job.asDouble)
            AppendNumber(&text_, static_cast<double>(v));
        else
            AppendNumber(&text_, v);
    }

    void Time(uint64_t i, double step) { AppendNumber(&text_, static_cast<double>(i) * step); }

    bool Flush(OutputFile* out, bool always)
    {
        if (!always && text_.size() < kFlushAt) return true;
        const bool ok = out->Write(text_);
        text_.clear();
        return ok;
    }

    bool WriteGapFree(ExportJob& job, std::string* error)
    {
        std::vector<const WaveSpec*> columns;
        for (const auto& group : job.data) columns.push_back(&group.front());
        OutputFile out;
        if (!job.Create(job.stem + ".csv", &out, error)) return false;
        text_ = "time (s)";
        for (const WaveSpec* w : columns) text_ += "," + Heading(*w);
        text_ += "\n";
        const uint32_t blockSize = job.MaxBlock();
        std::vector<std::vector<float>> blocks(columns.size(), std::vector<float>(blockSize));
        const WaveSpec& first = *columns.front();
        uint64_t row = 0;
        for (uint32_t k = 0; k < job.Blocks(first); ++k) {
            uint32_t n = 0;
            for (std::size_t c = 0; c < columns.size(); ++c) {
                uint32_t count = 0;
                if (!job.ReadBlock(*columns[c], k, blocks[c].data(), &count, error)) return false;
                if (c > 0 && count != n) {
                    *error = fmt::format("read {} gave the channels different sample counts", k + 1);
                    return false;
                }
                n = count;
            }
            if (row + n > first.points) break;
            for (uint32_t i = 0; i < n; ++i, ++row) {
                Time(row, first.xStep);
                for (std::size_t c = 0; c < columns.size(); ++c) {
                    text_ += ',';
                    Value(job, blocks[c][i]);
                }
                text_ += '\n';
            }
            if (!Flush(&out, false)) break;
        }
        if (row != first.points) {
            *error =
                fmt::format("the library delivered {} samples per channel where the header has {}", row, first.points);
            return false;
        }
        Flush(&out, true);
        return job.Finish(&out, error);
    }

    bool WriteEpisodes(ExportJob& job, const std::vector<WaveSpec>& waves, const std::string& name, std::string* error)
    {
        std::vector<std::vector<float>> columns;
        std::size_t rows = 0;
        for (const WaveSpec& w : waves) {
            std::vector<float> values;
            values.reserve(static_cast<std::size_t>(w.points));
            if (!job.Stream(w, buffer_, error, [&](const float* v, uint32_t n) {
                    values.insert(values.end(), v, v + n);
                    return true;
                }))
                return false;
            rows = std::max(rows, values.size());
            columns.push_back(std::move(values));
        }
        OutputFile out;
        if (!job.Create(name, &out, error)) return false;
        text_ = "time (s)";
        for (const WaveSpec& w : waves) text_ += "," + Heading(w);
        text_ += "\n";
        for (std::size_t i = 0; i < rows; ++i) {
            Time(i, waves.front().xStep);
            for (const auto& column : columns) {
                text_ += ',';
                if (i < column.size()) Value(job, column[i]);
            }
            text_ += '\n';
            if (!Flush(&out, false)) break;
        }
        Flush(&out, true);
        return job.Finish(&out, error);
    }

    std::vector<float> buffer_;
    std::string text_;
};

}  // namespace

std::unique_ptr<Writer> MakeCsvWriter() { return std::make_unique<CsvWriter>(); }

}  // namespace sorvan
