// Stand-ins for GetModuleFileNameA and the VERSION.dll queries: module names and
// file versions are whatever the host configured.
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform_hooks.h"
#include "platform_state.h"

namespace {

std::mutex gMutex;
std::map<void*, std::string> gModuleNames;
struct FileVersion {
    WORD parts[4];
};
std::map<std::string, FileVersion> gFileVersions;

// The version block, laid out as Windows does: a VS_VERSIONINFO node header
// (length, value length, type), the key "VS_VERSION_INFO" in UTF-16 padded to a
// 4-byte boundary, then the fixed file information.
constexpr char kVersionKey[] = "VS_VERSION_INFO";
constexpr std::size_t kKeyOffset = 6;
constexpr std::size_t kFixedInfoOffset = 40;  // 6 + 32 bytes of key, rounded up to 4
constexpr std::size_t kBlockSize = kFixedInfoOffset + sizeof(VS_FIXEDFILEINFO);

void PutWord(unsigned char* p, WORD w)
{
    p[0] = static_cast<unsigned char>(w & 0xFF);
    p[1] = static_cast<unsigned char>(w >> 8);
}

WORD GetWord(const unsigned char* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

void BuildBlock(const FileVersion& v, unsigned char* block)
{
    std::memset(block, 0, kBlockSize);
    PutWord(block, static_cast<WORD>(kBlockSize));
    PutWord(block + 2, static_cast<WORD>(sizeof(VS_FIXEDFILEINFO)));
    PutWord(block + 4, 0);  // binary value
    for (std::size_t i = 0; i < sizeof(kVersionKey); ++i)
        PutWord(block + kKeyOffset + 2 * i, static_cast<WORD>(kVersionKey[i]));
    VS_FIXEDFILEINFO info{};
    info.dwSignature = VS_FFI_SIGNATURE;
    info.dwStrucVersion = VS_FFI_STRUCVERSION;
    info.dwFileVersionMS = (DWORD{v.parts[0]} << 16) | v.parts[1];
    info.dwFileVersionLS = (DWORD{v.parts[2]} << 16) | v.parts[3];
    info.dwProductVersionMS = info.dwFileVersionMS;
    info.dwProductVersionLS = info.dwFileVersionLS;
    info.dwFileFlagsMask = 0x3F;
    info.dwFileOS = 0x40004;
    info.dwFileType = 1;  // application
    std::memcpy(block + kFixedInfoOffset, &info, sizeof info);
}

bool IsVersionBlock(const unsigned char* block)
{
    if (GetWord(block) < kBlockSize || GetWord(block + 2) != sizeof(VS_FIXEDFILEINFO)) return false;
    for (std::size_t i = 0; i < sizeof(kVersionKey); ++i)
        if (GetWord(block + kKeyOffset + 2 * i) != static_cast<WORD>(kVersionKey[i])) return false;
    return true;
}

}  // namespace

void KavPlatformSetModuleFileName(void* module, const char* path)
{
    std::lock_guard<std::mutex> lock(gMutex);
    if (path)
        gModuleNames[module] = path;
    else
        gModuleNames.erase(module);
}

void KavPlatformSetFileVersion(const char* path, int v1, int v2, int v3, int v4)
{
    if (!path) return;
    std::lock_guard<std::mutex> lock(gMutex);
    gFileVersions[path] =
        FileVersion{{static_cast<WORD>(v1), static_cast<WORD>(v2), static_cast<WORD>(v3), static_cast<WORD>(v4)}};
}

void KavPlatformResetModules()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gModuleNames.clear();
    gFileVersions.clear();
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size)
{
    std::lock_guard<std::mutex> lock(gMutex);
    auto it = gModuleNames.find(module);
    if (it == gModuleNames.end() || !fileName || size == 0) return 0;
    const std::string& path = it->second;
    if (path.size() < size) {
        std::memcpy(fileName, path.c_str(), path.size() + 1);
        return static_cast<DWORD>(path.size());
    }
    // Truncated: as many characters as fit with the NUL; the answer is the buffer size.
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    return size;
}

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle)
{
    if (handle) *handle = 0;
    if (!fileName) return 0;
    std::lock_guard<std::mutex> lock(gMutex);
    return gFileVersions.count(fileName) ? static_cast<DWORD>(kBlockSize) : 0;
}

BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD, DWORD size, LPVOID data)
{
    if (!fileName || !data) return FALSE;
    FileVersion v;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        auto it = gFileVersions.find(fileName);
        if (it == gFileVersions.end()) return FALSE;
        v = it->second;
    }
    unsigned char block[kBlockSize];
    BuildBlock(v, block);
    std::memcpy(data, block, size < kBlockSize ? size : kBlockSize);
    return size >= kBlockSize ? TRUE : FALSE;
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length)
{
    if (!block || !subBlock || !buffer) return FALSE;
    const auto* bytes = static_cast<const unsigned char*>(block);
    // Only the fixed file information ("\" alone) is kept in these blocks.
    if (std::strcmp(subBlock, "\\") != 0 || !IsVersionBlock(bytes)) return FALSE;
    *buffer = const_cast<unsigned char*>(bytes + kFixedInfoOffset);
    if (length) *length = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}
