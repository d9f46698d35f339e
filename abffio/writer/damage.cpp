// Damage done to a written file afterwards (malformed inputs for the readers):
// raw little-endian overwrites at offsets within the named sections, then a cut.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include "internal.h"

namespace abfw {

bool ApplyDamage(const RecordingSpec& rec, const Layout& layout, const std::string& path, std::string* error)
{
    const Damage& d = rec.damage;
    if (!d.patches.empty()) {
        std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "r+b"));
        if (!f) return Fail(error, "cannot reopen \"" + path + "\" to damage it");
        for (const Damage::Patch& p : d.patches) {
            const int64_t base = SectionOffset(layout, p.section);
            if (base < 0) return Fail(error, "damage names an absent section \"" + p.section + "\"");
            const int64_t at = base + p.offset;
            uint8_t b[8];
            for (int i = 0; i < 8; ++i) b[i] = uint8_t(p.value >> (8 * i));
            if (at < 0 || at + p.width > layout.fileSize || !SeekFromStart(f.get(), at) ||
                !WriteAll(f.get(), b, size_t(p.width)))
                return Fail(error, "cannot patch \"" + path + "\"");
        }
    }
    if (d.truncate) {
        const int64_t base = SectionOffset(layout, d.truncateSection);
        if (base < 0) return Fail(error, "damage names an absent section \"" + d.truncateSection + "\"");
        const int64_t size = std::max<int64_t>(0, std::min(layout.fileSize, base + d.truncateAt));
        std::error_code ec;
        std::filesystem::resize_file(std::filesystem::u8path(path), uint64_t(size), ec);
        if (ec) return Fail(error, "cannot truncate \"" + path + "\": " + ec.message());
    }
    return true;
}

}  // namespace abfw
