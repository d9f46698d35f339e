#include "cli.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "demo.h"

namespace kavhost {

namespace {

const char kUsage[] =
    "usage: %s [options] COMMAND\n"
    "commands:\n"
    "  call FUNCTION ARGS...  call one external function, arguments in table order:\n"
    "                         numbers as numbers, strings as text (@null: null handle),\n"
    "                         waves as wave:TYPE:DIMS (TYPE f32 f64 i8 i16 i32 u8 u16 u32\n"
    "                         text c64 c128; DIMS like 1000 or 10x2) or @null,\n"
    "                         by-reference numbers as their initial value,\n"
    "                         by-reference strings as their initial text or @null\n"
    "  calls FILE             the calls of FILE (\"-\": standard input), one a line as\n"
    "                         FUNCTION<TAB>ARG<TAB>ARG..., each answered by one line of\n"
    "                         JSON as --json gives it, in one run of the host\n"
    "  functions              list the plug-in's function table\n"
    "  demo [DIR]             write two sample recordings (into DIR, or a temporary\n"
    "                         folder) and show what the plug-in does with them\n"
    "  handshake              show the start-up handshake and the function table\n"
    "options:\n"
    "  --json                 print the outcome of `call` as one JSON object (bytes\n"
    "                         from 0x80 up appear as \\u0080-\\u00ff); a wave's \"data\"\n"
    "                         is the FNV-1a hash (64 bits, hex) of its bytes\n"
    "  --dump-wave N FILE     after the call write the data of the wave that is\n"
    "                         parameter N (from 1) to FILE, raw, little-endian\n"
    "  --plugin PATH          load this plug-in instead of the one beside the host\n"
    "  --host-version N       answer the version message with N (default 6220)\n"
    "  --no-version-answer    leave the version message unanswered\n"
    "  --program-version A.B.C.D  version of the host program file\n"
    "  --no-program-module    the host program module is unknown\n"
    "  --direct               waves carry the direct-access flag\n"
    "  --move-on-resize       move memory blocks on every resize\n"
    "  --answer SPEC          answer the next dialog (repeatable, in order): cancel,\n"
    "                         fail, file:PATH, files:DIR|NAME|NAME..., folder:PATH,\n"
    "                         nopath (a folder without a file-system path). Without\n"
    "                         any, the dialogs ask on the terminal (stdin, stderr)\n"
    "  --                     end of options\n"
    "Exit status: 0 when the call happened (whatever its status), 1 when the plug-in\n"
    "or the function could not be used, 2 for a usage error.\n";

std::string Fmt(double v, int digits)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

std::string Quoted(const std::string& s) { return JsonString(s); }

std::string TypeSignature(const FunctionInfo& f)
{
    std::string s = f.name + "(";
    for (std::size_t i = 0; i < f.params.size(); ++i) s += (i ? ", " : "") + ParamTypeName(f.params[i]);
    return s + ") -> " + ParamTypeName(f.returnType);
}

struct Options {
    bool json = false;
    std::vector<std::pair<int, std::string>> dumps;
    std::string plugin;
    bool versionSet = false;
    bool noVersionAnswer = false;
    int versionAnswer = 6220;
    bool programVersionSet = false;
    int pv[4] = {0, 0, 0, 0};
    bool noModule = false;
    bool direct = false;
    bool move = false;
    std::vector<DialogAnswer> answers;
    std::vector<std::string> positional;
};

bool ParseInt(const std::string& s, long long* v)
{
    char* end = nullptr;
    *v = std::strtoll(s.c_str(), &end, 10);
    return !s.empty() && end && *end == 0;
}

// FNV-1a, 64 bits, of a wave's data: its bytes, or a text wave's texts each
// followed by a NUL. Enough to tell two waves apart in an account of a call.
std::string DataHash(const Wave& w)
{
    uint64_t h = 14695981039346656037ull;
    auto add = [&h](const char* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 1099511628211ull;
    };
    if (w.Type() == kWaveText) {
        for (const std::string& t : w.text) add(t.c_str(), t.size() + 1);
    } else {
        add(w.Data(), w.DataBytes());
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

bool WaveJson(const Wave& w, std::ostream& o)
{
    auto d = w.DimSizes();
    o << "{\"type\": " << Quoted(WaveTypeName(w.Type())) << ", \"dims\": [";
    for (int i = 0; i < w.Dimensions(); ++i) o << (i ? ", " : "") << d[static_cast<std::size_t>(i)];
    o << "], \"points\": " << w.Points() << ", \"xstart\": " << JsonNumber(w.xstart)
      << ", \"xstep\": " << JsonNumber(w.xstep) << ", \"xunits\": " << Quoted(w.xunits)
      << ", \"dataunits\": " << Quoted(w.dataunits) << ", \"note\": " << Quoted(w.note)
      << ", \"data\": " << Quoted(DataHash(w)) << "}";
    return true;
}

std::string DimsText(const Wave& w)
{
    auto d = w.DimSizes();
    std::string s;
    for (int i = 0; i < w.Dimensions(); ++i) s += (i ? "x" : "") + std::to_string(d[static_cast<std::size_t>(i)]);
    return s;
}

void PrintJson(const Host& h, const CallResult& r, std::ostream& o)
{
    o << "{\"function\": " << Quoted(h.Functions()[static_cast<std::size_t>(r.index)].name)
      << ", \"status\": " << r.status << ", \"error_text\": ";
    std::string et = h.ErrorText(r.status);
    o << (et.empty() ? std::string("null") : Quoted(et)) << ", \"result\": ";
    if (r.stringResult)
        o << (r.resultNull ? std::string("null") : Quoted(r.resultString));
    else
        o << JsonNumber(r.resultNumber);
    o << ", \"args\": [";
    for (std::size_t i = 0; i < r.args.size(); ++i) {
        const ArgAfter& a = r.args[i];
        o << (i ? ", " : "");
        switch (a.kind) {
        case ArgKind::Number:
        case ArgKind::NumberRef: o << JsonNumber(a.number); break;
        case ArgKind::String:
        case ArgKind::StringRef: o << (a.null ? std::string("null") : Quoted(a.text)); break;
        case ArgKind::Wave:
            if (a.wave)
                WaveJson(*a.wave, o);
            else
                o << "null";
            break;
        }
    }
    o << "], \"history\": " << Quoted(r.history) << ", \"audit\": {\"leaked\": " << r.leaked
      << ", \"double_released\": " << r.doubleReleased << ", \"use_after_release\": " << r.useAfterRelease
      << ", \"violations\": [";
    for (std::size_t i = 0; i < r.violations.size(); ++i) o << (i ? ", " : "") << Quoted(r.violations[i]);
    o << "]}}\n";
}

void PrintText(const Host& h, const CallResult& r, std::ostream& o)
{
    const FunctionInfo& f = h.Functions()[static_cast<std::size_t>(r.index)];
    o << f.name << ": status " << r.status;
    std::string et = h.ErrorText(r.status);
    if (!et.empty()) o << " (" << et << ")";
    o << "\nresult: ";
    if (r.stringResult)
        o << (r.resultNull ? std::string("null string") : Quoted(r.resultString));
    else
        o << Fmt(r.resultNumber, 15);
    o << "\n";
    for (std::size_t i = 0; i < r.args.size(); ++i) {
        const ArgAfter& a = r.args[i];
        o << "arg " << i + 1 << " (" << ParamTypeName(a.type) << "): ";
        switch (a.kind) {
        case ArgKind::Number:
        case ArgKind::NumberRef: o << Fmt(a.number, 15); break;
        case ArgKind::String:
        case ArgKind::StringRef: o << (a.null ? std::string("null") : Quoted(a.text)); break;
        case ArgKind::Wave:
            if (!a.wave) {
                o << "null";
                break;
            }
            o << "type " << WaveTypeName(a.wave->Type()) << ", dims " << DimsText(*a.wave) << ", points "
              << a.wave->Points() << ", x start " << Fmt(a.wave->xstart, 15) << ", x step " << Fmt(a.wave->xstep, 15)
              << ", x units " << Quoted(a.wave->xunits) << ", data units " << Quoted(a.wave->dataunits) << ", note "
              << Quoted(a.wave->note);
            break;
        }
        o << "\n";
    }
    o << "history:";
    if (r.history.empty()) o << " (nothing)";
    o << "\n";
    std::string line;
    for (char c : r.history) {
        if (c == '\r') {
            o << "  " << line << "\n";
            line.clear();
        } else {
            line.push_back(c);
        }
    }
    if (!line.empty()) o << "  " << line << "\n";
    o << "audit: leaked " << r.leaked << ", released twice " << r.doubleReleased << ", used after release "
      << r.useAfterRelease << "\n";
    for (auto& v : r.violations) o << "  " << v << "\n";
}

bool DumpWave(const CallResult& r, int n, const std::string& file, std::string* error)
{
    if (n < 1 || static_cast<std::size_t>(n) > r.args.size() ||
        r.args[static_cast<std::size_t>(n - 1)].kind != ArgKind::Wave) {
        *error = "--dump-wave " + std::to_string(n) + ": that parameter is not a wave";
        return false;
    }
    const Wave* w = r.args[static_cast<std::size_t>(n - 1)].wave;
    if (!w) {
        *error = "--dump-wave " + std::to_string(n) + ": null wave";
        return false;
    }
    std::ofstream out(file, std::ios::binary);
    if (w->Type() == kWaveText) {
        for (auto& s : w->text) out << s << '\0';
    } else {
        out.write(w->Data(), static_cast<std::streamsize>(w->DataBytes()));
    }
    if (!out) {
        *error = "cannot write " + file;
        return false;
    }
    return true;
}

void ListFunctions(const Host& h, std::ostream& o)
{
    for (auto& f : h.Functions()) {
        char cat[8];
        std::snprintf(cat, sizeof cat, "%04X", f.category);
        o << "  " << (f.index < 10 ? " " : "") << f.index << "  " << TypeSignature(f) << "  [category 0x" << cat
          << "]\n";
    }
}

}  // namespace

std::string JsonString(const std::string& s)
{
    std::string o = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': o += "\\\""; break;
        case '\\': o += "\\\\"; break;
        case '\n': o += "\\n"; break;
        case '\r': o += "\\r"; break;
        case '\t': o += "\\t"; break;
        case '\b': o += "\\b"; break;
        case '\f': o += "\\f"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                o += buf;
            } else {
                o.push_back(static_cast<char>(c));
            }
        }
    }
    return o + "\"";
}

