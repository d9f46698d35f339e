#include "compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "interface/abffio.h"
#include "sha256.h"

namespace abfcompare {
namespace {

constexpr size_t kBlockSize = 65536;  // the prepared record block (zero-filled like the vendor's caller)

std::string Fmt(const char* f, double v)
{
    char b[64];
    snprintf(b, sizeof b, f, v);
    return b;
}

std::string Num(double v) { return Fmt("%.9g", v); }

std::vector<uint8_t> FromHex(const std::string& s)
{
    std::vector<uint8_t> out(s.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(std::stoi(s.substr(2 * i, 2), nullptr, 16));
    return out;
}

std::string ToHex(const uint8_t* p, size_t n)
{
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += hex[p[i] >> 4];
        s += hex[p[i] & 15];
    }
    return s;
}

template <class T>
std::string NumberAt(const uint8_t* p)
{
    T v;
    memcpy(&v, p, sizeof v);
    return std::to_string(v);
}

// One element of a field as text.
std::string Element(const uint8_t* rec, const AbfFieldInfo& f, size_t index)
{
    const uint8_t* p = rec + f.offset + index * f.width;
    switch (f.kind) {
    case AbfFieldKind::kF32: {
        float v;
        memcpy(&v, p, 4);
        return Num(v);
    }
    case AbfFieldKind::kI16: return NumberAt<int16_t>(p);
    case AbfFieldKind::kU16: return NumberAt<uint16_t>(p);
    case AbfFieldKind::kI32: return NumberAt<int32_t>(p);
    case AbfFieldKind::kU32: return NumberAt<uint32_t>(p);
    case AbfFieldKind::kI8: return NumberAt<int8_t>(p);
    case AbfFieldKind::kU8: return NumberAt<uint8_t>(p);
    case AbfFieldKind::kChar: {
        std::string t;
        for (size_t i = 0; i < f.width; ++i) t += (p[i] >= 32 && p[i] < 127) ? static_cast<char>(p[i]) : '.';
        return "\"" + t + "\" (" + ToHex(p, f.width) + ")";
    }
    }
    return "?";
}

std::string IndexName(const AbfFieldInfo& f, int r, int c)
{
    std::string s = f.name;
    if (f.rows > 1) s += "[" + std::to_string(r) + "]";
    if (f.rows > 1 || f.cols > 1) s += "[" + std::to_string(c) + "]";
    return s;
}

// Field-by-field comparison of `ours` (layout `ourFields`) against the vendor's
// library record (30023 layout), by name and index.
void CompareRecord(const char* what, const uint8_t* ours, const AbfFieldInfo* ourFields, size_t ourCount,
                   const uint8_t* vendor, std::vector<std::string>& diffs)
{
    for (size_t i = 0; i < ourCount; ++i) {
        const AbfFieldInfo& f = ourFields[i];
        const AbfFieldInfo* v = nullptr;
        for (const AbfFieldInfo& g : kAbfLibraryRecordFields)
            if (strcmp(g.name, f.name) == 0) {
                v = &g;
                break;
            }
        if (!v) {
            diffs.push_back(std::string(what) + " " + f.name + ": no such field in the library record");
            continue;
        }
        const int rows = std::min(f.rows, v->rows), cols = std::min(f.cols, v->cols);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                const size_t oi = static_cast<size_t>(r) * f.cols + c, vi = static_cast<size_t>(r) * v->cols + c;
                if (memcmp(ours + f.offset + oi * f.width, vendor + v->offset + vi * v->width, f.width) == 0) continue;
                diffs.push_back(std::string(what) + " " + IndexName(f, r, c) + ": ours " + Element(ours, f, oi) +
                                ", vendor " + Element(vendor, *v, vi));
            }
    }
}

void Check(std::vector<std::string>& diffs, const std::string& what, const std::string& ours, const std::string& vendor)
{
    if (ours != vendor) diffs.push_back(what + ": ours " + ours + ", vendor " + vendor);
}

void CheckNum(std::vector<std::string>& diffs, const std::string& what, double ours, const Json& vendor)
{
    if (!vendor.is_number()) return;
    const double v = vendor.get<double>();
    // The reference prints doubles with 15 significant digits at least; equal to that.
    const bool same = ours == v || std::fabs(ours - v) <= 1e-12 * std::max(std::fabs(ours), std::fabs(v));
    if (!same) diffs.push_back(what + ": ours " + Fmt("%.15g", ours) + ", vendor " + Fmt("%.15g", v));
}

void PrepareRecord(std::vector<uint8_t>& block)
{
    block.assign(kBlockSize, 0);
    const float version = 2.05f;
    const int32_t size = static_cast<int32_t>(kAbfRecordSize);
    memcpy(block.data() + offsetof(ABFFileHeader, fFileVersionNumber), &version, 4);
    memcpy(block.data() + offsetof(ABFFileHeader, fHeaderVersionNumber), &version, 4);
    memcpy(block.data() + offsetof(ABFFileHeader, lHeaderSize), &size, 4);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty()) return name;
    const char last = dir.back();
    if (last == '/' || last == '\\') return dir + name;
#if defined(_WIN32)
    return dir + "\\" + name;
#else
    return dir + "/" + name;
#endif
}

