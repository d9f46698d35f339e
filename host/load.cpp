// Loading the plug-in as the host does: the program file beside the host and its
// version, the library opened, its function table and error texts read from its
// resources, and its entry point called with the record.
#include <cstdio>
#include <cstring>

#include "host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#if defined(KAV_HOST_HAVE_PLATFORM)
#include "platform/platform_hooks.h"
#endif
#endif

namespace kavhost {

namespace {

typedef int (*MainProc)(IORecHandle);

// The plug-in beside the host, and the names its entry point may be exported
// under, in the order the host looks for them: XOPMain (undecorated, as the
// 64-bit toolkit exports it; decorated by the 32-bit C++ compiler), then main.
#if KAV_WIN64
const char kPluginFile[] = "kav_Sorvan64.xop";
const char* const kEntryNames[] = {"XOPMain", "main"};
#elif KAV_WIN32
const char kPluginFile[] = "kav_Sorvan.xop";
const char* const kEntryNames[] = {"main"};
#else
const char kPluginFile[] = "kav_Sorvan.so";
const char* const kEntryNames[] = {"main"};
#endif
typedef const void* (*FindResourceProc)(const char* type, int id, uint32_t* size);

constexpr int kResourceId = 1100;

extern "C" void HostCallback(IORecHandle rec)
{
    if (Host* host = CurrentHost()) host->OnMessage(rec);
}

std::string VersionText(const std::array<int, 4>& v)
{
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

#if !defined(_WIN32)
// Natively GetIgorModule answers the address of this object.
char gProgramModuleTag;
#endif

bool KnownParamType(uint16_t t)
{
    return t == kParamNumber || t == kParamString || t == kParamWave || t == kParamNumberRef || t == kParamStringRef;
}

}  // namespace

// ---------------------------------------------------------------- paths

std::string ProgramFolder()
{
#if defined(_WIN32)
    char buf[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string p(buf, n);
    auto cut = p.find_last_of("\\/");
#else
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string p(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    auto cut = p.find_last_of('/');
#endif
    return cut == std::string::npos ? std::string(".") : p.substr(0, cut);
}

std::vector<std::array<int, 4>> AvailableProgramVersions()
{
#if defined(_WIN32)
    std::vector<std::array<int, 4>> out;
    WIN32_FIND_DATAA fd;
    out.push_back({6, 2, 2, 0});  // the host executable itself
    HANDLE f = FindFirstFileA((ProgramFolder() + "\\hostver-*.dll").c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE) return out;
    do {
        std::array<int, 4> v{};
        if (std::sscanf(fd.cFileName, "hostver-%d.%d.%d.%d.dll", &v[0], &v[1], &v[2], &v[3]) == 4) out.push_back(v);
    } while (FindNextFileA(f, &fd));
    FindClose(f);
    return out;
#else
    return {{6, 2, 2, 0}, {6, 2, 2, 7}, {4, 9, 9, 0}, {5, 0, 0, 0}, {4, 10, 0, 0}, {4, 9, 10, 0}};
#endif
}

bool Host::PrepareProgramModule()
{
    programModule_ = nullptr;
    if (programFile_ == ProgramFile::NoModule) return true;
#if defined(_WIN32)
    const bool own = programFile_ == ProgramFile::Versioned && programVersion_ == std::array<int, 4>{6, 2, 2, 0};
    if (!programFileChosen_ || own) {
        programModule_ = GetModuleHandleA(nullptr);  // the host executable, version 6.2.2.0
        return true;
    }
    std::string file = programFile_ == ProgramFile::NoVersion ? std::string("hostver-none.dll")
                                                              : "hostver-" + VersionText(programVersion_) + ".dll";
    if (programLibrary_) FreeLibrary(static_cast<HMODULE>(programLibrary_));
    programLibrary_ = LoadLibraryA((ProgramFolder() + "\\" + file).c_str());
    if (!programLibrary_) {
        loadError_ = "no program file " + file + " beside the host";
        return false;
    }
    programModule_ = programLibrary_;
    return true;
#else
    programModule_ = &gProgramModuleTag;
#if defined(KAV_HOST_HAVE_PLATFORM)
    std::string path =
        ProgramFolder() + "/program-" +
        (programFile_ == ProgramFile::NoVersion ? std::string("unversioned") : VersionText(programVersion_));
    KavPlatformSetModuleFileName(programModule_, path.c_str());
    if (programFile_ == ProgramFile::Versioned)
        KavPlatformSetFileVersion(path.c_str(), programVersion_[0], programVersion_[1], programVersion_[2],
                                  programVersion_[3]);
#endif
    return true;
#endif
}

bool Host::OpenLibrary()
{
    const void* xopf = nullptr;
    const void* strs = nullptr;
    uint32_t xopfSize = 0, strsSize = 0;
    MainProc mainProc = nullptr;
#if defined(_WIN32)
    std::string path = pluginPath_.empty() ? ProgramFolder() + "\\" + kPluginFile : pluginPath_;
    HMODULE m = LoadLibraryA(path.c_str());
    if (!m) {
        loadError_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    library_ = m;
    auto res = [&](const char* type, uint32_t* size) -> const void* {
        HRSRC r = FindResourceExA(m, type, MAKEINTRESOURCEA(kResourceId), 1033);
        if (!r) return nullptr;
        HGLOBAL g = LoadResource(m, r);
        *size = SizeofResource(m, r);
        return g ? LockResource(g) : nullptr;
    };
    xopf = res("XOPF", &xopfSize);
    strs = res("STR#", &strsSize);
    for (const char* entry : kEntryNames)
        if (!mainProc) mainProc = reinterpret_cast<MainProc>(reinterpret_cast<void*>(GetProcAddress(m, entry)));
#else
    std::string path = pluginPath_.empty() ? ProgramFolder() + "/" + kPluginFile : pluginPath_;
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_) {
        const char* e = dlerror();
        loadError_ = "cannot load " + path + ": " + (e ? e : "?");
        return false;
    }
    auto find = reinterpret_cast<FindResourceProc>(dlsym(library_, "KavFindResource"));
    if (find) {
        xopf = find("XOPF", kResourceId, &xopfSize);
        strs = find("STR#", kResourceId, &strsSize);
    }
    for (const char* entry : kEntryNames)
        if (!mainProc) mainProc = reinterpret_cast<MainProc>(dlsym(library_, entry));
#endif
    if (!xopf) {
        loadError_ = "the plug-in has no function table (XOPF 1100)";
        return false;
    }
    std::string why;
    if (!ParseFunctionTable(static_cast<const unsigned char*>(xopf), xopfSize, &functions_, &why)) {
        loadError_ = "malformed function table: " + why;
        return false;
    }
    for (auto& f : functions_)
        for (uint16_t t : f.params)
            if (!KnownParamType(t)) {
                loadError_ = f.name + ": unknown parameter type " + ParamTypeName(t);
                return false;
            }
    if (strs) errorTexts_ = ParseStringList(static_cast<const unsigned char*>(strs), strsSize);
    if (!mainProc) {
        loadError_ = std::string("the plug-in exports no ") + (KAV_WIN64 ? "XOPMain or main" : "main");
        return false;
    }
    addresses_.assign(functions_.size(), nullptr);
    addressKnown_.assign(functions_.size(), false);

    // The record, as the host hands it to a plug-in.
    if (!PrepareProgramModule()) return false;
    Handle rec = heap_.Allocate(recordInitial_, Owner::Host);
    record_ = reinterpret_cast<IORecHandle>(rec);
    if (recordInitial_ >= offsetof(IORec, items)) {
        (*record_)->version = 1;
        (*record_)->callback = &HostCallback;
        (*record_)->entry = nullptr;
    } else {
        loadError_ = "initial record too small";
        return false;
    }
    if (recordLimit_) heap_.LimitSize(rec, recordLimit_);
    mainResult_ = mainProc(record_);
    recordResult_ = (*record_)->result;
    return true;
}

bool Host::Load()
{
    loadError_.clear();
    loaded_ = OpenLibrary();
    if (loaded_) {
        CallResult audit;
        Reclaim(&audit);
    }
    return loaded_;
}

bool Host::EntryInstalled() const { return record_ && (*record_)->entry != nullptr; }

const FunctionInfo* Host::Function(const std::string& name) const
{
    for (auto& f : functions_)
        if (f.name == name) return &f;
    return nullptr;
}

std::string Host::ErrorText(int status) const
{
    if (status >= 10001 && status <= 10000 + static_cast<int>(errorTexts_.size()))
        return errorTexts_[static_cast<std::size_t>(status - 10001)];
    return std::string();
}

}  // namespace kavhost