std::string JsonNumber(double v)
{
    if (std::isnan(v) || std::isinf(v)) return "null";
    return Fmt(v, 17);
}

bool ParseArg(Host& host, uint16_t type, const std::string& text, Arg* out, std::string* error)
{
    auto number = [&](double* v) {
        char* end = nullptr;
        *v = std::strtod(text.c_str(), &end);
        if (text.empty() || !end || *end != 0) {
            *error = "not a number: " + text;
            return false;
        }
        return true;
    };
    double v = 0;
    switch (type) {
    case kParamNumber:
        if (!number(&v)) return false;
        *out = Num(v);
        return true;
    case kParamNumberRef:
        if (!number(&v)) return false;
        *out = NumRef(v);
        return true;
    case kParamString: *out = text == "@null" ? NullStr() : Str(text); return true;
    case kParamStringRef: *out = text == "@null" ? NullStrRef() : StrRef(text); return true;
    case kParamWave: {
        if (text == "@null") {
            *out = NullWave();
            return true;
        }
        // wave:TYPE:DIMS
        auto c1 = text.find(':');
        auto c2 = c1 == std::string::npos ? c1 : text.find(':', c1 + 1);
        if (text.compare(0, 5, "wave:") != 0 || c2 == std::string::npos) {
            *error = "not a wave (wave:TYPE:DIMS or @null): " + text;
            return false;
        }
        int wt = WaveTypeFromName(text.substr(c1 + 1, c2 - c1 - 1));
        if (wt < 0) {
            *error = "unknown wave type in " + text;
            return false;
        }
        std::vector<CountInt> dims;
        std::stringstream ds(text.substr(c2 + 1));
        std::string part;
        while (std::getline(ds, part, 'x')) {
            long long n = 0;
            if (!ParseInt(part, &n) || n < 0 || n > kMaxWavePoints) {
                *error = "bad dimensions in " + text;
                return false;
            }
            dims.push_back(static_cast<CountInt>(n));
        }
        if (dims.empty() || dims.size() > 4) {
            *error = "a wave has 1 to 4 dimensions: " + text;
            return false;
        }
        Wave* w = host.MakeWave(wt, dims);
        if (!w) {
            *error = "cannot make the wave " + text;
            return false;
        }
        *out = WaveArg(w);
        return true;
    }
    default: *error = "unsupported parameter type " + ParamTypeName(type); return false;
    }
}

