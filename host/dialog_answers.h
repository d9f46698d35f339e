// Answers to the plug-in's dialogs. Natively the file-open dialog and the folder
// browser are stand-ins (platform/) that ask the host: a test scripts the answers
// in advance (Host::QueueDialogAnswer), a person answers on the terminal
// (Host::SetInteractiveDialogs). The host keeps what each dialog was shown with.
// On Win32 the real dialogs appear and none of this is used.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kavhost {

// What the user does in a dialog.
struct DialogAnswer {
    enum class Kind { Cancel, Files, Folder, NoPath, Fail };
    Kind kind = Kind::Cancel;
    std::string directory;           // Files: their folder; Folder: the folder chosen
    std::vector<std::string> names;  // Files: one or more names in `directory`
};
DialogAnswer CancelDialog();
// One file by its full path (split at its last slash or backslash).
DialogAnswer ChooseFile(const std::string& path);
// Several files of one folder (the folder and the names as the dialog lists them).
DialogAnswer ChooseFiles(const std::string& directory, const std::vector<std::string>& names);
DialogAnswer ChooseFolder(const std::string& path);
// Browser: an item that has no file-system path (a virtual folder).
DialogAnswer ChooseVirtualItem();
// The dialog could not be shown.
DialogAnswer FailDialog();
// The command line's form: cancel, fail, nopath, file:PATH, files:DIR|NAME|NAME...,
// folder:PATH. False when the text is none of these.
bool ParseDialogAnswer(const std::string& text, DialogAnswer* out);

// A dialog as the plug-in asked for it: the request record's fields.
struct DialogSeen {
    enum class Kind { OpenFile, BrowseFolder };
    Kind kind = Kind::OpenFile;
    void* owner = nullptr;
    uint32_t flags = 0;
    bool hasTitle = false;
    std::string title;
    // File-open.
    uint32_t structSize = 0;
    std::vector<std::pair<std::string, std::string>> filters;  // description, pattern
    bool filtersClosed = false;                                // the block ends with an empty text
    uint32_t filterIndex = 0;
    uint32_t maxFile = 0;
    bool fileBufferZeroed = false;  // all nMaxFile bytes were 0
    bool hasInitialDir = false;
    std::string initialDir;
    bool otherFieldsZero = false;  // every field not listed above was 0 or null
    // Browser.
    bool hasRoot = false;
    bool hasDisplayName = false;
    bool hasCallback = false;
    bool hasCallbackData = false;
    std::string callbackData;  // the callback's data read as a text
    bool preselected = false;  // the callback asked the browser to select...
    std::string preselection;  // ...this path
    bool oleReady = false;     // OLE was initialised when the browser opened
    int image = 0;
};

}  // namespace kavhost