std::string PrepareInput(const std::string& fileName, const std::string& abfDir, const std::string& scratchDir)
{
    struct Broken {
        const char* name;
        const char* source;
        long long length;
    };  // length -1: half, -2: empty, -3: text
    static const Broken kBroken[] = {
        {"empty.abf", nullptr, -2},
        {"text.abf", nullptr, -3},
        {"trunc600-abf1.abf", "05210017_vc_abf1.abf", 600},
        {"trunc600-abf2.abf", "18425108.abf", 600},
        {"trunchalf-abf1.abf", "05210017_vc_abf1.abf", -1},
        {"trunchalf-abf2.abf", "18425108.abf", -1},
    };
    if (fileName == "missing.abf") return JoinPath(scratchDir, "no-such-folder-here/missing.abf");
    for (const Broken& b : kBroken) {
        if (fileName != b.name) continue;
        std::vector<uint8_t> bytes;
        if (b.length == -3) {
            const char* text = "This is a plain text file and not a recording.\r\nNothing else.\r\n";
            bytes.assign(text, text + strlen(text));
        } else if (b.source) {
            bytes = ReadAll(JoinPath(abfDir, b.source));
            const size_t keep = b.length == -1 ? bytes.size() / 2 : static_cast<size_t>(b.length);
            if (bytes.size() > keep) bytes.resize(keep);
        }
        const std::string path = JoinPath(scratchDir, b.name);
        WriteFile(path, bytes);
        return path;
    }
    return JoinPath(abfDir, fileName);
}

namespace {

// One input compared call by call with its reference, in the order the vendor library
// was called: the file test, the open (twice: in the library's record layout and in
// the caller's), every episode and channel, the tags, the close, the error texts.
class Comparison {
public:
    Comparison(const Json& ref, const std::string& input) : ref_(ref), name_(input.c_str()) {}
    std::vector<std::string> Run();

private:
    void FileTest();
    void LibraryRecord(const std::vector<uint8_t>& vendorRecord);
    bool Open(const std::vector<uint8_t>& vendorRecord, const std::vector<uint8_t>& vendorHeader);
    void Episode(const Json& ge);
    void Channel(const Json& gc, uint32_t e, uint32_t count, const std::string& ep);
    void Tags();
    void Errors();
    // A difference of what ours answered from what the vendor's did.
    void Diff(const std::string& what, long long ours, const Json& vendor, const char* path)
    {
        Check(diffs_, what, std::to_string(ours), std::to_string(Int(vendor, path)));
    }