namespace {

// Usage errors: the reason and the usage text on stderr, exit status 2.
int Usage(const std::string& self, const std::string& why)
{
    if (!why.empty()) std::fprintf(stderr, "%s: %s\n", self.c_str(), why.c_str());
    std::fprintf(stderr, kUsage, self.c_str());
    return 2;
}

// The usage form of each option that takes values, for the message of a usage
// error about it.
const char* const kOptionForms[][2] = {
    {"--dump-wave", "--dump-wave N FILE"},  {"--plugin", "--plugin PATH"},
    {"--host-version", "--host-version N"}, {"--program-version", "--program-version A.B.C.D"},
    {"--answer", "--answer SPEC"},
};

// A CLI11 error as the reason of a usage error: an option's usage form when the
// error is about one of these options (its values missing), CLI11's text otherwise.
std::string UsageReason(const CLI::ParseError& e)
{
    const std::string what = e.what();
    for (const auto& form : kOptionForms)
        if (what.compare(0, std::strlen(form[0]) + 1, std::string(form[0]) + ":") == 0) return form[1];
    return what;
}

// Reads the options and positional arguments into *opt with CLI11: the options
// anywhere on the line (a call's own arguments may follow them or come before
// them), "--" ends them, and everything that is no option (a lone "-", "-1" and
// "-x" too) is positional, in order. Returns -1 to go on, or the exit
// status (0 after --help, 2 for a usage error).
int ParseOptions(const std::vector<std::string>& argv, Options* opt)
{
    const std::string& self = argv[0];
    CLI::App app;
    app.set_help_flag();  // the help is kUsage, printed below
    app.allow_extras();   // what is no option: the positionals, in order (below)
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    std::string hostVersion, programVersion;
    std::vector<std::pair<std::string, std::string>> dumps;
    std::vector<std::string> answers;
    // --help answers at once, whatever follows it ("-h" is no option, as ever).
    app.add_flag_callback("--help", [] { throw CLI::CallForHelp(); })->trigger_on_parse();
    app.add_flag("--json", opt->json);
    app.add_flag("--no-version-answer", opt->noVersionAnswer);
    app.add_flag("--direct", opt->direct);
    app.add_flag("--no-program-module", opt->noModule);
    app.add_flag("--move-on-resize", opt->move);
    // Each occurrence takes its values whatever they look like, as many as it has.
    app.add_option("--dump-wave", dumps)->allow_extra_args(false)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--plugin", opt->plugin);
    app.add_option("--host-version", hostVersion);
    app.add_option("--program-version", programVersion);
    app.add_option("--answer", answers)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    try {
        app.parse(std::vector<std::string>(argv.rbegin(), argv.rend() - 1));
    } catch (const CLI::CallForHelp&) {
        std::printf(kUsage, self.c_str());
        return 0;
    } catch (const CLI::ParseError& e) {
        return Usage(self, UsageReason(e));
    }

    // What is no option, in order: before a "--", whatever looks like an option is
    // an unknown one; the first "--" only ends the options.
    bool optionsEnded = false;
    for (const std::string& a : app.remaining()) {
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a.size() >= 2 && a.compare(0, 2, "--") == 0) {
            return Usage(self, "unknown option " + a);
        } else {
            opt->positional.push_back(a);
        }
    }
    long long n = 0;
    for (const auto& [number, file] : dumps) {
        if (!ParseInt(number, &n)) return Usage(self, "--dump-wave N FILE");
        opt->dumps.emplace_back(static_cast<int>(n), file);
    }
    if (app.count("--host-version")) {
        if (!ParseInt(hostVersion, &n)) return Usage(self, "--host-version N");
        opt->versionAnswer = static_cast<int>(n);
    }
    if (app.count("--program-version")) {
        int* pv = opt->pv;
        if (std::sscanf(programVersion.c_str(), "%d.%d.%d.%d", &pv[0], &pv[1], &pv[2], &pv[3]) != 4)
            return Usage(self, "--program-version A.B.C.D");
        opt->programVersionSet = true;
    }
    for (const std::string& spec : answers) {
        DialogAnswer answer;
        if (!ParseDialogAnswer(spec, &answer)) return Usage(self, "--answer SPEC");
        opt->answers.push_back(answer);
    }
    return -1;
}

