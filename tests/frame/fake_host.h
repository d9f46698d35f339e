// A minimal host for testing the plug-in's frame in-process: relocatable handles
// that move on every resize, a plug-in record, and a callback that records each
// message and answers through a test-supplied function.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "interface/host_abi.h"

namespace fakehost {

struct Message {
    int message;
    int itemCount;
    std::vector<XopItem> items;
    intptr_t recordSize;  // size of the record handle when the host got the message
};

// What the host answers for a message: the value written into `result`.
using Answer = std::function<XopItem(IORec& rec)>;

void Reset();                          // forgets every message, failure and answer
IORecHandle NewRecord(intptr_t size);  // a record handle as the host would pass it
void SetAnswer(Answer answer);
const std::vector<Message>& Messages();

// Resizes of any handle to more than `limit` bytes fail (MemError non-zero);
// -1 removes the limit.
void FailResizeAbove(intptr_t limit);
// The next `count` NewHandle / PtrToHand calls fail.
void FailNewHandles(int count);

Handle MakeText(const char* text);  // a string handle without NUL
std::vector<char> Bytes(Handle h);  // the handle's bytes
int LiveHandles();                  // handles not yet released

}  // namespace fakehost
