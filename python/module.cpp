// sorvan._sorvan: the reader (reader/recording.h) for Python. The package
// (python/sorvan/__init__.py) builds the user's interface on it; this module
// gives the recording's values as Python values and reads samples straight into
// NumPy arrays the package allocates, with the interpreter lock released.
//
// One lock per recording: the library reads one file from one thread at a time,
// and Python threads (a Dask scheduler's) may share a recording. The header's
// values never change after the open and are read without it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "nwb/nwb.h"
#include "reader/recording.h"

namespace py = pybind11;

namespace {

// Header texts are bytes of the file; every byte is one character, as the
// host's strings show them (Latin-1).
py::str Text(const std::string& s)
{
    return py::reinterpret_steal<py::str>(PyUnicode_DecodeLatin1(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr));
}

struct PyRecording {
    reader::Recording rec;
    std::mutex lock;
    std::string path;
};

// The package's exceptions (sorvan/_errors.py), with the file name, the library's
// error number (0: the reader's own refusal) and its text.
[[noreturn]] void Raise(const std::string& path, int32_t number, const std::string& text, bool missing = false)
{
    py::module_ errors = py::module_::import("sorvan._errors");
    py::object cls = errors.attr(missing ? "FileNotFound" : "Error");
    py::object e = cls(Text(text), number, Text(path));
    PyErr_SetObject(cls.ptr(), e.ptr());
    throw py::error_already_set();
}

// Runs `work` on the recording without the interpreter lock and with the
// recording's own; raises the recording's error when it returns false (taken
// while the lock is held: another thread's failure may follow at once).
template <typename Work>
void Locked(PyRecording& r, Work work)
{
    int32_t number = 0;
    std::string text;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(r.lock);
        if (work()) return;
        number = r.rec.ErrorNumber();
        text = r.rec.Error();
    }
    Raise(r.path, number, text);
}

const reader::Channel& ChannelAt(PyRecording& r, int64_t channel)
{
    const auto& channels = r.rec.Channels();
    if (channel < 0 || channel >= static_cast<int64_t>(channels.size()))
        throw py::index_error("channel " + std::to_string(channel) + " out of range (the recording has " +
                              std::to_string(channels.size()) + " channels)");
    return channels[static_cast<std::size_t>(channel)];
}

void CheckEpisode(PyRecording& r, int64_t episode)
{
    if (episode < 1 || episode > r.rec.Episodes())
        throw py::index_error("episode " + std::to_string(episode) + " out of range (the recording has episodes 1 to " +
                              std::to_string(r.rec.Episodes()) + ")");
}

// The memory of an array the package made for a read: C-contiguous, writeable,
// float32 or float64, of `size` elements.
struct Target {
    void* data;
    bool single;
};
Target TargetOf(py::array& a, int64_t size)
{
    const py::dtype d = a.dtype();
    const bool native = d.byteorder() == '=' || d.byteorder() == '<' || d.byteorder() == '|';
    if (d.kind() != 'f' || !native || (d.itemsize() != 4 && d.itemsize() != 8))
        throw py::type_error("the array must be float32 or float64");
    const bool single = d.itemsize() == 4;
    if (!(a.flags() & py::array::c_style) || !a.writeable())
        throw py::value_error("the array must be C-contiguous and writeable");
    if (a.size() != size)
        throw py::value_error("the array has " + std::to_string(a.size()) + " elements where " + std::to_string(size) +
                              " are read");
    return {a.mutable_data(), single};
}

// Stores n samples at element `at` of the target and fills `fill` more elements with
// NaN after them.
void Store(const Target& t, std::size_t at, const float* from, std::size_t n, std::size_t fill = 0)
{
    if (t.single) {
        float* to = std::copy(from, from + n, static_cast<float*>(t.data) + at);
        std::fill(to, to + fill, std::numeric_limits<float>::quiet_NaN());
    } else {
        double* to = std::copy(from, from + n, static_cast<double*>(t.data) + at);
        std::fill(to, to + fill, std::numeric_limits<double>::quiet_NaN());
    }
}

