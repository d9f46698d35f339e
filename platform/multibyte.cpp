// Stand-ins for the ANSI code page queries: GetACP and IsDBCSLeadByte. The code
// page is whatever the host or a test selected (KavPlatformSetCodePage); by
// default a single-byte one, in which no byte leads a double-byte character.
#include "platform_hooks.h"

namespace {

constexpr UINT kDefaultCodePage = 1252;
UINT gCodePage = kDefaultCodePage;

}  // namespace

void KavPlatformSetCodePage(UINT codePage) { gCodePage = codePage ? codePage : kDefaultCodePage; }

UINT GetACP(void) { return gCodePage; }

BOOL IsDBCSLeadByte(BYTE c)
{
    switch (gCodePage) {
    case 932:  // Japanese (Shift-JIS)
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:  // Simplified Chinese (GBK)
    case 949:  // Korean (Unified Hangul)
    case 950:  // Traditional Chinese (Big5)
        return c >= 0x81 && c <= 0xFE;
    default:  // single-byte code pages
        return FALSE;
    }
}
