#include "memory.h"

#include <cstring>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAV_HOST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KAV_HOST_ASAN 1
#endif
#if defined(KAV_HOST_ASAN)
#include <sanitizer/asan_interface.h>
#define KAV_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define KAV_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define KAV_POISON(p, n) ((void)(p), (void)(n))
#define KAV_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace kavhost {

namespace {
constexpr std::size_t kAlign = 16;
constexpr std::size_t kQuarantineBudget = 64u << 20;  // bytes of released blocks kept poisoned
std::size_t Capacity(std::size_t size) { return size == 0 ? kAlign : size; }
}  // namespace

HandleHeap::~HandleHeap()
{
    for (auto& [h, inf] : info_) {
        if (!inf.released && *h) ::operator delete(*h, std::align_val_t(kAlign));
        delete h;
    }
    for (auto& [block, r] : quarantine_) {
        KAV_UNPOISON(block, r.capacity);
        ::operator delete(const_cast<char*>(block), std::align_val_t(kAlign));
    }
}

char* HandleHeap::NewBlock(std::size_t size)
{
    return static_cast<char*>(::operator new(Capacity(size), std::align_val_t(kAlign), std::nothrow));
}

void HandleHeap::Retire(char* block, std::size_t capacity, Handle released)
{
    std::memset(block, kPoisonByte, capacity);
    KAV_POISON(block, capacity);
    quarantine_[block] = Retired{capacity, released};
    quarantineOrder_.push_back(block);
    quarantineBytes_ += capacity;
    EvictQuarantine();
}

void HandleHeap::EvictQuarantine()
{
    std::size_t drop = 0;
    while (quarantineBytes_ > kQuarantineBudget && drop < quarantineOrder_.size()) {
        const char* block = quarantineOrder_[drop++];
        auto it = quarantine_.find(block);
        if (it == quarantine_.end()) continue;
        std::size_t cap = it->second.capacity;
        quarantineBytes_ -= cap;
        // A released handle whose master pointer still names this block now names nothing.
        if (it->second.handle) *it->second.handle = nullptr;
        quarantine_.erase(it);
        KAV_UNPOISON(block, cap);
        ::operator delete(const_cast<char*>(block), std::align_val_t(kAlign));
    }
    quarantineOrder_.erase(quarantineOrder_.begin(), quarantineOrder_.begin() + static_cast<std::ptrdiff_t>(drop));
}

Handle HandleHeap::Allocate(std::size_t size, Owner owner)
{
    char* block = NewBlock(size);
    if (!block) return nullptr;
    std::memset(block, 0, Capacity(size));
    Handle h = new char*(block);
    info_[h] = Info{size, Capacity(size), owner, false};
    if (owner == Owner::Plugin) pluginLive_.insert(h);
    return h;
}

Handle HandleHeap::FromText(const std::string& text, Owner owner)
{
    Handle h = Allocate(text.size(), owner);
    if (h && !text.empty()) std::memcpy(*h, text.data(), text.size());
    return h;
}

bool HandleHeap::Resize(Handle h, std::size_t size)
{
    auto it = info_.find(h);
    if (it == info_.end() || it->second.released) return false;
    Info& inf = it->second;
    if (size == inf.size && !moveOnResize_) return true;
    if (size <= inf.size && !moveOnResize_) {
        // Shrinking in place; the tail is poisoned so reads past the new end show.
        std::memset(*h + size, kPoisonByte, inf.size - size);
        inf.size = size;
        return true;
    }
    char* block = NewBlock(size);
    if (!block) return false;
    std::size_t keep = size < inf.size ? size : inf.size;
    std::memcpy(block, *h, keep);
    std::memset(block + keep, 0, Capacity(size) - keep);
    Retire(*h, inf.capacity, nullptr);
    *h = block;
    inf.size = size;
    inf.capacity = Capacity(size);
    return true;
}

void HandleHeap::Free(Handle h)
{
    auto it = info_.find(h);
    if (it == info_.end() || it->second.released) return;
    it->second.released = true;
    pluginLive_.erase(h);
    Retire(*h, it->second.capacity, h);
}

std::string HandleHeap::Text(Handle h) const
{
    if (!IsLive(h)) return std::string();
    return std::string(*h, Size(h));
}

bool HandleHeap::IsLive(Handle h) const
{
    auto it = info_.find(h);
    return it != info_.end() && !it->second.released;
}

bool HandleHeap::IsReleased(Handle h) const
{
    auto it = info_.find(h);
    return it != info_.end() && it->second.released;
}

void HandleHeap::SetOwner(Handle h, Owner owner)
{
    auto it = info_.find(h);
    if (it == info_.end()) return;
    it->second.owner = owner;
    if (owner == Owner::Plugin && !it->second.released)
        pluginLive_.insert(h);
    else
        pluginLive_.erase(h);
}

