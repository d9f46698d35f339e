// The host's relocatable memory: handles (a stable pointer to a master pointer
// that points at the block), with an ownership audit and fault injection.
//
// Every handle remembers who owns it. Handles the plug-in creates, and string
// handles the host passes to it, belong to the plug-in until it releases them or
// hands them back (string result, by-reference string, wave note). Whatever the
// plug-in still owns after a call has leaked. Released blocks are poisoned and kept
// in quarantine for a while, and master pointers are never reused, so a stale
// handle can be recognised and a stale pointer reads garbage instead of live data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "interface/host_abi.h"

namespace kavhost {

enum class Owner { Host, Plugin };

// Memory operations that fault injection can make fail.
enum MemOp : unsigned {
    kOpNew = 1,        // NewHandle
    kOpResize = 2,     // SetHandleSize (any size change)
    kOpPtrToHand = 4,  // PtrToHand
    kOpAll = 7,
};

// Host error codes (the host's own numbering).
enum HostError : int {
    kHostNoMemory = 1,
    kHostBadHandle = 1001,
    kHostBadWave,         // 1002
    kHostBadWaveType,     // 1003
    kHostBadPointCount,   // 1004
    kHostUnknownMessage,  // 1005
};

inline constexpr unsigned char kPoisonByte = 0xDD;

class HandleHeap {
public:
    HandleHeap() = default;
    ~HandleHeap();
    HandleHeap(const HandleHeap&) = delete;
    HandleHeap& operator=(const HandleHeap&) = delete;

    // --- The host's own use: never fault-injected, not counted as plug-in calls.
    Handle Allocate(std::size_t size, Owner owner);
    Handle FromText(const std::string& text, Owner owner);
    bool Resize(Handle h, std::size_t size);  // keeps the contents; may move the block
    void Free(Handle h);                      // the host releasing its own handle
    std::string Text(Handle h) const;         // the block's bytes as a string

    // --- The functions the plug-in calls (exported by the host program).
    Handle NewHandle(intptr_t size);
    void SetHandleSize(Handle h, intptr_t size);
    intptr_t GetHandleSize(Handle h);
    void DisposeHandle(Handle h);
    int PtrToHand(const void* src, Handle* dest, intptr_t size);
    int MemError() const { return memError_; }

    // --- Ownership.
    bool IsKnown(Handle h) const { return info_.count(h) != 0; }
    bool IsLive(Handle h) const;
    bool IsReleased(Handle h) const;
    void SetOwner(Handle h, Owner owner);
    Owner OwnerOf(Handle h) const;
    std::size_t Size(Handle h) const;
    // Live handles the plug-in owns (leaked if still there after a call).
    std::vector<Handle> PluginOwned() const;
    // Whether p points into a block that was released or left behind by a move.
    bool InReleasedBlock(const void* p) const;

    // --- Audit counters and findings.
    int doubleReleased = 0;
    int useAfterRelease = 0;
    std::vector<std::string> violations;
    void NoteUseAfterRelease(const std::string& where);
    void NoteViolation(const std::string& what) { violations.push_back(what); }

    // --- Test modes and fault injection.
    // Move the block on every size change (stale pointers then read poison).
    void SetMoveOnResize(bool on) { moveOnResize_ = on; }
    // The nth plug-in call among `ops` from now fails (1 = the next); with `sticky`
    // every matching call from then on fails too. nth 0 turns injection off.
    void FailNth(unsigned ops, int nth, bool sticky = false);
    // Resizes of h by the plug-in to more than maxSize bytes fail.
    void LimitSize(Handle h, std::size_t maxSize) { limits_[h] = maxSize; }
    void ClearLimit(Handle h) { limits_.erase(h); }
    int PluginCalls() const { return pluginCalls_; }

private:
    struct Info {
        std::size_t size = 0;
        std::size_t capacity = 0;  // bytes of the block (shrinking keeps the block)
        Owner owner = Owner::Host;
        bool released = false;
    };
    char* NewBlock(std::size_t size);
    void Retire(char* block, std::size_t capacity, Handle released);  // poison and quarantine
    void EvictQuarantine();
    bool InjectFailure(MemOp op);
    Info* Find(Handle h, const char* who);

    struct Retired {
        std::size_t capacity = 0;
        Handle handle = nullptr;  // the released handle still naming the block, if any
    };
    std::unordered_map<Handle, Info> info_;
    std::unordered_set<Handle> pluginLive_;  // live handles the plug-in owns
    std::map<const char*, Retired> quarantine_;
    std::vector<const char*> quarantineOrder_;
    std::size_t quarantineBytes_ = 0;
    std::unordered_map<Handle, std::size_t> limits_;
    int memError_ = 0;
    bool moveOnResize_ = false;
    unsigned failOps_ = 0;
    int failCountdown_ = 0;
    bool failSticky_ = false;
    bool failing_ = false;
    int pluginCalls_ = 0;
};

}  // namespace kavhost