void ConfigureHost(const Options& opt, Host* host)
{
    if (!opt.plugin.empty()) host->SetPluginPath(opt.plugin);
    if (opt.noVersionAnswer)
        host->LeaveVersionUnanswered();
    else
        host->AnswerVersion(opt.versionAnswer);
    if (opt.programVersionSet) host->SetProgramVersion(opt.pv[0], opt.pv[1], opt.pv[2], opt.pv[3]);
    if (opt.noModule) host->SetProgramFile(ProgramFile::NoModule);
    host->SetDirectWaves(opt.direct);
    host->SetMoveOnResize(opt.move);
    for (const DialogAnswer& answer : opt.answers) host->QueueDialogAnswer(answer);
    host->SetInteractiveDialogs(opt.answers.empty());
}

int ShowHandshake(Host& host, const Options& opt)
{
    std::cout << "Start-up handshake\n";
    if (opt.noVersionAnswer)
        std::cout << "  host version message: unanswered (the plug-in reads the program file's version)\n";
    else
        std::cout << "  host version message answered with " << opt.versionAnswer << "\n";
    std::cout << "  main returned " << host.MainResult() << ", record result " << host.RecordResult() << ": "
              << (host.Accepted() ? "host accepted" : "host refused") << "\n";
    std::cout << "  message handler " << (host.EntryInstalled() ? "installed" : "NOT installed") << "\n";
    int available = 0;
    for (auto& f : host.Functions()) available += host.FunctionAddress(f.index) != nullptr;
    std::cout << "Function table (" << host.Functions().size() << " functions, " << available << " with an address):\n";
    ListFunctions(host, std::cout);
    std::cout << "Audit: " << host.AuditReport() << "\n";
    return host.Accepted() ? 0 : 1;
}

