// The adapter between sorvan and the plug-in's pure code: the library is opened
// with the header block the plug-in prepares, and names, units, the X step, the
// wave note, the tag time scale and the header catalogue come from the plug-in's
// own functions, so that a file sorvan writes says what the plug-in's wave says.
#include "sorvan/recording.h"

#include <cstring>

#include "abf/abf_library.h"
#include "abf/query_rules.h"
#include "abf/reader_rules.h"
#include "interface/abffio.h"
#include "metadata/header_catalogue.h"
#include "metadata/header_text.h"

namespace sorvan {

struct Recording::Block {
    AbfHeaderBlock block;
};

namespace {

constexpr std::size_t kTagCommentWidth = sizeof(ABFTag::sComment);
constexpr std::size_t kErrorTextSize = 1024;

// The block as the plug-in hands it to every open: zero-filled, the version
// fields and the size of the record it expects.
void PrepareHeader(AbfHeaderBlock* block)
{
    std::memset(block, 0, sizeof *block);
    block->header.fFileVersionNumber = kAbfHeaderVersion;
    block->header.fHeaderVersionNumber = kAbfHeaderVersion;
    block->header.lHeaderSize = kAbfHeaderSize;
}

std::string ErrorText(int32_t error, const std::string& path)
{
    char text[kErrorTextSize];
    if (ABF_BuildErrorText(error, path.c_str(), text, sizeof text)) return text;
    return "the ABF library failed with error " + std::to_string(error);
}

// "key=value;" -> value.
std::string PieceValue(const char* piece, std::size_t length, const char* key)
{
    const std::size_t head = std::strlen(key) + 1;
    if (length < head + 1) return std::string();
    return std::string(piece + head, length - head - 1);
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

Recording::Recording() : block_(new Block) {}

Recording::~Recording()
{
    if (open_) {
        int32_t error = 0;
        ABF_Close(file_, &error);
    }
}

bool Recording::Fail(int32_t error)
{
    error_ = ErrorText(error, path_);
    return false;
}

bool Recording::Open(const std::string& path)
{
    path_ = path;
    PrepareHeader(&block_->block);
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

bool Recording::ChannelPoints(int64_t* points) const { return AbfChannelPoints(block_->block.header, points); }

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

bool Recording::EpisodeSamples(uint32_t episode, uint32_t* samples)
{
    int32_t error = 0;
    if (!ABF_GetNumSamples(file_, &block_->block.header, episode, samples, &error)) return Fail(error);
    return true;
}

bool Recording::EpisodeStart(int logical, uint32_t episode, double* ms)
{
    const Channel* c = Find(logical);
    int32_t error = 0;
    *ms = 0.0;
    if (!ABF_GetStartTime(file_, &block_->block.header, c ? c->physical : -1, episode, ms, &error)) return Fail(error);
    return true;
}

bool Recording::EpisodeDuration(uint32_t episode, double* ms)
{
    int32_t error = 0;
    if (!ABF_GetEpisodeDuration(file_, &block_->block.header, episode, ms, &error)) return Fail(error);
    return true;
}

bool Recording::Read(int logical, uint32_t episode, float* out, uint32_t* count)
{
    const Channel* c = Find(logical);
    int32_t error = 0;
    *count = 0;
    if (!ABF_ReadChannel(file_, &block_->block.header, c ? c->physical : -1, episode, out, count, &error))
        return Fail(error);
    // The library never delivers more than one read holds; a count that says
    // otherwise is the file disagreeing with itself.
    if (*count > sampleLimit_) {
        error_ = "the library reported more samples than one read holds";
        return false;
    }
    return true;
}

bool Recording::ReadStimulus(int logical, uint32_t episode, float* out)
{
    const Channel* c = Find(logical);
    int32_t error = 0;
    if (!ABF_GetWaveform(file_, &block_->block.header, c ? c->physical : -1, episode, out, &error)) return Fail(error);
    return true;
}

std::string Recording::Note(int logical, bool withStart, double startTime) const
{
    const Channel* c = Find(logical);
    const AbfNoteInput in = {path_.c_str(), &block_->block.header, logical, c ? c->physical : -1, withStart, startTime};
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
    const ABFFileHeader& h = block_->block.header;
    if (h.lNumTagEntries <= 0) return true;
    std::vector<ABFTag> records(static_cast<std::size_t>(h.lNumTagEntries));
    int32_t error = 0;
    if (!ABF_ReadTags(file_, &h, 0, records.data(), static_cast<uint32_t>(records.size()), &error)) return Fail(error);
    const double scale = AbfTagTimeScale(h);
    for (const ABFTag& r : records) {
        char comment[kTagCommentWidth + 1];
        AbfTrimHeaderText(r.sComment, kTagCommentWidth, comment);
        tags->push_back({static_cast<double>(r.lTagTime) * scale, r.nTagType, comment});
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

// Each item is rendered on its own with the plug-in's appenders, so a value is
// exactly its piece of the key=value string; splitting the string itself would
// go wrong on texts that hold ";" or "=".
std::vector<HeaderField> Recording::HeaderFields() const
{
    const ABFFileHeader* h = &block_->block.header;
    std::vector<HeaderField> fields;
    std::vector<char> storage(kHeaderStringBufferSize);
    for (const HeaderItem& item : kHeaderCatalogue) {
        TextBuffer out;
        if (item.kind == kItemBlock) {
            for (int k = 0; k < item.keyCount; ++k) {
                TextBufferInit(&out, storage.data(), storage.size());
                const std::size_t n = AppendBlock(&out, &item.keys[k], 1, h);
                fields.push_back(
                    {item.keys[k].key, PieceValue(out.data, n, item.keys[k].key), HeaderField::kNumber, {}});
            }
            continue;
        }
        TextBufferInit(&out, storage.data(), storage.size());
        HeaderField f;
        f.key = item.key;
        std::size_t n = 0;
        switch (item.kind) {
        case kItemTextField:
            n = AppendTextField(&out, item.key, HeaderText(h, item, 0), item.width);
            f.kind = HeaderField::kText;
            break;
        case kItemTextList: {
            n = AppendTextList(&out, item.key, HeaderText(h, item, 0), item.count, item.width);
            f.kind = HeaderField::kTextList;
            std::vector<char> element(std::size_t{item.width} + 1);
            for (int k = 0; k < item.count; ++k)
                f.elements.push_back(TrimTextBoth(HeaderText(h, item, k), item.width, element.data()));
            break;
        }
        default:
            n = AppendList(&out, item.key, h, item);
            f.kind = HeaderField::kNumberList;
            break;
        }
        f.value = PieceValue(out.data, n, item.key);
        if (f.kind == HeaderField::kNumberList) f.elements = Split(f.value, ',');
        fields.push_back(std::move(f));
    }
    return fields;
}

}  // namespace sorvan
