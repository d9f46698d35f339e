// Igor text files: one .itx per recording holding all its waves, each a WAVES
// block of one value per line, then the commands that set its X scaling, data
// units and note. Igor executes the "X" lines, so strings are escaped as its
// command language wants them and long notes go in pieces that fit a command
// line of any Igor version.
#include <fmt/format.h>

#include "sorvan/export.h"

namespace sorvan {

namespace {

// Characters of one note piece; with the command around it a line stays below
// the 400 characters older Igor versions take.
constexpr std::size_t kNotePiece = 160;
// Text collected before it goes to the file.
constexpr std::size_t kFlushAt = 1 << 20;

// A string literal of Igor's command language.
std::string Quoted(const std::string& text)
{
    std::string q = "\"";
    for (char c : text) {
        switch (c) {
        case '"': q += "\\\""; break;
        case '\\': q += "\\\\"; break;
        case '\r': q += "\\r"; break;
        case '\n': q += "\\n"; break;
        case '\t': q += "\\t"; break;
        default: q += c;
        }
    }
    return q + "\"";
}

std::string Scaling(const std::string& name, double xStep, const std::string& units)
{
    std::string step;
    AppendNumber(&step, xStep);
    return fmt::format("X SetScale/P x 0,{},\"s\", {}; SetScale d 0,0,{}, {}\n", step, name, Quoted(units), name);
}

std::string NoteCommands(const std::string& name, const std::string& note)
{
    std::string out;
    for (std::size_t at = 0; at < note.size(); at += kNotePiece) {
        const char* command = at == 0 ? "X Note/K " : "X Note/NOCR ";
        out += command + name + ", " + Quoted(note.substr(at, kNotePiece)) + "\n";
    }
    return out;
}

class ItxWriter : public Writer {
public:
    bool Write(ExportJob& job, std::string* error) override
    {
        OutputFile out;
        if (!job.Create(job.stem + ".itx", &out, error)) return false;
        out.Write("IGOR\n");
        if (!job.EachWave([&](const WaveSpec& w) { return WriteWave(job, w, &out, error); })) return false;
        if (!job.tags.empty()) WriteTags(job, &out);
        return job.Finish(&out, error);
    }

private:
    bool WriteWave(ExportJob& job, const WaveSpec& w, OutputFile* out, std::string* error)
    {
        text_ = fmt::format("WAVES/{}/O {}\nBEGIN\n", job.asDouble ? "D" : "S", w.name);
        const bool ok = job.Stream(w, buffer_, error, [&](const float* v, uint32_t n) {
            for (uint32_t i = 0; i < n; ++i) {
                text_ += '\t';
                if (job.asDouble)
                    AppendNumber(&text_, static_cast<double>(v[i]));
                else
                    AppendNumber(&text_, v[i]);
                text_ += '\n';
            }
            if (text_.size() < kFlushAt) return true;
            const bool written = out->Write(text_);
            text_.clear();
            return written;
        });
        if (!ok) return false;
        text_ += "END\n";
        text_ += Scaling(w.name, w.xStep, w.units);
        if (!w.note.empty()) text_ += NoteCommands(w.name, w.note);
        return out->Write(text_);
    }

    void WriteTags(ExportJob& job, OutputFile* out)
    {
        std::string t = fmt::format("WAVES/D/O {}\nBEGIN\n", job.tagTimesName);
        for (const Tag& tag : job.tags) {
            t += '\t';
            AppendNumber(&t, tag.seconds);
            t += '\n';
        }
        t += "END\n";
        t += fmt::format("X SetScale d 0,0,\"s\", {}\n", job.tagTimesName);
        t += fmt::format("WAVES/T/O {}\nBEGIN\n", job.tagTextName);
        for (const Tag& tag : job.tags) t += "\t" + Quoted(tag.comment) + "\n";
        t += "END\n";
        out->Write(t);
    }

    std::vector<float> buffer_;
    std::string text_;
};

}  // namespace

std::unique_ptr<Writer> MakeItxWriter() { return std::make_unique<ItxWriter>(); }

}  // namespace sorvan
