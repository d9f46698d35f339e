// The plug-in's messages to the host: each checked against the record and the
// host's memory (what does not hold is a violation in the audit) and answered.
#include <cstring>

#include "host.h"

namespace kavhost {

// ---------------------------------------------------------------- from the plug-in

void Host::OnMessage(IORecHandle rec)
{
    if (rec != record_) {
        heap_.NoteViolation("callback with a record that is not the host's");
        return;
    }
    Handle h = reinterpret_cast<Handle>(rec);
    if (!heap_.IsLive(h)) {
        heap_.NoteUseAfterRelease("callback with a released record");
        return;
    }
    const std::size_t size = heap_.Size(h);
    const int message = (*rec)->message;
    const int count = (*rec)->itemCount;
    MessageRecord m{message, count, size, 0};
    if (count < 0 || count > kIORecMaxItems || size < IORecSizeForItems(count)) {
        heap_.NoteViolation("message " + std::to_string(message) + " with " + std::to_string(count) +
                            " items in a record of " + std::to_string(size) + " bytes");
        m.result = kHostBadHandle;
        (*rec)->result = m.result;
        messages_.push_back(m);
        return;
    }
    // Item by item: in the packed 64-bit record the items are not 8-byte aligned.
    std::vector<XopItem> items(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) items[static_cast<std::size_t>(i)] = (*rec)->items[i];
    auto fail = failMessage_.find(message);
    m.result = fail != failMessage_.end() ? fail->second : Dispatch(message, items);
    (*record_)->result = m.result;  // dereferenced anew: handling may move memory
    messages_.push_back(m);
}

Wave* Host::ItemWave(XopItem item, const char* who)
{
    Handle h = reinterpret_cast<Handle>(item);
    Wave* w = FindWave(h);
    if (w && heap_.IsLive(h)) return w;
    if (h && heap_.IsReleased(h))
        heap_.NoteUseAfterRelease(std::string(who) + ": released wave handle");
    else
        heap_.NoteViolation(std::string(who) + (h ? ": not a wave handle" : ": null wave handle"));
    return nullptr;
}

const char* Host::ItemText(XopItem item, const char* who)
{
    const char* p = reinterpret_cast<const char*>(item);
    if (!p) {
        heap_.NoteViolation(std::string(who) + ": null text");
        return nullptr;
    }
    if (heap_.InReleasedBlock(p)) {
        heap_.NoteUseAfterRelease(std::string(who) + ": text in a released block");
        return nullptr;
    }
    return p;
}

intptr_t Host::ChangeWaveMessage(const std::vector<XopItem>& it)
{
    Wave* w = ItemWave(it[0], "change wave (43)");
    if (!w) return kHostBadWave;
    const CountInt points = it[1];
    const int type = static_cast<int>(it[2]);
    if (!ValidWaveType(type)) return kHostBadWaveType;
    if (points < 0 || points > kMaxWavePoints) return kHostBadPointCount;
    const std::size_t bytes = kWaveRecData + WaveElementSize(type) * static_cast<std::size_t>(points);
    if (!heap_.Resize(w->handle, bytes)) return kHostNoMemory;
    const int16_t t = static_cast<int16_t>(type);
    const CountInt dims[4] = {points, 0, 0, 0};
    std::memcpy(*w->handle + kWaveRecPoints, &points, sizeof points);
    std::memcpy(*w->handle + kWaveRecType, &t, 2);
    std::memcpy(*w->handle + kWaveRecDimSizes, dims, sizeof dims);
    w->text.assign(type == kWaveText ? static_cast<std::size_t>(points) : 0, std::string());
    return 0;
}

intptr_t Host::WaveNoteMessage(const std::vector<XopItem>& it)
{
    Handle note = reinterpret_cast<Handle>(it[1]);
    Wave* w = ItemWave(it[0], "wave note (55)");
    if (note && !heap_.IsKnown(note)) {
        heap_.NoteViolation("wave note (55): not a handle of this host");
        return kHostBadHandle;
    }
    if (note && heap_.IsReleased(note)) {
        heap_.NoteUseAfterRelease("wave note (55): released note handle");
        return kHostBadHandle;
    }
    // The note handle is the host's from now on, whatever happens to the wave.
    std::string text = note ? heap_.Text(note) : std::string();
    if (note) {
        if (heap_.OwnerOf(note) == Owner::Host)
            heap_.NoteViolation("wave note (55): note handle belongs to the host already");
        heap_.SetOwner(note, Owner::Host);
        heap_.Free(note);
    }
    if (!w) return kHostBadWave;
    w->note = text;
    return 0;
}

intptr_t Host::Dispatch(int message, const std::vector<XopItem>& it)
{
    auto NullPointer = [&](const char* what) {
        heap_.NoteViolation(what);
        return intptr_t{kHostBadHandle};
    };
    auto need = [&](std::size_t n) {
        if (it.size() >= n) return true;
        heap_.NoteViolation("message " + std::to_string(message) + " needs " + std::to_string(n) + " items");
        return false;
    };
    switch (message) {
    case kMsgWaveModified: {
        if (!need(1)) return kHostBadWave;
        Wave* w = ItemWave(it[0], "wave modified (1)");
        if (!w) return kHostBadWave;
        ++w->modified;
        return 0;
    }
    case kMsgHistoryPrint: {
        if (!need(1)) return kHostBadHandle;
        const char* text = ItemText(it[0], "history print (8)");
        if (text) history_ += text;
        return 0;
    }
    case kMsgWaveType:
    case kMsgWavePoints:
    case kMsgWaveData: {
        if (!need(1)) return kHostBadWave;
        Wave* w = ItemWave(it[0], message == kMsgWaveType     ? "wave type (34)"
                                  : message == kMsgWavePoints ? "wave points (35)"
                                                              : "wave data (37)");
        if (!w) return message == kMsgWaveData ? 0 : kHostBadWave;
        if (message == kMsgWaveType) return w->Type();
        if (message == kMsgWavePoints) return w->Points();
        return reinterpret_cast<intptr_t>(w->Data());
    }
    case kMsgChangeWave: return need(3) ? ChangeWaveMessage(it) : intptr_t{kHostBadWave};
    case kMsgSetWaveScaling: {
        if (!need(3)) return kHostBadWave;
        Wave* w = ItemWave(it[0], "wave scaling (51)");
        if (!w) return kHostBadWave;
        auto* step = reinterpret_cast<const double*>(it[1]);
        auto* start = reinterpret_cast<const double*>(it[2]);
        if (step) w->xstep = *step;
        if (start) w->xstart = *start;
        return 0;
    }
    case kMsgSetWaveUnits: {
        if (!need(3)) return kHostBadWave;
        Wave* w = ItemWave(it[0], "wave units (53)");
        if (!w) return kHostBadWave;
        if (it[1] && ItemText(it[1], "wave units (53)")) w->xunits = reinterpret_cast<const char*>(it[1]);
        if (it[2] && ItemText(it[2], "wave units (53)")) w->dataunits = reinterpret_cast<const char*>(it[2]);
        return 0;
    }
    case kMsgSetWaveNote: return need(2) ? WaveNoteMessage(it) : intptr_t{kHostBadWave};
    case kMsgWaveDimensions: {
        if (!need(2)) return kHostBadWave;
        Wave* w = ItemWave(it[0], "wave dimensions (78)");
        if (!w) return kHostBadWave;
        auto* count = reinterpret_cast<int32_t*>(it[1]);
        if (!count) return NullPointer("wave dimensions (78): null count pointer");
        *count = w->Dimensions();
        return 0;
    }
    case kMsgNativePath: {
        if (!need(1)) return kHostBadHandle;
        auto* text = reinterpret_cast<char*>(it[0]);
        if (!ItemText(it[0], "native path (172)")) return kHostBadHandle;
#if defined(_WIN32)
        // Windows notation: the same length, so the text stays within its block.
        for (char* c = text; *c; ++c)
            if (*c == '/') *c = '\\';
#else
        (void)text;  // POSIX paths are native already
#endif
        return 0;
    }
    case kMsgHostVersion: {
        if (!need(1)) return kHostBadHandle;
        if (!versionAnswered_) return kHostUnknownMessage;
        auto* v = reinterpret_cast<int32_t*>(it[0]);
        if (!v) return NullPointer("host version (238): null pointer");
        *v = versionAnswer_;
        return 0;
    }
    default: return kHostUnknownMessage;
    }
}

}  // namespace kavhost
