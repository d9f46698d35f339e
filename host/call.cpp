// Calling an external function as the host does: the arguments checked against
// the function table, the parameter block packed, the function called, and the
// result, the by-reference values and the call's own audit taken back.
#include <cstring>

#include "host.h"

namespace kavhost {

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
}  // namespace

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

}  // namespace kavhost
