#include "host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

Host* gHost = nullptr;

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
    if (gHost) gHost->OnMessage(rec);
}

std::string VersionText(const std::array<int, 4>& v)
{
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

#if !defined(_WIN32)
// Natively GetIgorModule answers the address of this object.
char gProgramModuleTag;
#endif

}  // namespace

Host* CurrentHost() { return gHost; }

// ---------------------------------------------------------------- arguments

Arg Num(double v) { return Arg{ArgKind::Number, v, "", false, nullptr}; }
Arg Str(const std::string& text) { return Arg{ArgKind::String, 0.0, text, false, nullptr}; }
Arg NullStr() { return Arg{ArgKind::String, 0.0, "", true, nullptr}; }
Arg WaveArg(Wave* w) { return Arg{ArgKind::Wave, 0.0, "", w == nullptr, w}; }
Arg NullWave() { return WaveArg(nullptr); }
Arg NumRef(double initial) { return Arg{ArgKind::NumberRef, initial, "", false, nullptr}; }
Arg StrRef(const std::string& initial) { return Arg{ArgKind::StringRef, 0.0, initial, false, nullptr}; }
Arg NullStrRef() { return Arg{ArgKind::StringRef, 0.0, "", true, nullptr}; }

namespace {
ArgKind KindOf(uint16_t type)
{
    switch (type) {
    case kParamNumber: return ArgKind::Number;
    case kParamString: return ArgKind::String;
    case kParamWave: return ArgKind::Wave;
    case kParamNumberRef: return ArgKind::NumberRef;
    default: return ArgKind::StringRef;
    }
}
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

// ---------------------------------------------------------------- to the plug-in

intptr_t Host::Send(int16_t message, const std::vector<XopItem>& items, intptr_t presetResult)
{
    if (!record_) return presetResult;
    Handle rec = reinterpret_cast<Handle>(record_);
    std::size_t need = IORecSizeForItems(static_cast<int>(items.size()));
    if (heap_.Size(rec) < need) heap_.Resize(rec, need);
    IORec* r = *record_;
    r->message = message;
    r->itemCount = static_cast<int16_t>(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) r->items[i] = items[i];
    r->result = presetResult;
    XopEntryProc entry = r->entry;
    if (!entry) return presetResult;
    entry();
    return (*record_)->result;
}

void* Host::FunctionAddress(int index)
{
    return reinterpret_cast<void*>(Send(kMsgFunctionAddress, {static_cast<XopItem>(index)}));
}

// The parameter block of one call and the variables its by-reference
// parameters point at.
struct Host::PackedCall {
    const FunctionInfo* f = nullptr;
    BlockLayout layout;
    std::vector<double> storage;  // the block, 8-byte aligned
    std::vector<double> numRefs;
    std::vector<Handle> strRefs;
    std::vector<Handle> originalRefs;
    unsigned char* Block() { return reinterpret_cast<unsigned char*>(storage.data()); }
    const unsigned char* Block() const { return reinterpret_cast<const unsigned char*>(storage.data()); }
};

XopExternalFunction Host::CallableFunction(const std::string& name, const std::vector<Arg>& args, CallResult* r)
{
    const FunctionInfo* f = Function(name);
    if (!loaded_) {
        r->error = "the plug-in is not loaded";
        return nullptr;
    }
    if (!f) {
        r->error = "no external function " + name;
        return nullptr;
    }
    r->index = f->index;
    if (args.size() != f->params.size()) {
        r->error =
            name + " takes " + std::to_string(f->params.size()) + " parameters, not " + std::to_string(args.size());
        return nullptr;
    }
    for (std::size_t i = 0; i < args.size(); ++i)
        if (args[i].kind != KindOf(f->params[i])) {
            r->error = name + ": parameter " + std::to_string(i + 1) + " is a " + ParamTypeName(f->params[i]);
            return nullptr;
        }
    const std::size_t idx = static_cast<std::size_t>(f->index);
    if (!addressKnown_[idx]) {
        addresses_[idx] = FunctionAddress(f->index);
        addressKnown_[idx] = true;
    }
    auto fn = reinterpret_cast<XopExternalFunction>(addresses_[idx]);
    if (!fn) r->error = name + " has no address (message 15 answered null)";
    return fn;
}

void Host::PackArgs(const std::vector<Arg>& args, PackedCall* p)
{
    p->layout = ComputeLayout(p->f->params, p->f->returnType, p->f->category);
    p->storage.assign((p->layout.size + 7) / 8 + 1, 0.0);
    p->numRefs.assign(args.size(), 0.0);
    p->strRefs.assign(args.size(), nullptr);
    p->originalRefs.assign(args.size(), nullptr);
    unsigned char* block = p->Block();
    auto put = [&](const Slot& s, const void* v) { std::memcpy(block + s.offset, v, s.size); };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Arg& a = args[i];
        const Slot& s = p->layout.params[i];
        switch (a.kind) {
        case ArgKind::Number: put(s, &a.number); break;
        case ArgKind::String: {
            // The plug-in owns the string handles it receives.
            Handle h = a.null ? nullptr : heap_.FromText(a.text, Owner::Plugin);
            put(s, &h);
            break;
        }
        case ArgKind::Wave: {
            Handle h = a.wave ? a.wave->handle : nullptr;
            put(s, &h);
            break;
        }
        case ArgKind::NumberRef: {
            p->numRefs[i] = a.number;
            double* ref = &p->numRefs[i];
            put(s, &ref);
            break;
        }
        case ArgKind::StringRef: {
            p->strRefs[i] = p->originalRefs[i] = a.null ? nullptr : heap_.FromText(a.text, Owner::Host);
            Handle* ref = &p->strRefs[i];
            put(s, &ref);
            break;
        }
        }
    }
}

