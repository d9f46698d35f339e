// The stand-in host: loads the plug-in, answers its messages, owns the memory,
// waves and history, and calls external functions by name exactly as the real
// host does (message 15 for the address, a parameter block built from the
// function table).
//
//     kavhost::Host h;
//     ASSERT_TRUE(h.Load()) << h.LoadError();
//     auto r = h.Call("kav_AbfFileGetExt", {kavhost::Str("C:\\a\\b.abf")});
//     EXPECT_EQ(r.status, 0);
//     EXPECT_EQ(r.resultString, "abf");
//     EXPECT_TRUE(h.AuditClean()) << h.AuditReport();
//
// One Host is active at a time (the plug-in binds the host's exported memory
// functions once, process-wide); the most recently constructed one receives them.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dialog_answers.h"
#include "interface/host_abi.h"
#include "memory.h"
#include "wave.h"
#include "xop_table.h"

namespace kavhost {

enum class ArgKind { Number, String, Wave, NumberRef, StringRef };

// One argument of a call, in function-table order.
struct Arg {
    ArgKind kind = ArgKind::Number;
    double number = 0.0;
    std::string text;
    bool null = false;
    Wave* wave = nullptr;
};
Arg Num(double v);
Arg Str(const std::string& text);
Arg NullStr();
Arg WaveArg(Wave* w);  // null gives a null wave handle
Arg NullWave();
Arg NumRef(double initial);
Arg StrRef(const std::string& initial);
Arg NullStrRef();

// The state of one argument after the call: a by-reference number's value, a
// by-reference string's text (null when the variable holds no handle), the wave,
// or the value that was passed.
struct ArgAfter {
    ArgKind kind = ArgKind::Number;
    uint16_t type = 0;
    double number = 0.0;
    std::string text;
    bool null = false;
    Wave* wave = nullptr;
};

struct CallResult {
    bool called = false;  // the function was found, had an address and was called
    std::string error;    // why not, when !called
    int index = -1;
    int status = 0;
    bool stringResult = false;
    double resultNumber = 0.0;
    std::string resultString;
    bool resultNull = true;  // a string function returned a null handle
    std::vector<ArgAfter> args;
    std::string history;  // what the call printed into the history
    int leaked = 0;
    int doubleReleased = 0;
    int useAfterRelease = 0;
    std::vector<std::string> violations;
    bool Clean() const { return leaked == 0 && doubleReleased == 0 && useAfterRelease == 0 && violations.empty(); }
};

// One message the plug-in sent.
struct MessageRecord {
    int message = 0;
    int itemCount = 0;
    std::size_t recordSize = 0;  // bytes of the record when it arrived
    intptr_t result = 0;
};

// What the host program file tells about its version when asked through the
// module (used when message 238 goes unanswered).
enum class ProgramFile { Versioned, NoModule, NoVersion };

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // --- Settings that take effect at Load.
    void SetPluginPath(const std::string& path) { pluginPath_ = path; }
    void AnswerVersion(int32_t value)
    {
        versionAnswered_ = true;
        versionAnswer_ = value;
    }
    void LeaveVersionUnanswered() { versionAnswered_ = false; }
    // The program file's version, e.g. 6, 2, 2, 7. Under Wine only the versions
    // built beside the host are available (see AvailableProgramVersions). By
    // default the program file is the host executable itself (version 6.2.2.0).
    void SetProgramVersion(int a, int b, int c, int d);
    void SetProgramFile(ProgramFile f)
    {
        programFile_ = f;
        programFileChosen_ = true;
    }
    // Plug-in resizes of the record beyond maxBytes fail (0: no limit); the
    // record starts at initialBytes (default: a full record).
    void LimitRecord(std::size_t maxBytes) { recordLimit_ = maxBytes; }
    void SetInitialRecordSize(std::size_t bytes) { recordInitial_ = bytes; }
    void SetClientWindow(void* hwnd) { clientWindow_ = hwnd; }

    // --- Loading: open the library, read its tables, call `main` with the record.
    bool Load();
    bool Loaded() const { return loaded_; }
    const std::string& LoadError() const { return loadError_; }
    int MainResult() const { return mainResult_; }           // 0 accepted, 1 refused
    intptr_t RecordResult() const { return recordResult_; }  // record's result after start-up
    bool EntryInstalled() const;
    bool Accepted() const { return loaded_ && mainResult_ == 0; }
    int EffectiveVersionAnswer() const { return versionAnswered_ ? versionAnswer_ : -1; }

    const std::vector<FunctionInfo>& Functions() const { return functions_; }
    const FunctionInfo* Function(const std::string& name) const;
    const std::vector<std::string>& ErrorTexts() const { return errorTexts_; }
    // The plug-in's text for statuses 10001-10010; empty for any other status.
    std::string ErrorText(int status) const;

    // --- Talking to the plug-in.
    // Sends a message to the plug-in's handler and returns its result. The record's
    // result is preset to `presetResult` so an untouched result shows.
    intptr_t Send(int16_t message, const std::vector<XopItem>& items, intptr_t presetResult = 0);
    void* FunctionAddress(int index);  // message 15
    CallResult Call(const std::string& name, const std::vector<Arg>& args);

    // --- Waves: up to kMaxWavePoints points (dimension sizes and counts are CountInt).
    Wave* MakeWave(int type, const std::vector<CountInt>& dims, const std::string& name = "");
    template <class Int>
    Wave* MakeWave(int type, const std::vector<Int>& dims, const std::string& name = "")
    {
        return MakeWave(type, std::vector<CountInt>(dims.begin(), dims.end()), name);
    }
    Wave* FindWave(Handle h) const;
    // Releases every wave (their handles back to the heap): a host that makes many
    // calls keeps only the waves of the current one.
    void ReleaseWaves();
    // New waves (and this one) carry the direct-access flag: record version 1 instead
    // of 2. The 64-bit build never does (kOffersDirectWaves): like Igor 7 and later it
    // answers wave queries by message only.
    static constexpr bool kOffersDirectWaves = !KAV_WIN64;
    void SetDirectWaves(bool on) { directWaves_ = on; }
    void SetDirect(Wave* w, bool on);

