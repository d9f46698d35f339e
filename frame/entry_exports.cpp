// Natively the entry points are exported under the names the host looks for,
// both handing over to XOPMainImpl. (On Win32 the module-definition file maps
// both exports onto XOPMainImpl itself.)
#include "xop.h"

#if !KAV_WINDOWS
KAV_XOP_EXPORT int XOPMain(IORecHandle record) { return XOPMainImpl(record); }

// Exported as "main"; a C++ function cannot be called main with this signature.
KAV_XOP_EXPORT int KavXopMainEntry(IORecHandle record) __asm__("main");
int KavXopMainEntry(IORecHandle record) { return XOPMainImpl(record); }
#endif