// `call NAME ARGS...`: the arguments parsed by the function's table entry, the call,
// its account and the wave dumps.
int CallFunction(Host& host, const Options& opt, const std::string& self)
{
    const std::string name = opt.positional[1];
    const FunctionInfo* f = host.Function(name);
    if (!f) {
        std::fprintf(stderr, "%s: no external function %s\n", self.c_str(), name.c_str());
        return 1;
    }
    const std::size_t given = opt.positional.size() - 2;
    if (given != f->params.size())
        return Usage(self, TypeSignature(*f) + " takes " + std::to_string(f->params.size()) + " arguments, not " +
                               std::to_string(given));
    std::vector<Arg> args;
    for (std::size_t i = 0; i < given; ++i) {
        Arg a;
        std::string why;
        if (!ParseArg(host, f->params[i], opt.positional[i + 2], &a, &why))
            return Usage(self, "argument " + std::to_string(i + 1) + ": " + why);
        args.push_back(a);
    }
    CallResult r = host.Call(name, args);
    if (!r.called) {
        std::fprintf(stderr, "%s: %s\n", self.c_str(), r.error.c_str());
        return 1;
    }
    if (opt.json)
        PrintJson(host, r, std::cout);
    else
        PrintText(host, r, std::cout);
    for (auto& [n, file] : opt.dumps) {
        std::string why;
        if (!DumpWave(r, n, file, &why)) {
            std::fprintf(stderr, "%s: %s\n", self.c_str(), why.c_str());
            return 1;
        }
    }
    return 0;
}

