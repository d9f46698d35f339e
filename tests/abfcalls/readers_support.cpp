#include "readers_support.h"

#include <cstring>

#include "tests/support/library_file.h"
#include "tools/abfcompare/sha256.h"

namespace readertest {

DirectFile OpenDirect(const std::string& path)
{
    kavtest::LibraryFile f(path);
    DirectFile d;
    d.ok = f.ok;
    d.error = f.error;
    d.sampleLimit = f.sampleLimit;
    d.episodes = f.episodes;
    if (d.ok) std::memcpy(&d.header, f.header(), sizeof d.header);
    return d;
}

namespace {
// Opens, reads the given episodes of a channel appended, closes.
std::vector<float> Read(const std::string& path, int32_t physical, uint32_t first, uint32_t last)
{
    kavtest::LibraryFile f(path);
    std::vector<float> out;
    if (!f.ok) return out;
    if (last == 0) last = f.episodes;
    std::vector<float> buffer(f.sampleLimit);
    for (uint32_t e = first; e <= last; ++e) {
        uint32_t n = 0;
        int32_t error = 0;
        if (!ABF_ReadChannel(f.handle, f.header(), physical, e, buffer.data(), &n, &error)) {
            out.clear();
            break;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    return out;
}
}  // namespace

std::vector<float> ReadDirect(const std::string& path, int32_t physical, uint32_t episode)
{
    return Read(path, physical, episode, episode);
}

std::vector<float> ReadChannelDirect(const std::string& path, int32_t physical) { return Read(path, physical, 1, 0); }

std::map<std::string, std::string> ParseNote(const std::string& note)
{
    std::map<std::string, std::string> out;
    size_t at = 0;
    while (at < note.size()) {
        const size_t semi = note.find(';', at);
        const size_t eq = note.find('=', at);
        if (semi == std::string::npos || eq == std::string::npos || eq > semi) {
            out["!"] = note.substr(at);
            break;
        }
        out[note.substr(at, eq - at)] = note.substr(eq + 1, semi - eq - 1);
        at = semi + 1;
    }
    return out;
}

std::string Sha256Floats(const float* values, size_t count)
{
    return abfcompare::Sha256Hex(values, count * sizeof(float));
}

std::vector<float> WaveFloats(const Wave* w)
{
    std::vector<float> out(static_cast<size_t>(w->Points()));
    if (w->Type() == kWaveFloat32) {
        if (!out.empty()) std::memcpy(out.data(), w->Data(), out.size() * sizeof(float));
    } else {
        for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<float>(w->As<double>()[i]);
    }
    return out;
}

std::string WriteRecording(const abfw::RecordingSpec& rec, const std::string& name)
{
    const std::string path = querytest::ScratchFile("readers_" + name);
    std::string error;
    if (!abfw::WriteAbf(rec, path, &error)) {
        ADD_FAILURE() << "cannot write " << name << ": " << error;
        return "";
    }
    return path;
}

abfw::RecordingSpec GapFreeRecording(int channels, int64_t samples)
{
    abfw::RecordingSpec rec;
    rec.mode = abfw::Mode::GapFree;
    rec.dataFormat = abfw::DataFormat::Float32;
    for (int c = 0; c < channels; ++c) {
        abfw::Channel ch;
        ch.physical = static_cast<int16_t>(2 * c);
        ch.name = "in" + std::to_string(c);
        ch.units = c % 2 ? "pA" : "mV";
        rec.channels.push_back(ch);
    }
    rec.samplesPerChannel = samples;
    rec.source = abfw::SignalSource::Values;
    rec.values.resize(static_cast<size_t>(samples * channels));
    for (size_t i = 0; i < rec.values.size(); ++i) rec.values[i] = static_cast<float>(i) * 0.25f - 1000.0f;
    return rec;
}

void ReaderTest::Mark()
{
    ABFTest_InjectFault(110, kMark, 0);
    Call("kav_AbfHasData", {kavhost::Str(querytest::ScratchFile("readers_mark.abf"))});
    ASSERT_EQ(LastErr(), kMark);
}

}  // namespace readertest