    const Json& ref_;
    const char* name_;
    std::vector<std::string> diffs_;
    std::vector<int> errors_;
    std::vector<uint8_t> block_;  // the caller's record of the open
    int32_t handle_ = -1;
    uint32_t samples_ = kAbfSampleLimit;
    const ABFFileHeader* h_ = nullptr;
    std::vector<float> buf_;
};

std::vector<std::string> Comparison::Run()
{
    FileTest();
    const Json& g110 = At(ref_, "ord110");
    const std::vector<uint8_t> vendorRecord = FromHex(String(g110, "library_record_hex"));
    const std::vector<uint8_t> vendorHeader = FromHex(String(g110, "header_hex"));
    if (vendorRecord.size() == kAbfLibraryRecordSize) LibraryRecord(vendorRecord);
    if (Open(vendorRecord, vendorHeader)) {
        if (ref_.contains("ord150")) Diff("ord150", ABF_HasData(handle_, h_) != 0, ref_, "ord150/result");
        buf_.assign(std::max<uint32_t>(samples_, 1) + 64, 0.0f);
        for (const Json& ge : At(ref_, "episodes")) Episode(ge);
        Tags();
        int32_t e160 = -1;
        const ABFBOOL ok160 = ABF_Close(handle_, &e160);
        if (ref_.contains("ord160")) Diff("ord160 ok", ok160 != 0, ref_, "ord160/ok");
    }
    Errors();
    return diffs_;
}

void Comparison::FileTest()
{
    int32_t fmt = -12345, err = -1;
    const ABFBOOL ok = ABF_IsABFFile(name_, &fmt, &err);
    const Json& g = At(ref_, "ord140");
    Diff("ord140 ok", ok != 0, g, "ok");
    Diff("ord140 error", err, g, "error");
    Diff("ord140 out_int", fmt, g, "out_int");
    if (!ok) errors_.push_back(err);
}

// The open in the library's own layout: the whole record, field by field.
void Comparison::LibraryRecord(const std::vector<uint8_t>& vendorRecord)
{
    std::vector<uint8_t> block;
    PrepareRecord(block);
    int32_t handle = -1, err = -1;
    uint32_t samples = kAbfSampleLimit, episodes = 0;
    ABFTest_WriteLibraryRecord(1);
    const ABFBOOL ok =
        ABF_ReadOpen(name_, &handle, 0, reinterpret_cast<ABFFileHeader*>(block.data()), &samples, &episodes, &err);
    ABFTest_WriteLibraryRecord(0);
    if (ok) ABF_Close(handle, &err);
    CompareRecord("ord110 library record", block.data(), kAbfLibraryRecordFields,
                  sizeof kAbfLibraryRecordFields / sizeof kAbfLibraryRecordFields[0], vendorRecord.data(), diffs_);
    for (size_t i = kAbfLibraryRecordSize; i < block.size(); ++i)
        if (block[i]) {
            diffs_.push_back("ord110 library record: byte written past the record at " + std::to_string(i));
            break;
        }
}

// The open as the plug-in calls it, into the 11335-byte record; true when it opened.
bool Comparison::Open(const std::vector<uint8_t>& vendorRecord, const std::vector<uint8_t>& vendorHeader)
{
    const Json& g110 = At(ref_, "ord110");
    PrepareRecord(block_);
    int32_t err = -1;
    uint32_t episodes = 0;
    const ABFBOOL opened =
        ABF_ReadOpen(name_, &handle_, 0, reinterpret_cast<ABFFileHeader*>(block_.data()), &samples_, &episodes, &err);
    Diff("ord110 ok", opened != 0, g110, "ok");
    Diff("ord110 error", err, g110, "error");
    Diff("ord110 sample limit", samples_, g110, "sample_limit_out");
    Diff("ord110 episode limit", episodes, g110, "episode_limit_out");
    if (!opened) errors_.push_back(err);
    // A failed open: the record as the caller prepared it, or as far as the library got.
    if (!opened && vendorHeader.size() == kAbfRecordSize && Int(g110, "error") != ABF_EBADSYNCH &&
        memcmp(block_.data(), vendorHeader.data(), kAbfRecordSize) != 0)
        diffs_.push_back("ord110 record changed by a failed open");
    if (vendorRecord.size() == kAbfLibraryRecordSize && (opened || Int(g110, "error") == ABF_EBADSYNCH)) {
        CompareRecord("ord110 record", block_.data(), kAbfRecordFields,
                      sizeof kAbfRecordFields / sizeof kAbfRecordFields[0], vendorRecord.data(), diffs_);
        const size_t same = offsetof(ABFFileHeader, nDigitalTrainValue);
        for (size_t i = 0; i < same && i < vendorHeader.size(); ++i)
            if (block_[i] != vendorHeader[i]) {
                diffs_.push_back("ord110 record byte " + std::to_string(i) + ": ours " + std::to_string(block_[i]) +
                                 ", vendor " + std::to_string(vendorHeader[i]));
                break;
            }
        for (size_t i = kAbfRecordSize; i < block_.size(); ++i)
            if (block_[i]) {
                diffs_.push_back("ord110 record: byte written past the 11335-byte record at " + std::to_string(i));
                break;
            }
    }
    h_ = reinterpret_cast<const ABFFileHeader*>(block_.data());
    return opened != 0;
}

void Comparison::Episode(const Json& ge)
{
    const uint32_t e = static_cast<uint32_t>(Int(ge, "episode"));
    const std::string ep = "episode " + std::to_string(e);
    uint32_t count = 0;
    int32_t e340 = -1;
    const ABFBOOL ok340 = ABF_GetNumSamples(handle_, h_, e, &count, &e340);
    Diff(ep + " ord340 ok", ok340 != 0, ge, "ord340/ok");
    Diff(ep + " ord340 count", count, ge, "ord340/count");
    double dur = 0;
    int32_t e360 = -1;
    const ABFBOOL ok360 = ABF_GetEpisodeDuration(handle_, h_, e, &dur, &e360);
    Diff(ep + " ord360 ok", ok360 != 0, ge, "ord360/ok");
    CheckNum(diffs_, ep + " ord360 value", dur, At(ge, "ord360/value"));
    for (const Json& gc : At(ge, "channels")) Channel(gc, e, count, ep);
}

// Start time, samples and stimulus waveform of one channel in one episode.
void Comparison::Channel(const Json& gc, uint32_t e, uint32_t count, const std::string& ep)
{
    const int32_t phys = static_cast<int32_t>(Int(gc, "physical"));
    const std::string cp =
        ep + " channel " + std::to_string(Int(gc, "logical")) + " (physical " + std::to_string(phys) + ")";
    double start = 0;
    int32_t e350 = -1;
    const ABFBOOL ok350 = ABF_GetStartTime(handle_, h_, phys, e, &start, &e350);
    Diff(cp + " ord350 ok", ok350 != 0, gc, "ord350/ok");
    if (ok350)
        CheckNum(diffs_, cp + " ord350 value", start, At(gc, "ord350/value"));
    else
        errors_.push_back(e350);

    std::fill(buf_.begin(), buf_.end(), 0.0f);
    uint32_t n = 0;
    int32_t e210 = -1;
    const ABFBOOL ok210 = ABF_ReadChannel(handle_, h_, phys, e, buf_.data(), &n, &e210);
    const Json& g210 = At(gc, "ord210");
    Diff(cp + " ord210 ok", ok210 != 0, g210, "ok");
    Diff(cp + " ord210 error", e210, g210, "error");
    if (!ok210) errors_.push_back(e210);
    if (ok210) Diff(cp + " ord210 count", n, g210, "count");
    if (ok210 && n <= buf_.size() && Sha256Hex(buf_.data(), static_cast<size_t>(n) * 4) != String(g210, "sha256")) {
        std::string first;
        for (int i = 0; i < 3 && i < static_cast<int>(n); ++i) first += Num(buf_[static_cast<size_t>(i)]) + " ";
        diffs_.push_back(cp + " ord210 samples differ (ours begin " + first + "; vendor " +
                         Num(Number(g210, "first8/0")) + " " + Num(Number(g210, "first8/1")) + " " +
                         Num(Number(g210, "first8/2")) + ")");
    }

    std::fill(buf_.begin(), buf_.end(), 0.0f);
    int32_t e250 = -1;
    const ABFBOOL ok250 = ABF_GetWaveform(handle_, h_, phys, e, buf_.data(), &e250);
    const Json& g250 = At(gc, "ord250");
    Diff(cp + " ord250 ok", ok250 != 0, g250, "ok");
    Diff(cp + " ord250 error", e250, g250, "error");
    if (!ok250) errors_.push_back(e250);
    if (count <= buf_.size() && Sha256Hex(buf_.data(), static_cast<size_t>(count) * 4) != String(g250, "sha256"))
        diffs_.push_back(cp + " ord250 waveform differs (ours begins " + Num(buf_[0]) + ", vendor " +
                         Num(Number(g250, "first8/0")) + ")");
}

void Comparison::Tags()
{
    const Json& g270 = At(ref_, "ord270");
    if (g270.is_null()) return;
    const uint32_t n = static_cast<uint32_t>(Int(g270, "requested"));
    std::vector<ABFTag> tags(std::max<uint32_t>(n, 1));
    memset(tags.data(), 0, tags.size() * sizeof(ABFTag));
    int32_t e270 = -1;
    const ABFBOOL ok270 = ABF_ReadTags(handle_, h_, 0, tags.data(), n, &e270);
    Diff("ord270 ok", ok270 != 0, g270, "ok");
    Diff("ord270 error", e270, g270, "error");
    const Json& recs = At(g270, "records");
    for (size_t i = 0; i < recs.size() && i < n; ++i)
        Check(diffs_, "ord270 tag " + std::to_string(i), ToHex(reinterpret_cast<const uint8_t*>(&tags[i]), 64),
              String(recs[i], "hex"));
}

// The errors met, and whether the library has a text for each.
void Comparison::Errors()
{
    for (const auto& kv : At(ref_, "error_texts").items()) {
        char text[1024];
        const ABFBOOL ok = ABF_BuildErrorText(std::stoi(kv.key()), name_, text, sizeof text);
        Check(diffs_, "ord470 for " + kv.key(), std::to_string(ok != 0), std::to_string(Number(kv.value(), "ok") != 0));
    }
    std::vector<std::string> seen;
    for (int e : errors_) {
        const std::string s = std::to_string(e);
        if (std::find(seen.begin(), seen.end(), s) == seen.end()) seen.push_back(s);
    }
    std::vector<std::string> vendorSeen;
    for (const Json& e : At(ref_, "errors_seen")) vendorSeen.push_back(std::to_string(Int(e, "")));
    std::string a, b;
    for (const std::string& s : seen) a += s + " ";
    for (const std::string& s : vendorSeen) b += s + " ";
    std::sort(seen.begin(), seen.end());
    std::sort(vendorSeen.begin(), vendorSeen.end());
    if (seen != vendorSeen) diffs_.push_back("errors seen: ours " + a + ", vendor " + b);
}

}  // namespace

std::vector<std::string> CompareReference(const Json& ref, const std::string& input)
{
    return Comparison(ref, input).Run();
}

std::vector<std::string> CompareErrorTexts(const Json& ref)
{
    std::vector<std::string> diffs;
    const std::string file = String(ref, "file_name_passed");
    for (const auto& kv : At(ref, "texts").items()) {
        std::vector<char> text(1024, 'x');
        const ABFBOOL ok = ABF_BuildErrorText(std::stoi(kv.key()), file.c_str(), text.data(), 1024);
        Check(diffs, "ord470 for " + kv.key(), std::to_string(ok != 0), std::to_string(Number(kv.value(), "ok") != 0));
        if (ok && memchr(text.data(), 0, text.size()) == nullptr)
            diffs.push_back("ord470 for " + kv.key() + ": text not terminated within the buffer");
    }
    return diffs;
}

}  // namespace abfcompare
