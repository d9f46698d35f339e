// The reader over the ABF library and the plug-in's pure core: the library is
// opened with the header block the plug-in prepares, and names, units, the X
// step, the wave note, the tag time scale and the header catalogue come from the
// plug-in's own functions, so that what a program shows says what the plug-in's
// wave says.
#include "reader/recording.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "core/header_block.h"
#include "core/header_catalogue.h"
#include "core/header_text.h"
#include "core/header_values.h"
#include "core/text.h"
#include "core/wave_note.h"
#include "interface/abffio.h"

namespace reader {

struct Recording::Block {
    AbfHeaderBlock block;
};

namespace {

constexpr std::size_t kTagCommentWidth = sizeof(ABFTag::sComment);
constexpr std::size_t kErrorTextSize = 1024;

std::string ErrorText(int32_t error, const std::string& path)
{
    char text[kErrorTextSize];
    if (ABF_BuildErrorText(error, path.c_str(), text, sizeof text)) return text;
    return "the ABF library failed with error " + std::to_string(error);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

}  // namespace

// The header block is zero-filled until an open fills it: a recording that was
// never opened has no channels and a header of zeros.
Recording::Recording() : block_(new Block()) {}

Recording::~Recording() { Close(); }

bool Recording::Close()
{
    if (!open_) return true;
    open_ = false;
    int32_t error = 0;
    if (!ABF_Close(file_, &error)) return Fail(error);
    return true;
}

bool Recording::Fail(int32_t error)
{
    error_ = ErrorText(error, path_);
    errorNumber_ = error;
    return false;
}

bool Recording::Refuse(const std::string& text)
{
    error_ = path_ + ": " + text;
    errorNumber_ = 0;
    return false;
}

bool Recording::Open(const std::string& path)
{
    if (open_ || !path_.empty()) return Refuse("a Recording opens one file once");
    path_ = path;
    AbfPrepareHeader(&block_->block);
    sampleLimit_ = kAbfSampleLimit;
    episodes_ = kAbfEpisodeLimit;
    int32_t error = 0;
    if (!ABF_ReadOpen(path.c_str(), &file_, 0, &block_->block.header, &sampleLimit_, &episodes_, &error))
        return Fail(error);
    open_ = true;
    const ABFFileHeader& h = block_->block.header;
    const int count = AbfSamplingSeqEntries(h);
    for (int logical = 0; logical < count; ++logical) {
        Channel c;
        c.logical = logical;
        c.physical = AbfPhysicalChannel(h, logical);
        char units[kAbfUnitsWidth + 1];
        char name[kAbfChannelNameWidth + 1];
        AbfAdcUnits(h, c.physical, units);
        AbfAdcChannelName(h, c.physical, name);
        c.units = units;
        c.name = name;
        AbfDacUnits(h, c.physical, units);
        c.dacUnits = units;
        channels_.push_back(c);
    }
    return true;
}

int Recording::Mode() const { return block_->block.header.nOperationMode; }

const char* Recording::ModeName(int mode)
{
    switch (mode) {
    case kAbfVariableLengthEvents: return "variable-length events";
    case kAbfFixedLengthEvents: return "fixed-length events";
    case kAbfGapFree: return "gap-free";
    case kAbfHighSpeedOscilloscope: return "high-speed oscilloscope";
    case kAbfEpisodic: return "episodic stimulation";
    default: return "unknown mode";
    }
}

double Recording::FileVersion() const { return block_->block.header.fFileVersionNumber; }

bool Recording::FloatData() const { return block_->block.header.nDataFormat == 1; }

double Recording::XStep() const { return AbfXStep(block_->block.header); }

// A gap-free channel's length; a header without a positive channel count has none.
bool Recording::ChannelPoints(int64_t* points) const
{
    const ABFFileHeader& h = block_->block.header;
    return h.nADCNumChannels > 0 && AbfSamplesPerChannel(h, points);
}

InputScaling Recording::Scaling(int logical) const
{
    InputScaling s = {0.0, 0.0, 0.0};
    const ABFFileHeader& h = block_->block.header;
    const int32_t ch = Physical(logical);
    if (ch < 0 || ch >= 16) return s;
    // In single precision and in the library's order (abffio/read.cpp), so that
    // `step` is the very factor the samples were scaled with.
    float gain = h.fInstrumentScaleFactor[ch] * h.fADCProgrammableGain[ch];
    if (h.nSignalType != 0) gain *= h.fSignalGain[ch];
    if (h.nTelegraphEnable[ch] != 0) gain *= h.fTelegraphAdditGain[ch];
    s.gain = gain;
    if (!FloatData()) {
        const float resolution = h.lADCResolution ? static_cast<float>(h.lADCResolution) : 32768.0f;
        s.step = h.fADCRange / (gain == 0.0f ? 1.0f : gain) / resolution;
    }
    if (h.nTelegraphEnable[ch] != 0) s.filter = AbfTelegraphFilter(h, ch);
    return s;
}

uint32_t Recording::StartDate() const { return block_->block.header.uFileStartDate; }

uint32_t Recording::StartTimeMs() const { return block_->block.header.uFileStartTimeMS; }

std::string Recording::Protocol() const
{
    char text[kAbfProtocolPathWidth + 1];
    AbfTrimHeaderText(block_->block.header.sProtocolPath, kAbfProtocolPathWidth, text);
    return text;
}

std::string Recording::Creator() const
{
    char text[kAbfCreatorWidth + 1];
    AbfTrimHeaderText(block_->block.header.sCreatorInfo, kAbfCreatorWidth, text);
    return text;
}

std::string Recording::Comment() const
{
    constexpr std::size_t width = sizeof block_->block.header.sFileComment;
    char text[width + 1];
    AbfTrimHeaderText(block_->block.header.sFileComment, width, text);
    return text;
}

const Channel* Recording::Find(int logical) const
{
    for (const Channel& c : channels_)
        if (c.logical == logical) return &c;
    return nullptr;
}

// The library's channel number of a logical channel; -1 (which the library refuses)
// for a position the file does not sample.
int32_t Recording::Physical(int logical) const
{
    const Channel* c = Find(logical);
    return c ? c->physical : -1;
}

// A closed file's handle may belong to another file by now: nothing of it is asked.
bool Recording::Closed()
{
    if (open_) return false;
    Refuse(path_.empty() ? "no file is open" : "the recording is closed");
    return true;
}

bool Recording::EpisodeSamples(uint32_t episode, uint32_t* samples)
{
    if (Closed()) return false;
    int32_t error = 0;
    if (!ABF_GetNumSamples(file_, &block_->block.header, episode, samples, &error)) return Fail(error);
    return true;
}

bool Recording::EpisodeStart(int logical, uint32_t episode, double* ms)
{
    if (Closed()) return false;
    int32_t error = 0;
    *ms = 0.0;
    if (!ABF_GetStartTime(file_, &block_->block.header, Physical(logical), episode, ms, &error)) return Fail(error);
    return true;
}

bool Recording::EpisodeDuration(uint32_t episode, double* ms)
{
    if (Closed()) return false;
    int32_t error = 0;
    if (!ABF_GetEpisodeDuration(file_, &block_->block.header, episode, ms, &error)) return Fail(error);
    return true;
}

bool Recording::Read(int logical, uint32_t episode, float* out, uint32_t* count)
{
    *count = 0;
    if (Closed()) return false;
    int32_t error = 0;
    if (!ABF_ReadChannel(file_, &block_->block.header, Physical(logical), episode, out, count, &error))
        return Fail(error);
    // The library never delivers more than one read holds; a count that says
    // otherwise is the file disagreeing with itself.
    if (*count > sampleLimit_) return Refuse("the library reported more samples than one read holds");
    return true;
}

bool Recording::EpisodeOffsets()
{
    if (!offsets_.empty()) return true;
    std::vector<int64_t> offsets(std::size_t{episodes_} + 1);
    int64_t total = 0;
    for (uint32_t e = 1; e <= episodes_; ++e) {
        uint32_t samples = 0;
        if (!EpisodeSamples(e, &samples)) return false;
        offsets[e - 1] = total;
        total += samples;
    }
    offsets[episodes_] = total;
    // The record is the channel: a library whose reads do not add up to the
    // header's length would make a range mean different samples in different reads.
    int64_t points = 0;
    if (!ChannelPoints(&points) || points != total)
        return Refuse("the library's reads hold " + std::to_string(total) +
                      " samples of a channel where the header has " + std::to_string(points));
    offsets_ = std::move(offsets);
    return true;
}

bool Recording::Miscounted(uint32_t episode, uint32_t delivered, int64_t counted)
{
    return Refuse("the library delivered " + std::to_string(delivered) + " samples of read " + std::to_string(episode) +
                  " where it counts " + std::to_string(counted));
}

template <typename T>
bool Recording::ReadRangeOf(int logical, int64_t start, int64_t count, T* out)
{
    if (!GapFree()) return Refuse("not a gap-free recording: its samples are read one episode at a time");
    if (!EpisodeOffsets()) return false;
    const int64_t points = offsets_.back();
    if (start < 0 || count < 0 || start > points || count > points - start)
        return Refuse("samples " + std::to_string(start) + " to " + std::to_string(start + count) +
                      " are not within the channel's " + std::to_string(points));
    if (count == 0) return true;
    const int64_t end = start + count;
    // The read holding `start`: the last one starting at or before it (reads of
    // no samples share their start with the next and are passed over).
    uint32_t episode =
        static_cast<uint32_t>(std::upper_bound(offsets_.begin(), offsets_.end() - 1, start) - offsets_.begin());
    for (; episode <= episodes_ && offsets_[episode - 1] < end; ++episode) {
        const int64_t first = offsets_[episode - 1];
        const int64_t last = offsets_[episode];
        if (last == first) continue;
        const int64_t from = std::max(start, first);
        const int64_t to = std::min(end, last);
        uint32_t delivered = 0;
        // A whole read of single precision goes straight into the caller's memory: the
        // library delivers exactly the episode's samples (ordinal 340's count, checked).
        if constexpr (std::is_same_v<T, float>) {
            if (from == first && to == last) {
                if (!Read(logical, episode, out + (first - start), &delivered)) return false;
                if (delivered != last - first) return Miscounted(episode, delivered, last - first);
                continue;
            }
        }
        {
            scratch_.resize(std::max<std::size_t>(sampleLimit_, 1));
            if (!Read(logical, episode, scratch_.data(), &delivered)) return false;
            if (delivered == last - first) {
                const float* from_ = scratch_.data() + (from - first);
                std::copy(from_, from_ + (to - from), out + (from - start));
            }
        }
        if (delivered != last - first) return Miscounted(episode, delivered, last - first);
    }
    return true;
}

bool Recording::ReadRange(int logical, int64_t start, int64_t count, float* out)
{
    return ReadRangeOf(logical, start, count, out);
}

bool Recording::ReadRange(int logical, int64_t start, int64_t count, double* out)
{
    return ReadRangeOf(logical, start, count, out);
}

bool Recording::StimulusRoom(uint32_t episode, uint32_t* samples)
{
    if (!EpisodeSamples(episode, samples)) return false;
    *samples = std::max(*samples, sampleLimit_);
    return true;
}

bool Recording::ReadStimulus(int logical, uint32_t episode, float* out)
{
    if (Closed()) return false;
    int32_t error = 0;
    if (!ABF_GetWaveform(file_, &block_->block.header, Physical(logical), episode, out, &error)) return Fail(error);
    return true;
}

std::string Recording::Note(int logical, bool withStart, double startTime) const
{
    const AbfNoteInput in = {path_.c_str(), &block_->block.header, logical, Physical(logical), withStart, startTime};
    std::vector<char> note(kAbfNoteHandleSize);
    const std::size_t length = AbfFormatWaveNote(in, note.data(), note.size());
    if (length >= note.size()) {
        note.resize(length + 1);
        AbfFormatWaveNote(in, note.data(), note.size());
    }
    return std::string(note.data(), length);
}

bool Recording::Tags(std::vector<Tag>* tags)
{
    tags->clear();
    if (Closed()) return false;
    const ABFFileHeader& h = block_->block.header;
    if (h.lNumTagEntries <= 0) return true;
    // In pieces: memory grows with the tags the file holds, not with the count a
    // damaged header claims (the read past the file's end fails first).
    constexpr uint32_t kPiece = 4096;
    const uint32_t total = static_cast<uint32_t>(h.lNumTagEntries);
    std::vector<ABFTag> records(std::min(total, kPiece));
    const double scale = AbfTagTimeScale(h);
    for (uint32_t first = 0; first < total; first += kPiece) {
        const uint32_t n = std::min(total - first, kPiece);
        int32_t error = 0;
        if (!ABF_ReadTags(file_, &h, first, records.data(), n, &error)) return Fail(error);
        for (uint32_t i = 0; i < n; ++i) {
            const ABFTag& r = records[i];
            char comment[kTagCommentWidth + 1];
            AbfTrimHeaderText(r.sComment, kTagCommentWidth, comment);
            tags->push_back({static_cast<double>(r.lTagTime) * scale, r.nTagType, comment});
        }
    }
    return true;
}

const char* Recording::TagTypeName(int type)
{
    switch (type) {
    case kAbfTimeTag: return "time";
    case kAbfCommentTag: return "comment";
    case kAbfExternalTag: return "external";
    case kAbfVoiceTag: return "voice";
    case kAbfNewFileTag: return "new file";
    case kAbfAnnotationTag: return "annotation";
    default: return "unknown";
    }
}

std::string Recording::HeaderString() const
{
    std::string text(kHeaderStringBufferSize, '\0');
    text.resize(BuildHeaderString(&text[0], text.size(), &block_->block.header));
    return text;
}

namespace {

struct FieldCollector {
    const ABFFileHeader* header;
    std::vector<HeaderField>* fields;
};

// A text list's elements each trimmed on its own: joined with commas in the value,
// they could not be told apart from commas inside an element.
std::vector<std::string> TextListElements(const ABFFileHeader* header, const char* key)
{
    std::vector<std::string> elements;
    for (const HeaderItem& item : kHeaderCatalogue) {
        if (item.kind != kItemTextList || std::strcmp(item.key, key) != 0) continue;
        std::vector<char> element(std::size_t{item.width} + 1);
        for (int k = 0; k < item.count; ++k)
            elements.push_back(AbfTrimHeaderTextBoth(HeaderText(header, item, k), item.width, element.data()));
    }
    return elements;
}

void CollectField(void* context, const char* key, const char* value, HeaderItemKind kind)
{
    const auto* c = static_cast<FieldCollector*>(context);
    HeaderField f;
    f.key = key;
    f.value = value;
    switch (kind) {
    case kItemBlock: f.kind = HeaderField::kNumber; break;
    case kItemTextField: f.kind = HeaderField::kText; break;
    case kItemTextList:
        f.kind = HeaderField::kTextList;
        f.elements = TextListElements(c->header, key);
        break;
    default:
        f.kind = HeaderField::kNumberList;
        f.elements = Split(f.value, ',');
        break;
    }
    c->fields->push_back(std::move(f));
}

}  // namespace

// The key=value string's pieces one by one, so a value is exactly its piece of the
// string; splitting the string itself would go wrong on texts that hold ";" or "=".
std::vector<HeaderField> Recording::HeaderFields() const
{
    std::vector<HeaderField> fields;
    FieldCollector collector = {&block_->block.header, &fields};
    VisitHeaderPieces(&block_->block.header, CollectField, &collector);
    return fields;
}

}  // namespace reader