void Host::TakeResult(const std::string& name, const PackedCall& p, CallResult* r)
{
    const unsigned char* block = p.Block();
    r->stringResult = p.f->returnType != kParamNumber;
    if (!r->stringResult) {
        std::memcpy(&r->resultNumber, block + p.layout.result.offset, sizeof r->resultNumber);
        r->resultNull = false;
        return;
    }
    Handle h = nullptr;
    std::memcpy(&h, block + p.layout.result.offset, sizeof h);
    if (!h) return;
    if (!heap_.IsKnown(h)) {
        heap_.NoteViolation(name + ": result is not a handle of this host");
    } else if (heap_.IsReleased(h)) {
        heap_.NoteUseAfterRelease(name + ": released handle returned as result");
    } else {
        r->resultNull = false;
        r->resultString = heap_.Text(h);
        heap_.SetOwner(h, Owner::Host);
        heap_.Free(h);
    }
}

ArgAfter Host::TakeArg(const std::string& name, const std::vector<Arg>& args, std::size_t i, PackedCall* p)
{
    const Arg& a = args[i];
    ArgAfter out;
    out.kind = a.kind;
    out.type = p->f->params[i];
    out.null = a.null;
    switch (a.kind) {
    case ArgKind::Number: out.number = a.number; break;
    case ArgKind::String: out.text = a.text; break;
    case ArgKind::Wave: out.wave = a.wave; break;
    case ArgKind::NumberRef: out.number = p->numRefs[i]; break;
    case ArgKind::StringRef: {
        Handle h = p->strRefs[i];
        out.null = h == nullptr;
        if (h && !heap_.IsKnown(h)) {
            heap_.NoteViolation(name + ": by-reference string " + std::to_string(i + 1) + " holds a foreign handle");
            out.null = true;
        } else if (h && heap_.IsReleased(h)) {
            heap_.NoteUseAfterRelease(name + ": by-reference string " + std::to_string(i + 1) +
                                      " holds a released handle");
            out.null = true;
        } else if (h) {
            out.text = heap_.Text(h);
            heap_.SetOwner(h, Owner::Host);
            heap_.Free(h);  // the variable goes away with the call
        }
        Handle original = p->originalRefs[i];
        if (original && original != h && heap_.IsLive(original)) heap_.Free(original);
        break;
    }
    }
    return out;
}

