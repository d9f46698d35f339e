#include "fake_host.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace fakehost {
namespace {
struct Block {
    char* data;
    intptr_t size;
};
std::map<Handle, Block> gBlocks;
std::vector<Message> gMessages;
Answer gAnswer;
intptr_t gResizeLimit = -1;
int gFailNew = 0;
int gMemError = 0;

char* NewData(intptr_t size)
{
    char* p = static_cast<char*>(std::malloc(static_cast<std::size_t>(size) + 1));
    std::memset(p, 0xCD, static_cast<std::size_t>(size) + 1);
    return p;
}

void Callback(IORecHandle record)
{
    IORec& rec = **record;
    Message m;
    m.message = rec.message;
    m.itemCount = rec.itemCount;
    m.items.assign(rec.items, rec.items + rec.itemCount);
    m.recordSize = GetHandleSize(reinterpret_cast<Handle>(record));
    gMessages.push_back(m);
    rec.result = gAnswer ? gAnswer(rec) : 0;
}
}  // namespace

void Reset()
{
    gMessages.clear();
    gAnswer = nullptr;
    gResizeLimit = -1;
    gFailNew = 0;
    gMemError = 0;
}

IORecHandle NewRecord(intptr_t size)
{
    Handle h = ::NewHandle(size);
    std::memset(*h, 0, static_cast<std::size_t>(size));
    IORecHandle rec = reinterpret_cast<IORecHandle>(h);
    (*rec)->callback = Callback;
    return rec;
}

void SetAnswer(Answer answer) { gAnswer = std::move(answer); }
const std::vector<Message>& Messages() { return gMessages; }
void FailResizeAbove(intptr_t limit) { gResizeLimit = limit; }
void FailNewHandles(int count) { gFailNew = count; }

Handle MakeText(const char* text)
{
    intptr_t n = static_cast<intptr_t>(std::strlen(text));
    Handle h = ::NewHandle(n);
    std::memcpy(*h, text, static_cast<std::size_t>(n));
    return h;
}

std::vector<char> Bytes(Handle h)
{
    const Block& b = gBlocks.at(h);
    return std::vector<char>(b.data, b.data + b.size);
}

int LiveHandles() { return static_cast<int>(gBlocks.size()); }

}  // namespace fakehost

using namespace fakehost;

extern "C" Handle NewHandle(intptr_t size)
{
    if (gFailNew > 0 || size < 0) {
        --gFailNew;
        gMemError = 1;
        return nullptr;
    }
    Handle h = static_cast<Handle>(std::malloc(sizeof(char*)));
    *h = NewData(size);
    gBlocks[h] = Block{*h, size};
    gMemError = 0;
    return h;
}

extern "C" void SetHandleSize(Handle h, intptr_t size)
{
    auto it = gBlocks.find(h);
    if (it == gBlocks.end() || size < 0 || (gResizeLimit >= 0 && size > gResizeLimit)) {
        gMemError = 1;
        return;
    }
    // Always move the block, and poison the old one, so stale pointers show.
    char* moved = NewData(size);
    std::memcpy(moved, it->second.data, static_cast<std::size_t>(size < it->second.size ? size : it->second.size));
    std::memset(it->second.data, 0xDD, static_cast<std::size_t>(it->second.size));
    std::free(it->second.data);
    it->second = Block{moved, size};
    *h = moved;
    gMemError = 0;
}

extern "C" intptr_t GetHandleSize(Handle h)
{
    auto it = gBlocks.find(h);
    return it == gBlocks.end() ? 0 : it->second.size;
}

extern "C" void DisposeHandle(Handle h)
{
    auto it = gBlocks.find(h);
    if (it == gBlocks.end()) return;
    std::free(it->second.data);
    gBlocks.erase(it);
    std::free(h);
}

extern "C" int PtrToHand(const void* src, Handle* dest, intptr_t size)
{
    Handle h = NewHandle(size);
    if (!h) return 1;
    if (size) std::memcpy(*h, src, static_cast<std::size_t>(size));
    *dest = h;
    return 0;
}

extern "C" int MemError(void) { return gMemError; }
extern "C" void* GetIgorModule(void) { return reinterpret_cast<void*>(0x1234); }
extern "C" void* GetIgorClientHWND(void) { return reinterpret_cast<void*>(0x5678); }
