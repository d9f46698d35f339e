// The stand-in host's object: its lifetime and settings, the audit of the plug-in's
// memory, and the waves and history it keeps. Loading the plug-in is load.cpp,
// calling its functions call.cpp, answering its messages messages.cpp.
#include "host.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#elif defined(KAV_HOST_HAVE_PLATFORM)
#include "platform/platform_hooks.h"
#endif

namespace kavhost {

namespace {

Host* gHost = nullptr;

}  // namespace

Host* CurrentHost() { return gHost; }

// ---------------------------------------------------------------- lifetime

Host::Host()
{
    gHost = this;
#if !defined(_WIN32) && defined(KAV_HOST_HAVE_PLATFORM)
    KavPlatformReset();
#endif
    InstallDialogAnswerers();
}

Host::~Host()
{
    if (gHost == this) {
        gHost = nullptr;
        RemoveDialogAnswerers();
    }
#if defined(_WIN32)
    if (programLibrary_) FreeLibrary(static_cast<HMODULE>(programLibrary_));
#endif
    // The plug-in library stays loaded: its globals are reset by the next start-up.
}

void Host::SetProgramVersion(int a, int b, int c, int d)
{
    programFile_ = ProgramFile::Versioned;
    programFileChosen_ = true;
    programVersion_ = {a, b, c, d};
}

void Host::FailMessage(int message, int code)
{
    if (code == 0)
        failMessage_.erase(message);
    else
        failMessage_[message] = code;
}

// Whatever the plug-in still owns has leaked: count it and take it back.
void Host::Reclaim(CallResult* r)
{
    for (Handle h : heap_.PluginOwned()) {
        ++r->leaked;
        ++leaked_;
        std::string text = heap_.Text(h);
        if (text.size() > 40) text = text.substr(0, 40) + "...";
        heap_.NoteViolation("leaked handle of " + std::to_string(heap_.Size(h)) + " bytes: \"" + text + "\"");
        heap_.SetOwner(h, Owner::Host);
        heap_.Free(h);
    }
}

bool Host::AuditClean() const
{
    return leaked_ == 0 && heap_.doubleReleased == 0 && heap_.useAfterRelease == 0 && heap_.violations.empty();
}

std::string Host::AuditReport() const
{
    std::string s = "leaked " + std::to_string(leaked_) + ", released twice " + std::to_string(heap_.doubleReleased) +
                    ", used after release " + std::to_string(heap_.useAfterRelease);
    for (auto& v : heap_.violations) s += "\n  " + v;
    return s;
}

// ---------------------------------------------------------------- waves

Wave* Host::MakeWave(int type, const std::vector<CountInt>& dims, const std::string& name)
{
    if (!ValidWaveType(type) || dims.empty() || dims.size() > 4) return nullptr;
    CountInt points = 1;
    for (CountInt d : dims) {
        if (d < 0 || (d > 0 && points > kMaxWavePoints / d)) return nullptr;
        points *= d;
    }
    const std::size_t bytes = kWaveRecData + WaveElementSize(type) * static_cast<std::size_t>(points);
    Handle h = heap_.Allocate(bytes, Owner::Host);
    if (!h) return nullptr;
    auto w = std::make_unique<Wave>();
    w->handle = h;
    w->name = name.empty() ? "wave" + std::to_string(waves_.size()) : name;
    const int16_t t = static_cast<int16_t>(type);
    std::memcpy(*h + kWaveRecPoints, &points, sizeof points);
    std::memcpy(*h + kWaveRecType, &t, 2);
    for (std::size_t i = 0; i < dims.size(); ++i)
        std::memcpy(*h + kWaveRecDimSizes + sizeof(CountInt) * i, &dims[i], sizeof(CountInt));
    if (type == kWaveText) w->text.assign(static_cast<std::size_t>(points), std::string());
    Wave* out = w.get();
    waves_.push_back(std::move(w));
    waveByHandle_[h] = out;
    SetDirect(out, directWaves_);
    return out;
}

void Host::ReleaseWaves()
{
    for (auto& w : waves_) heap_.Free(w->handle);
    waves_.clear();
    waveByHandle_.clear();
}

Wave* Host::FindWave(Handle h) const
{
    auto it = waveByHandle_.find(h);
    return it == waveByHandle_.end() ? nullptr : it->second;
}

void Host::SetDirect(Wave* w, bool on)
{
    const int16_t flag = on && kOffersDirectWaves ? 1 : 2;
    std::memcpy(*w->handle + kWaveRecDirect, &flag, 2);
}

std::vector<std::string> Host::HistoryLines() const
{
    std::vector<std::string> lines(1);
    for (char c : history_) {
        if (c == '\r')
            lines.emplace_back();
        else
            lines.back().push_back(c);
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

int Host::CountMessages(int message) const
{
    int n = 0;
    for (auto& m : messages_) n += m.message == message;
    return n;
}

}  // namespace kavhost