// `calls FILE`: every line a call, tab-separated, each answered by a line of JSON
// (a line that cannot be called by {"error": ...}). One run of the host for many
// calls: the waves of a call are released after it.
int CallEach(Host& host, const std::string& file, const std::string& self)
{
    std::ifstream in;
    if (file != "-") {
        in.open(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot read %s\n", self.c_str(), file.c_str());
            return 1;
        }
    }
    std::istream& lines = file == "-" ? std::cin : in;
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::string> fields;
        std::stringstream fs(line);
        for (std::string f; std::getline(fs, f, '\t');) fields.push_back(f);
        std::string why;
        const FunctionInfo* f = host.Function(fields[0]);
        std::vector<Arg> args;
        if (!f)
            why = "no external function " + fields[0];
        else if (fields.size() - 1 != f->params.size())
            why = TypeSignature(*f) + " takes " + std::to_string(f->params.size()) + " arguments";
        for (std::size_t i = 0; why.empty() && i + 1 < fields.size(); ++i) {
            Arg a;
            if (ParseArg(host, f->params[i], fields[i + 1], &a, &why)) args.push_back(a);
        }
        CallResult r;
        if (why.empty()) {
            r = host.Call(fields[0], args);
            if (!r.called) why = r.error;
        }
        if (why.empty())
            PrintJson(host, r, std::cout);
        else
            std::cout << "{\"error\": " << Quoted(why) << "}\n";
        host.ReleaseWaves();
    }
    std::cout.flush();
    return 0;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& given)
{
    std::vector<std::string> argv = given;
    if (argv.empty()) argv.push_back("xophost");
    const std::string self = argv[0];
    Options opt;
    if (int exit = ParseOptions(argv, &opt); exit >= 0) return exit;
    if (opt.positional.empty()) return Usage(self, "no command");
    const std::string cmd = opt.positional[0];
    if (cmd != "call" && cmd != "calls" && cmd != "functions" && cmd != "demo" && cmd != "handshake")
        return Usage(self, "unknown command " + cmd);
    if (cmd == "calls" && opt.positional.size() != 2) return Usage(self, "calls takes one file");
    if (cmd == "demo" && opt.positional.size() > 2) return Usage(self, "demo takes at most one folder");
    if (cmd == "call" && opt.positional.size() < 2) return Usage(self, "call needs a function name");

    Host host;
    ConfigureHost(opt, &host);
    if (!host.Load()) {
        std::fprintf(stderr, "%s: %s\n", self.c_str(), host.LoadError().c_str());
        return 1;
    }
    if (cmd == "functions") {
        std::cout << host.Functions().size() << " external functions:\n";
        ListFunctions(host, std::cout);
        return 0;
    }
    if (cmd == "demo") return RunDemo(host, opt.positional.size() > 1 ? opt.positional[1] : "", std::cout);
    if (cmd == "handshake") return ShowHandshake(host, opt);
    if (cmd == "calls") return CallEach(host, opt.positional[1], self);
    return CallFunction(host, opt, self);
}

}  // namespace kavhost
