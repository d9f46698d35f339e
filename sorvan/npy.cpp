// NumPy .npy files (format 1.0): one array per channel (and per stimulus channel),
// episodes x samples in C order, little-endian float32 (float64 with --double).
// A gap-free channel is one row. Rows of episodes shorter than the longest are
// filled up with NaN. The shape is known from the header before the first
// sample, so every row streams straight from the library's reads.
#include <algorithm>
#include <limits>

#include <fmt/format.h>

#include "sorvan/export.h"

namespace sorvan {

namespace {

// The header (magic, version, length, dictionary) padded with blanks and a line
// break to a multiple of 64 bytes, as numpy writes it.
std::string Header(bool asDouble, std::size_t rows, uint64_t columns)
{
    std::string dict = fmt::format("{{'descr': '{}', 'fortran_order': False, 'shape': ({}, {}), }}",
                                   asDouble ? "<f8" : "<f4", rows, columns);
    const std::size_t fixed = 10;
    const std::size_t total = (fixed + dict.size() + 1 + 63) / 64 * 64;
    dict.append(total - fixed - dict.size() - 1, ' ');
    dict += '\n';
    std::string h("\x93NUMPY\x01\x00", 8);
    h += static_cast<char>(dict.size() & 0xff);
    h += static_cast<char>(dict.size() >> 8);
    return h + dict;
}

class NpyWriter : public Writer {
public:
    bool Write(ExportJob& job, std::string* error) override
    {
        return job.EachGroup([&](const std::vector<WaveSpec>& group, char kind) {
            return WriteArray(job, group, fmt::format("{}_{}{}.npy", job.stem, kind, group.front().logical), error);
        });
    }

private:
    bool WriteArray(ExportJob& job, const std::vector<WaveSpec>& waves, const std::string& name, std::string* error)
    {
        uint64_t columns = 0;
        for (const WaveSpec& w : waves) columns = std::max(columns, w.points);
        OutputFile out;
        if (!job.Create(name, &out, error)) return false;
        const std::string header = Header(job.asDouble, waves.size(), columns);
        out.Reserve(header.size() + waves.size() * columns * (job.asDouble ? sizeof(double) : sizeof(float)));
        out.Write(header);
        for (const WaveSpec& w : waves) {
            const bool ok = job.Stream(w, buffer_, error, [&](const float* v, uint32_t n) {
                if (!job.asDouble) return out.Write(v, n * sizeof(float));
                widened_.assign(v, v + n);
                return out.Write(widened_.data(), n * sizeof(double));
            });
            if (!ok) return false;
            if (!Pad(job, &out, columns - w.points)) break;
        }
        return job.Finish(&out, error);
    }

    bool Pad(ExportJob& job, OutputFile* out, uint64_t count)
    {
        for (; count > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, 4096));
            bool ok;
            if (job.asDouble) {
                widened_.assign(n, std::numeric_limits<double>::quiet_NaN());
                ok = out->Write(widened_.data(), n * sizeof(double));
            } else {
                buffer_.assign(n, std::numeric_limits<float>::quiet_NaN());
                ok = out->Write(buffer_.data(), n * sizeof(float));
            }
            if (!ok) return false;
            count -= n;
        }
        return true;
    }

    std::vector<float> buffer_;
    std::vector<double> widened_;
};

}  // namespace

std::unique_ptr<Writer> MakeNpyWriter() { return std::make_unique<NpyWriter>(); }

}  // namespace sorvan