// A number of the key=value catalogue as a number: "%d" texts as int, "%f" and
// "%g" texts as float; anything else stays text.
py::object Number(const std::string& text)
{
    const char* s = text.c_str();
    char* end = nullptr;
    if (text.find_first_of(".eEnNiI") == std::string::npos) {
        const long long v = std::strtoll(s, &end, 10);
        if (end != s && *end == '\0') return py::int_(v);
    }
    const double d = std::strtod(s, &end);
    if (end != s && *end == '\0') return py::float_(d);
    return Text(text);
}

py::dict Header(const reader::Recording& rec)
{
    py::dict d;
    for (const reader::HeaderField& f : rec.HeaderFields()) {
        switch (f.kind) {
        case reader::HeaderField::kNumber: d[Text(f.key)] = Number(f.value); break;
        case reader::HeaderField::kText: d[Text(f.key)] = Text(f.value); break;
        case reader::HeaderField::kNumberList: {
            py::list l;
            for (const std::string& e : f.elements) l.append(Number(e));
            d[Text(f.key)] = l;
            break;
        }
        case reader::HeaderField::kTextList: {
            py::list l;
            for (const std::string& e : f.elements) l.append(Text(e));
            d[Text(f.key)] = l;
            break;
        }
        }
    }
    return d;
}

}  // namespace