Owner HandleHeap::OwnerOf(Handle h) const
{
    auto it = info_.find(h);
    return it == info_.end() ? Owner::Host : it->second.owner;
}

std::size_t HandleHeap::Size(Handle h) const
{
    auto it = info_.find(h);
    return it == info_.end() ? 0 : it->second.size;
}

std::vector<Handle> HandleHeap::PluginOwned() const
{
    return std::vector<Handle>(pluginLive_.begin(), pluginLive_.end());
}

bool HandleHeap::InReleasedBlock(const void* p) const
{
    const char* c = static_cast<const char*>(p);
    auto it = quarantine_.upper_bound(c);
    if (it == quarantine_.begin()) return false;
    --it;
    return c >= it->first && c < it->first + it->second.capacity;
}

void HandleHeap::NoteUseAfterRelease(const std::string& where)
{
    ++useAfterRelease;
    violations.push_back("use after release: " + where);
}

void HandleHeap::FailNth(unsigned ops, int nth, bool sticky)
{
    failOps_ = nth > 0 ? ops : 0;
    failCountdown_ = nth;
    failSticky_ = sticky;
    failing_ = false;
}

bool HandleHeap::InjectFailure(MemOp op)
{
    if (!(failOps_ & op)) return false;
    if (failing_) return true;
    if (--failCountdown_ > 0) return false;
    if (failSticky_) {
        failing_ = true;
    } else {
        failOps_ = 0;
    }
    return true;
}

HandleHeap::Info* HandleHeap::Find(Handle h, const char* who)
{
    auto it = info_.find(h);
    if (it == info_.end()) {
        NoteViolation(std::string(who) + ": not a handle of this host");
        return nullptr;
    }
    if (it->second.released) {
        NoteUseAfterRelease(who);
        return nullptr;
    }
    return &it->second;
}

Handle HandleHeap::NewHandle(intptr_t size)
{
    ++pluginCalls_;
    if (size < 0 || InjectFailure(kOpNew)) {
        memError_ = kHostNoMemory;
        return nullptr;
    }
    Handle h = Allocate(static_cast<std::size_t>(size), Owner::Plugin);
    memError_ = h ? 0 : kHostNoMemory;
    return h;
}

void HandleHeap::SetHandleSize(Handle h, intptr_t size)
{
    ++pluginCalls_;
    Info* inf = Find(h, "SetHandleSize");
    if (!inf) {
        memError_ = kHostBadHandle;
        return;
    }
    auto lim = limits_.find(h);
    if (size < 0 || (lim != limits_.end() && static_cast<std::size_t>(size) > lim->second) ||
        (static_cast<std::size_t>(size) != inf->size && InjectFailure(kOpResize))) {
        memError_ = kHostNoMemory;
        return;
    }
    memError_ = Resize(h, static_cast<std::size_t>(size)) ? 0 : kHostNoMemory;
}

intptr_t HandleHeap::GetHandleSize(Handle h)
{
    ++pluginCalls_;
    Info* inf = Find(h, "GetHandleSize");
    memError_ = inf ? 0 : kHostBadHandle;
    return inf ? static_cast<intptr_t>(inf->size) : 0;
}

void HandleHeap::DisposeHandle(Handle h)
{
    ++pluginCalls_;
    memError_ = 0;
    if (!h) return;  // releasing null is harmless
    auto it = info_.find(h);
    if (it == info_.end()) {
        NoteViolation("DisposeHandle: not a handle of this host");
        memError_ = kHostBadHandle;
        return;
    }
    if (it->second.released) {
        ++doubleReleased;
        violations.push_back("DisposeHandle: handle released twice");
        return;
    }
    if (it->second.owner != Owner::Plugin) NoteViolation("DisposeHandle: released a handle the host owns");
    Free(h);
}

int HandleHeap::PtrToHand(const void* src, Handle* dest, intptr_t size)
{
    ++pluginCalls_;
    if (!dest) {
        NoteViolation("PtrToHand: null destination");
        return memError_ = kHostBadHandle;
    }
    if (size < 0 || InjectFailure(kOpPtrToHand)) {
        *dest = nullptr;
        return memError_ = kHostNoMemory;
    }
    Handle h = Allocate(static_cast<std::size_t>(size), Owner::Plugin);
    if (!h) {
        *dest = nullptr;
        return memError_ = kHostNoMemory;
    }
    if (size > 0) std::memcpy(*h, src, static_cast<std::size_t>(size));
    *dest = h;
    return memError_ = 0;
}

}  // namespace kavhost
