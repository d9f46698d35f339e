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

std::vector<std::string> CompareReference(const Json& ref, const std::string& input)
{
    std::vector<std::string> diffs;
    const char* name = input.c_str();
    std::vector<int> errors;

    // 140
    {
        int32_t fmt = -12345, err = -1;
        const ABFBOOL ok = ABF_IsABFFile(name, &fmt, &err);
        const Json& g = At(ref, "ord140");
        Check(diffs, "ord140 ok", std::to_string(ok != 0), std::to_string(Int(g, "ok")));
        Check(diffs, "ord140 error", std::to_string(err), std::to_string(Int(g, "error")));
        Check(diffs, "ord140 out_int", std::to_string(fmt), std::to_string(Int(g, "out_int")));
        if (!ok) errors.push_back(err);
    }

    // 110, in the library's own layout: the whole record, field by field.
    const Json& g110 = At(ref, "ord110");
    const std::vector<uint8_t> vendorRecord = FromHex(String(g110, "library_record_hex"));
    const std::vector<uint8_t> vendorHeader = FromHex(String(g110, "header_hex"));
    std::vector<uint8_t> block;
    if (vendorRecord.size() == kAbfLibraryRecordSize) {
        PrepareRecord(block);
        int32_t handle = -1, err = -1;
        uint32_t samples = kAbfSampleLimit, episodes = 0;
        ABFTest_WriteLibraryRecord(1);
        const ABFBOOL ok =
            ABF_ReadOpen(name, &handle, 0, reinterpret_cast<ABFFileHeader*>(block.data()), &samples, &episodes, &err);
        ABFTest_WriteLibraryRecord(0);
        if (ok) ABF_Close(handle, &err);
        CompareRecord("ord110 library record", block.data(), kAbfLibraryRecordFields,
                      sizeof kAbfLibraryRecordFields / sizeof kAbfLibraryRecordFields[0], vendorRecord.data(), diffs);
        for (size_t i = kAbfLibraryRecordSize; i < block.size(); ++i)
            if (block[i]) {
                diffs.push_back("ord110 library record: byte written past the record at " + std::to_string(i));
                break;
            }
    }

    // 110 as the plug-in calls it: the 11335-byte record.
    PrepareRecord(block);
    int32_t handle = -1, err = -1;
    uint32_t samples = kAbfSampleLimit, episodes = 0;
    const ABFBOOL opened =
        ABF_ReadOpen(name, &handle, 0, reinterpret_cast<ABFFileHeader*>(block.data()), &samples, &episodes, &err);
    Check(diffs, "ord110 ok", std::to_string(opened != 0), std::to_string(Int(g110, "ok")));
    Check(diffs, "ord110 error", std::to_string(err), std::to_string(Int(g110, "error")));
    Check(diffs, "ord110 sample limit", std::to_string(samples), std::to_string(Int(g110, "sample_limit_out")));
    Check(diffs, "ord110 episode limit", std::to_string(episodes), std::to_string(Int(g110, "episode_limit_out")));
    if (!opened) errors.push_back(err);
    if (!opened && vendorHeader.size() == kAbfRecordSize) {
        // A failed open: the record as the caller prepared it, or as far as the library got.
        if (Int(g110, "error") != ABF_EBADSYNCH && memcmp(block.data(), vendorHeader.data(), kAbfRecordSize) != 0)
            diffs.push_back("ord110 record changed by a failed open");
    }
    if (vendorRecord.size() == kAbfLibraryRecordSize && (opened || Int(g110, "error") == ABF_EBADSYNCH)) {
        CompareRecord("ord110 record", block.data(), kAbfRecordFields,
                      sizeof kAbfRecordFields / sizeof kAbfRecordFields[0], vendorRecord.data(), diffs);
        const size_t same = offsetof(ABFFileHeader, nDigitalTrainValue);
        for (size_t i = 0; i < same && i < vendorHeader.size(); ++i)
            if (block[i] != vendorHeader[i]) {
                diffs.push_back("ord110 record byte " + std::to_string(i) + ": ours " + std::to_string(block[i]) +
                                ", vendor " + std::to_string(vendorHeader[i]));
                break;
            }
        for (size_t i = kAbfRecordSize; i < block.size(); ++i)
            if (block[i]) {
                diffs.push_back("ord110 record: byte written past the 11335-byte record at " + std::to_string(i));
                break;
            }
    }

    if (opened) {
        const ABFFileHeader* h = reinterpret_cast<const ABFFileHeader*>(block.data());
        if (ref.contains("ord150"))
            Check(diffs, "ord150", std::to_string(ABF_HasData(handle, h) != 0),
                  std::to_string(Int(ref, "ord150/result")));
        std::vector<float> buf(std::max<uint32_t>(samples, 1) + 64);
        const Json& eps = At(ref, "episodes");
        for (const Json& ge : eps) {
            const uint32_t e = static_cast<uint32_t>(Int(ge, "episode"));
            const std::string ep = "episode " + std::to_string(e);
            uint32_t count = 0;
            int32_t e340 = -1;
            const ABFBOOL ok340 = ABF_GetNumSamples(handle, h, e, &count, &e340);
            Check(diffs, ep + " ord340 ok", std::to_string(ok340 != 0), std::to_string(Int(ge, "ord340/ok")));
            Check(diffs, ep + " ord340 count", std::to_string(count), std::to_string(Int(ge, "ord340/count")));
            double dur = 0;
            int32_t e360 = -1;
            const ABFBOOL ok360 = ABF_GetEpisodeDuration(handle, h, e, &dur, &e360);
            Check(diffs, ep + " ord360 ok", std::to_string(ok360 != 0), std::to_string(Int(ge, "ord360/ok")));
            CheckNum(diffs, ep + " ord360 value", dur, At(ge, "ord360/value"));
            const Json& chans = At(ge, "channels");
            for (const Json& gc : chans) {
                const int32_t phys = static_cast<int32_t>(Int(gc, "physical"));
                const std::string cp =
                    ep + " channel " + std::to_string(Int(gc, "logical")) + " (physical " + std::to_string(phys) + ")";
                double start = 0;
                int32_t e350 = -1;
                const ABFBOOL ok350 = ABF_GetStartTime(handle, h, phys, e, &start, &e350);
                Check(diffs, cp + " ord350 ok", std::to_string(ok350 != 0), std::to_string(Int(gc, "ord350/ok")));
                if (ok350)
                    CheckNum(diffs, cp + " ord350 value", start, At(gc, "ord350/value"));
                else
                    errors.push_back(e350);

                std::fill(buf.begin(), buf.end(), 0.0f);
                uint32_t n = 0;
                int32_t e210 = -1;
                const ABFBOOL ok210 = ABF_ReadChannel(handle, h, phys, e, buf.data(), &n, &e210);
                const Json& g210 = At(gc, "ord210");
                Check(diffs, cp + " ord210 ok", std::to_string(ok210 != 0), std::to_string(Int(g210, "ok")));
                Check(diffs, cp + " ord210 error", std::to_string(e210), std::to_string(Int(g210, "error")));
                if (ok210) {
                    Check(diffs, cp + " ord210 count", std::to_string(n), std::to_string(Int(g210, "count")));
                    if (n <= buf.size()) {
                        const std::string sha = Sha256Hex(buf.data(), static_cast<size_t>(n) * 4);
                        if (sha != String(g210, "sha256")) {
                            std::string first;
                            for (int i = 0; i < 3 && i < static_cast<int>(n); ++i)
                                first += Num(buf[static_cast<size_t>(i)]) + " ";
                            diffs.push_back(cp + " ord210 samples differ (ours begin " + first + "; vendor " +
                                            Num(Number(g210, "first8/0")) + " " + Num(Number(g210, "first8/1")) + " " +
                                            Num(Number(g210, "first8/2")) + ")");
                        }
                    }
                } else {
                    errors.push_back(e210);
                }

                std::fill(buf.begin(), buf.end(), 0.0f);
                int32_t e250 = -1;
                const ABFBOOL ok250 = ABF_GetWaveform(handle, h, phys, e, buf.data(), &e250);
                const Json& g250 = At(gc, "ord250");
                Check(diffs, cp + " ord250 ok", std::to_string(ok250 != 0), std::to_string(Int(g250, "ok")));
                Check(diffs, cp + " ord250 error", std::to_string(e250), std::to_string(Int(g250, "error")));
                if (!ok250) errors.push_back(e250);
                if (count <= buf.size()) {
                    const std::string sha = Sha256Hex(buf.data(), static_cast<size_t>(count) * 4);
                    if (sha != String(g250, "sha256"))
                        diffs.push_back(cp + " ord250 waveform differs (ours begins " + Num(buf[0]) + ", vendor " +
                                        Num(Number(g250, "first8/0")) + ")");
                }
            }
        }

        const Json& g270 = At(ref, "ord270");
        if (!g270.is_null()) {
            const uint32_t n = static_cast<uint32_t>(Int(g270, "requested"));
            std::vector<ABFTag> tags(std::max<uint32_t>(n, 1));
            memset(tags.data(), 0, tags.size() * sizeof(ABFTag));
            int32_t e270 = -1;
            const ABFBOOL ok270 = ABF_ReadTags(handle, h, 0, tags.data(), n, &e270);
            Check(diffs, "ord270 ok", std::to_string(ok270 != 0), std::to_string(Int(g270, "ok")));
            Check(diffs, "ord270 error", std::to_string(e270), std::to_string(Int(g270, "error")));
            const Json& recs = At(g270, "records");
            for (size_t i = 0; i < recs.size() && i < n; ++i)
                Check(diffs, "ord270 tag " + std::to_string(i), ToHex(reinterpret_cast<const uint8_t*>(&tags[i]), 64),
                      String(recs[i], "hex"));
        }

        int32_t e160 = -1;
        const ABFBOOL ok160 = ABF_Close(handle, &e160);
        if (ref.contains("ord160"))
            Check(diffs, "ord160 ok", std::to_string(ok160 != 0), std::to_string(Int(ref, "ord160/ok")));
    }

    // The errors met, and whether the library has a text for each.
    for (const auto& kv : At(ref, "error_texts").items()) {
        char text[1024];
        const ABFBOOL ok = ABF_BuildErrorText(std::stoi(kv.key()), name, text, sizeof text);
        Check(diffs, "ord470 for " + kv.key(), std::to_string(ok != 0), std::to_string(Number(kv.value(), "ok") != 0));
    }
    std::vector<std::string> seen;
    for (int e : errors) {
        const std::string s = std::to_string(e);
        bool have = false;
        for (const std::string& x : seen) have = have || x == s;
        if (!have) seen.push_back(s);
    }
    std::vector<std::string> vendorSeen;
    for (const Json& e : At(ref, "errors_seen")) vendorSeen.push_back(std::to_string(Int(e, "")));
    std::string a, b;
    for (const std::string& s : seen) a += s + " ";
    for (const std::string& s : vendorSeen) b += s + " ";
    std::sort(seen.begin(), seen.end());
    std::sort(vendorSeen.begin(), vendorSeen.end());
    if (seen != vendorSeen) diffs.push_back("errors seen: ours " + a + ", vendor " + b);
    return diffs;
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