PYBIND11_MODULE(_sorvan, m)
{
    m.doc() = "The compiled reader of the sorvan package; use the package (import sorvan), not this module.";

    py::class_<PyRecording>(m, "Recording", "An ABF recording opened through the ABF library (see sorvan.Recording).")
        // Made empty, then opened: an object whose open failed is still a whole one
        // (a traceback keeps it), with no channels and a header of zeros.
        .def(py::init<>())
        .def(
            "_open",
            [](PyRecording& r, const py::bytes& path) {
                r.path = path;
                bool ok;
                {
                    py::gil_scoped_release release;
                    std::lock_guard<std::mutex> lock(r.lock);
                    ok = r.rec.Open(r.path);
                }
                if (!ok) {
                    std::error_code ec;
                    const bool missing = r.rec.ErrorNumber() != 0 && !std::filesystem::exists(r.path, ec) && !ec;
                    Raise(r.path, r.rec.ErrorNumber(), r.rec.Error(), missing);
                }
            },
            py::arg("path"))
        .def(
            "close", [](PyRecording& r) { Locked(r, [&] { return r.rec.Close(); }); },
            "Gives the file back; the header's values stay readable. Closing again does nothing.")
        .def_property_readonly(
            "closed", [](PyRecording& r) { return !r.rec.IsOpen(); }, "True once the recording is closed.")
        .def_property_readonly("_mode", [](PyRecording& r) { return r.rec.Mode(); })
        .def_property_readonly("_gap_free", [](PyRecording& r) { return r.rec.GapFree(); })
        .def_property_readonly("_mode_name", [](PyRecording& r) { return reader::Recording::ModeName(r.rec.Mode()); })
        .def_property_readonly("_file_version", [](PyRecording& r) { return r.rec.FileVersion(); })
        .def_property_readonly("_float_data", [](PyRecording& r) { return r.rec.FloatData(); })
        .def_property_readonly("_episode_count", [](PyRecording& r) { return r.rec.Episodes(); })
        .def_property_readonly("_sample_limit", [](PyRecording& r) { return r.rec.SampleLimit(); })
        .def_property_readonly("_x_step", [](PyRecording& r) { return r.rec.XStep(); })
        .def_property_readonly("_start",
                               [](PyRecording& r) { return py::make_tuple(r.rec.StartDate(), r.rec.StartTimeMs()); })
        .def_property_readonly("_protocol", [](PyRecording& r) { return Text(r.rec.Protocol()); })
        .def_property_readonly("_creator", [](PyRecording& r) { return Text(r.rec.Creator()); })
        .def_property_readonly("_comment", [](PyRecording& r) { return Text(r.rec.Comment()); })
        .def_property_readonly(
            "_channels",
            [](PyRecording& r) {
                py::list l;
                for (const reader::Channel& c : r.rec.Channels())
                    l.append(py::make_tuple(c.logical, c.physical, Text(c.name), Text(c.units), Text(c.dacUnits)));
                return l;
            })
        .def("_channel_points",
             [](PyRecording& r) -> py::object {
                 int64_t points = 0;
                 if (!r.rec.ChannelPoints(&points)) return py::none();
                 return py::int_(points);
             })
        .def("_header", [](PyRecording& r) { return Header(r.rec); })
        .def("_header_string", [](PyRecording& r) { return Text(r.rec.HeaderString()); })
        .def("_header_pieces",
             [](PyRecording& r) {
                 py::list l;
                 for (const reader::HeaderField& f : r.rec.HeaderFields())
                     l.append(py::make_tuple(Text(f.key), Text(f.value)));
                 return l;
             })
        .def("_episode_lengths",
             [](PyRecording& r) {
                 py::array_t<int64_t> out(static_cast<py::ssize_t>(r.rec.Episodes()));
                 int64_t* p = out.mutable_data();
                 Locked(r, [&] {
                     for (uint32_t e = 1; e <= r.rec.Episodes(); ++e) {
                         uint32_t n = 0;
                         if (!r.rec.EpisodeSamples(e, &n)) return false;
                         p[e - 1] = n;
                     }
                     return true;
                 });
                 return out;
             })
        .def("_episode_start",
             [](PyRecording& r, int64_t channel, int64_t episode) {
                 const int logical = ChannelAt(r, channel).logical;
                 CheckEpisode(r, episode);
                 double ms = 0.0;
                 Locked(r, [&] { return r.rec.EpisodeStart(logical, static_cast<uint32_t>(episode), &ms); });
                 return ms;
             })
        .def("_note",
             [](PyRecording& r, int64_t channel, py::object episode) {
                 const int logical = ChannelAt(r, channel).logical;
                 double ms = 0.0;
                 if (!episode.is_none()) {
                     const int64_t e = episode.cast<int64_t>();
                     CheckEpisode(r, e);
                     Locked(r, [&] { return r.rec.EpisodeStart(logical, static_cast<uint32_t>(e), &ms); });
                 }
                 return Text(r.rec.Note(logical, !episode.is_none(), ms));
             })
        .def("_tags",
             [](PyRecording& r) {
                 std::vector<reader::Tag> tags;
                 Locked(r, [&] { return r.rec.Tags(&tags); });
                 py::list l;
                 for (const reader::Tag& t : tags)
                     l.append(py::make_tuple(t.seconds, reader::Recording::TagTypeName(t.type), Text(t.comment)));
                 return l;
             })
        .def("_read_range",
             [](PyRecording& r, int64_t channel, int64_t start, int64_t stop, py::array out) {
                 const int logical = ChannelAt(r, channel).logical;
                 const int64_t count = std::max<int64_t>(stop - start, 0);
                 const Target t = TargetOf(out, count);
                 Locked(r, [&] {
                     return t.single ? r.rec.ReadRange(logical, start, count, static_cast<float*>(t.data))
                                     : r.rec.ReadRange(logical, start, count, static_cast<double*>(t.data));
                 });
             })
        .def("_read_episode",
             [](PyRecording& r, int64_t channel, int64_t episode, py::array out) {
                 const int logical = ChannelAt(r, channel).logical;
                 CheckEpisode(r, episode);
                 const auto e = static_cast<uint32_t>(episode);
                 const Target t = TargetOf(out, out.size());
                 bool fits = true;
                 Locked(r, [&] {
                     uint32_t samples = 0, count = 0;
                     if (!r.rec.EpisodeSamples(e, &samples)) return false;
                     if (static_cast<int64_t>(samples) != out.size()) return !(fits = false);
                     // Straight into the array when it has the room a read may take.
                     if (t.single && samples >= r.rec.SampleLimit())
                         return r.rec.Read(logical, e, static_cast<float*>(t.data), &count);
                     std::vector<float> scratch(std::max<uint32_t>(r.rec.SampleLimit(), 1));
                     if (!r.rec.Read(logical, e, scratch.data(), &count)) return false;
                     Store(t, 0, scratch.data(), std::min(count, samples));
                     return true;
                 });
                 if (!fits) throw py::value_error("the array is not of the episode's length");
             })
        .def("_read_episodes",
             [](PyRecording& r, int64_t channel, py::array out, int64_t columns) {
                 // Episodes x columns, shorter episodes filled up with NaN (the rows
                 // of sorvan's .npy export).
                 const int logical = ChannelAt(r, channel).logical;
                 const uint32_t rows = r.rec.Episodes();
                 const Target t = TargetOf(out, static_cast<int64_t>(rows) * columns);
                 Locked(r, [&] {
                     std::vector<float> scratch(std::max<uint32_t>(r.rec.SampleLimit(), 1));
                     for (uint32_t e = 1; e <= rows; ++e) {
                         uint32_t count = 0;
                         if (!r.rec.Read(logical, e, scratch.data(), &count)) return false;
                         const std::size_t n = std::min<std::size_t>(count, static_cast<std::size_t>(columns));
                         const std::size_t at = static_cast<std::size_t>(e - 1) * static_cast<std::size_t>(columns);
                         Store(t, at, scratch.data(), n, static_cast<std::size_t>(columns) - n);
                     }
                     return true;
                 });
             })
        .def("_to_nwb",
             [](PyRecording& r, const py::bytes& path, std::vector<int> channels, std::vector<uint32_t> episodes,
                py::object offset) {
                 // Through the NWB writer sorvan uses, under a temporary name in the
                 // target's folder, renamed when the file is whole.
                 nwb::Options o;
                 o.channels = std::move(channels);
                 o.episodes = std::move(episodes);
                 if (!offset.is_none()) {
                     o.utcOffsetGiven = true;
                     o.utcOffsetMinutes = offset.cast<int>();
                 }
                 o.program = std::string("sorvan ") + SORVAN_VERSION + " (Python)";
                 const std::string final = path;
                 std::string error;
                 bool ok;
                 {
                     py::gil_scoped_release release;
                     std::lock_guard<std::mutex> lock(r.lock);
                     const std::string temp = nwb::TemporaryPath(final);
                     ok = nwb::Write(r.rec, temp, o, &error);
                     if (ok) {
                         std::error_code ec;
                         std::filesystem::rename(temp, final, ec);
                         if (ec) {
                             std::remove(temp.c_str());
                             error = "cannot rename " + temp + " to " + final + ": " + ec.message();
                             ok = false;
                         }
                     }
                 }
                 if (!ok) Raise(r.path, 0, error);
             })
        .def("_read_stimulus", [](PyRecording& r, int64_t channel, int64_t episode, py::array out) {
            const int logical = ChannelAt(r, channel).logical;
            CheckEpisode(r, episode);
            const auto e = static_cast<uint32_t>(episode);
            const Target t = TargetOf(out, out.size());
            bool fits = true;
            Locked(r, [&] {
                uint32_t samples = 0, room = 0;
                if (!r.rec.EpisodeSamples(e, &samples) || !r.rec.StimulusRoom(e, &room)) return false;
                if (static_cast<int64_t>(samples) != out.size()) return !(fits = false);
                std::vector<float> scratch(std::max<uint32_t>(room, 1));
                if (!r.rec.ReadStimulus(logical, e, scratch.data())) return false;
                Store(t, 0, scratch.data(), samples);
                return true;
            });
            if (!fits) throw py::value_error("the array is not of the episode's length");
        });
}
