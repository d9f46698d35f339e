// The adapter between sorvan and the plug-in's pure code: the library is opened
// with the header block the plug-in prepares, and names, units, the X step, the
// wave note, the tag time scale and the header catalogue come from the plug-in's
// own functions, so that a file sorvan writes says what the plug-in's wave says.
#include "sorvan/recording.h"

#include <cstring>

#include "core/header_block.h"
#include "core/header_catalogue.h"
#include "core/header_text.h"
#include "core/header_values.h"
#include "core/text.h"
#include "core/wave_note.h"
#include "interface/abffio.h"

namespace sorvan {

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

bool Recording::EpisodeSamples(uint32_t episode, uint32_t* samples)
{
    int32_t error = 0;
    if (!ABF_GetNumSamples(file_, &block_->block.header, episode, samples, &error)) return Fail(error);
    return true;
}

bool Recording::EpisodeStart(int logical, uint32_t episode, double* ms)
{
    int32_t error = 0;
    *ms = 0.0;
    if (!ABF_GetStartTime(file_, &block_->block.header, Physical(logical), episode, ms, &error)) return Fail(error);
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
    int32_t error = 0;
    *count = 0;
    if (!ABF_ReadChannel(file_, &block_->block.header, Physical(logical), episode, out, count, &error))
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

}  // namespace sorvan