CallResult Host::Call(const std::string& name, const std::vector<Arg>& args)
{
    CallResult r;
    const XopExternalFunction fn = CallableFunction(name, args, &r);
    if (!fn) return r;
    PackedCall p;
    p.f = Function(name);
    PackArgs(args, &p);

    const std::size_t historyMark = history_.size();
    const int dr0 = heap_.doubleReleased, uar0 = heap_.useAfterRelease;
    const std::size_t v0 = heap_.violations.size();
    BeginDialogAudit();
    r.status = fn(p.Block());
    r.called = true;

    TakeResult(name, p, &r);
    for (std::size_t i = 0; i < args.size(); ++i) r.args.push_back(TakeArg(name, args, i, &p));
    r.history = history_.substr(historyMark);
    Reclaim(&r);
    AuditDialogs(&r);
    r.doubleReleased = heap_.doubleReleased - dr0;
    r.useAfterRelease = heap_.useAfterRelease - uar0;
    r.violations.insert(r.violations.end(), heap_.violations.begin() + static_cast<std::ptrdiff_t>(v0),
                        heap_.violations.end());
    return r;
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

// ---------------------------------------------------------------- from the plug-in

void Host::OnMessage(IORecHandle rec)
{
    if (rec != record_) {
        heap_.NoteViolation("callback with a record that is not the host's");
        return;
    }
    Handle h = reinterpret_cast<Handle>(rec);
    if (!heap_.IsLive(h)) {
        heap_.NoteUseAfterRelease("callback with a released record");
        return;
    }
    const std::size_t size = heap_.Size(h);
    const int message = (*rec)->message;
    const int count = (*rec)->itemCount;
    MessageRecord m{message, count, size, 0};
    if (count < 0 || count > kIORecMaxItems || size < IORecSizeForItems(count)) {
        heap_.NoteViolation("message " + std::to_string(message) + " with " + std::to_string(count) +
                            " items in a record of " + std::to_string(size) + " bytes");
        m.result = kHostBadHandle;
        (*rec)->result = m.result;
        messages_.push_back(m);
        return;
    }
    // Item by item: in the packed 64-bit record the items are not 8-byte aligned.
    std::vector<XopItem> items(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) items[static_cast<std::size_t>(i)] = (*rec)->items[i];
    auto fail = failMessage_.find(message);
    m.result = fail != failMessage_.end() ? fail->second : Dispatch(message, items);
    (*record_)->result = m.result;  // dereferenced anew: handling may move memory
    messages_.push_back(m);
}

Wave* Host::ItemWave(XopItem item, const char* who)
{
    Handle h = reinterpret_cast<Handle>(item);
    Wave* w = FindWave(h);
    if (w && heap_.IsLive(h)) return w;
    if (h && heap_.IsReleased(h))
        heap_.NoteUseAfterRelease(std::string(who) + ": released wave handle");
    else
        heap_.NoteViolation(std::string(who) + (h ? ": not a wave handle" : ": null wave handle"));
    return nullptr;
}

const char* Host::ItemText(XopItem item, const char* who)
{
    const char* p = reinterpret_cast<const char*>(item);
    if (!p) {
        heap_.NoteViolation(std::string(who) + ": null text");
        return nullptr;
    }
    if (heap_.InReleasedBlock(p)) {
        heap_.NoteUseAfterRelease(std::string(who) + ": text in a released block");
        return nullptr;
    }
    return p;
}

intptr_t Host::ChangeWaveMessage(const std::vector<XopItem>& it)
{
    Wave* w = ItemWave(it[0], "change wave (43)");
    if (!w) return kHostBadWave;
    const CountInt points = it[1];
    const int type = static_cast<int>(it[2]);
    if (!ValidWaveType(type)) return kHostBadWaveType;
    if (points < 0 || points > kMaxWavePoints) return kHostBadPointCount;
    const std::size_t bytes = kWaveRecData + WaveElementSize(type) * static_cast<std::size_t>(points);
    if (!heap_.Resize(w->handle, bytes)) return kHostNoMemory;
    const int16_t t = static_cast<int16_t>(type);
    const CountInt dims[4] = {points, 0, 0, 0};
    std::memcpy(*w->handle + kWaveRecPoints, &points, sizeof points);
    std::memcpy(*w->handle + kWaveRecType, &t, 2);
    std::memcpy(*w->handle + kWaveRecDimSizes, dims, sizeof dims);
    w->text.assign(type == kWaveText ? static_cast<std::size_t>(points) : 0, std::string());
    return 0;
}

intptr_t Host::WaveNoteMessage(const std::vector<XopItem>& it)
{
    Handle note = reinterpret_cast<Handle>(it[1]);
    Wave* w = ItemWave(it[0], "wave note (55)");
    if (note && !heap_.IsKnown(note)) {
        heap_.NoteViolation("wave note (55): not a handle of this host");
        return kHostBadHandle;
    }
    if (note && heap_.IsReleased(note)) {
        heap_.NoteUseAfterRelease("wave note (55): released note handle");
        return kHostBadHandle;
    }
    // The note handle is the host's from now on, whatever happens to the wave.
    std::string text = note ? heap_.Text(note) : std::string();
    if (note) {
        if (heap_.OwnerOf(note) == Owner::Host)
            heap_.NoteViolation("wave note (55): note handle belongs to the host already");
        heap_.SetOwner(note, Owner::Host);
        heap_.Free(note);
    }
    if (!w) return kHostBadWave;
    w->note = text;
    return 0;
}

intptr_t Host::Dispatch(int message, const std::vector<XopItem>& it)
{
    auto NullPointer = [&](const char* what) {
        heap_.NoteViolation(what);
        return intptr_t{kHostBadHandle};
    };
    auto need = [&](std::size_t n) {
        if (it.size() >= n) return true;
        heap_.NoteViolation("message " + std::to_string(message) + " needs " + std::to_string(n) + " items");
        return false;
    };
    switch (message) {
    case kMsgWaveModified: {
        if (!need(1)) return kHostBadWave;
        Wave* w = ItemWave(it[0], "wave modified (1)");
        if (!w) return kHostBadWave;
        ++w->modified;
        return 0;
    }
    case kMsgHistoryPrint: {
        if (!need(1)) return kHostBadHandle;
        const char* text = ItemText(it[0], "history print (8)");
        if (text) history_ += text;
        return 0;
    }
    case kMsgWaveType:
    case kMsgWavePoints:
    case kMsgWaveData: {
        if (!need(1)) return kHostBadWave;
        Wave* w = ItemWave(it[0], message == kMsgWaveType     ? "wave type (34)"
                                  : message == kMsgWavePoints ? "wave points (35)"
                                                              : "wave data (37)");
        if (!w) return message == kMsgWaveData ? 0 : kHostBadWave;
        if (message == kMsgWaveType) return w->Type();
        if (message == kMsgWavePoints) return w->Points();
        return reinterpret_cast<intptr_t>(w->Data());
    }
    case kMsgChangeWave: return need(3) ? ChangeWaveMessage(it) : intptr_t{kHostBadWave};
    case kMsgSetWaveScaling: {
        if (!need(3)) return kHostBadWave;
        Wave* w = ItemWave(it[0], "wave scaling (51)");
        if (!w) return kHostBadWave;
        auto* step = reinterpret_cast<const double*>(it[1]);
        auto* start = reinterpret_cast<const double*>(it[2]);
        if (step) w->xstep = *step;
        if (start) w->xstart = *start;
        return 0;
    }
    case kMsgSetWaveUnits: {
        if (!need(3)) return kHostBadWave;
        Wave* w = ItemWave(it[0], "wave units (53)");
        if (!w) return kHostBadWave;
        if (it[1] && ItemText(it[1], "wave units (53)")) w->xunits = reinterpret_cast<const char*>(it[1]);
        if (it[2] && ItemText(it[2], "wave units (53)")) w->dataunits = reinterpret_cast<const char*>(it[2]);
        return 0;
    }
    case kMsgSetWaveNote: return need(2) ? WaveNoteMessage(it) : intptr_t{kHostBadWave};
    case kMsgWaveDimensions: {
        if (!need(2)) return kHostBadWave;
        Wave* w = ItemWave(it[0], "wave dimensions (78)");
        if (!w) return kHostBadWave;
        auto* count = reinterpret_cast<int32_t*>(it[1]);
        if (!count) return NullPointer("wave dimensions (78): null count pointer");
        *count = w->Dimensions();
        return 0;
    }
    case kMsgNativePath: {
        if (!need(1)) return kHostBadHandle;
        auto* text = reinterpret_cast<char*>(it[0]);
        if (!ItemText(it[0], "native path (172)")) return kHostBadHandle;
#if defined(_WIN32)
        // Windows notation: the same length, so the text stays within its block.
        for (char* c = text; *c; ++c)
            if (*c == '/') *c = '\\';
#else
        (void)text;  // POSIX paths are native already
#endif
        return 0;
    }
    case kMsgHostVersion: {
        if (!need(1)) return kHostBadHandle;
        if (!versionAnswered_) return kHostUnknownMessage;
        auto* v = reinterpret_cast<int32_t*>(it[0]);
        if (!v) return NullPointer("host version (238): null pointer");
        *v = versionAnswer_;
        return 0;
    }
    default: return kHostUnknownMessage;
    }
}

}  // namespace kavhost