    // --- History: text as printed; only a carriage return starts a new line.
    const std::string& History() const { return history_; }
    std::vector<std::string> HistoryLines() const;
    void ClearHistory() { history_.clear(); }

    // --- Messages the plug-in sent (oldest first).
    const std::vector<MessageRecord>& Messages() const { return messages_; }
    void ClearMessages() { messages_.clear(); }
    int CountMessages(int message) const;

    // --- Memory, audit and fault injection.
    HandleHeap& Heap() { return heap_; }
    IORecHandle Record() const { return record_; }
    std::size_t RecordSize() const { return heap_.Size(reinterpret_cast<Handle>(record_)); }
    void SetMoveOnResize(bool on) { heap_.SetMoveOnResize(on); }
    void FailMemory(unsigned ops, int nth, bool sticky = false) { heap_.FailNth(ops, nth, sticky); }
    // Message `message` answers `code` (non-zero) without doing anything; 0 clears.
    void FailMessage(int message, int code);
    int Leaked() const { return leaked_; }
    bool AuditClean() const;
    std::string AuditReport() const;

    // Handle of the host program module the plug-in asks for (GetIgorModule).
    void* ProgramModule() const { return programModule_; }
    void* ClientWindow() const { return clientWindow_; }

    // The message carrier installed in the record (public for the C callback).
    void OnMessage(IORecHandle rec);

    // --- Dialogs (native stand-ins; see dialog_answers.h). Scripted answers are used in
    // order; when none is left the dialog asks on the terminal if interactive
    // dialogs are on, and otherwise is cancelled and counted as a violation.
    void QueueDialogAnswer(const DialogAnswer& answer) { dialogAnswers_.push_back(answer); }
    std::size_t PendingDialogAnswers() const { return dialogAnswers_.size(); }
    void SetInteractiveDialogs(bool on) { interactiveDialogs_ = on; }
    const std::vector<DialogSeen>& DialogsShown() const { return dialogsShown_; }
    void ClearDialogsShown() { dialogsShown_.clear(); }
    // The dialog stand-ins' callbacks (public for the C answerers).
    DialogAnswer AnswerDialog(const DialogSeen& seen);

private:
    bool OpenLibrary();
    bool PrepareProgramModule();
    intptr_t Dispatch(int message, const std::vector<XopItem>& items);
    intptr_t ChangeWaveMessage(const std::vector<XopItem>& items);  // 43
    intptr_t WaveNoteMessage(const std::vector<XopItem>& items);    // 55
    Wave* ItemWave(XopItem item, const char* who);
    const char* ItemText(XopItem item, const char* who);
    void Reclaim(CallResult* r);
    // A call's steps: the function's address after checking the arguments (null
    // with r->error set when it cannot be called), the parameter block packed from
    // the arguments, and the result and by-reference values taken back after it.
    struct PackedCall;
    XopExternalFunction CallableFunction(const std::string& name, const std::vector<Arg>& args, CallResult* r);
    void PackArgs(const std::vector<Arg>& args, PackedCall* p);
    void TakeResult(const std::string& name, const PackedCall& p, CallResult* r);
    ArgAfter TakeArg(const std::string& name, const std::vector<Arg>& args, std::size_t i, PackedCall* p);

    HandleHeap heap_;
    std::string pluginPath_;
    bool versionAnswered_ = true;
    int32_t versionAnswer_ = 6220;
    ProgramFile programFile_ = ProgramFile::Versioned;
    bool programFileChosen_ = false;
    std::array<int, 4> programVersion_{6, 2, 2, 0};
    std::size_t recordLimit_ = 0;
    std::size_t recordInitial_ = sizeof(IORec);
    void* clientWindow_ = nullptr;
    void* programModule_ = nullptr;
#if defined(_WIN32)
    void* programLibrary_ = nullptr;  // the version-carrying module we loaded
#endif

    void* library_ = nullptr;
    bool loaded_ = false;
    std::string loadError_;
    int mainResult_ = -1;
    intptr_t recordResult_ = 0;
    IORecHandle record_ = nullptr;
    std::vector<FunctionInfo> functions_;
    std::vector<std::string> errorTexts_;
    std::vector<void*> addresses_;
    std::vector<bool> addressKnown_;

    std::vector<std::unique_ptr<Wave>> waves_;
    std::map<Handle, Wave*> waveByHandle_;
    bool directWaves_ = false;
    std::string history_;
    std::vector<MessageRecord> messages_;
    std::map<int, int> failMessage_;
    int leaked_ = 0;

    // Dialogs.
    void InstallDialogAnswerers();
    void RemoveDialogAnswerers();
    void BeginDialogAudit();           // notes the state before a call...
    void AuditDialogs(CallResult* r);  // ...and checks it after: OLE balanced, lists released
    int oleDepthBefore_ = 0;
    std::deque<DialogAnswer> dialogAnswers_;
    bool interactiveDialogs_ = false;
    std::vector<DialogSeen> dialogsShown_;
};

// The active host (null when none).
Host* CurrentHost();

// Program versions a host can pretend to have (Win32: those built beside it).
std::vector<std::array<int, 4>> AvailableProgramVersions();

// The folder of the running program.
std::string ProgramFolder();

}  // namespace kavhost
