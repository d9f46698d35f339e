// Lists the controls of a visible top-level window found by its exact title, one
// per line: class, control id (hex), text (UTF-8). A combo box's line shows its
// selected item, a tree view's the labels down to its selected item. The
// real-dialog tests read the file-open dialog's file-type box and the folder
// browser's selection with it.
//
//     dlgprobe.exe "Open file"
#include <windows.h>

#include <commctrl.h>  // needs windows.h first

#include <cstdio>
#include <string>

namespace {

// The labels from the tree's root down to its selected item, joined by '\\'.
// The tree lives in another process: its item records are read and written in
// that process's memory.
std::string SelectedTreePath(HWND tree)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(tree, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return "?";
    const SIZE_T textRoom = 260;
    const SIZE_T size = sizeof(TVITEMW) + textRoom * sizeof(wchar_t);
    auto* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    std::string path;
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    while (remote && item) {
        TVITEMW tv = {};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(TVITEMW));
        tv.cchTextMax = static_cast<int>(textRoom);
        wchar_t wide[260] = {0};
        char label[520] = {0};
        if (WriteProcessMemory(process, remote, &tv, sizeof tv, nullptr) &&
            SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote)) &&
            ReadProcessMemory(process, remote + sizeof(TVITEMW), wide, sizeof wide - sizeof(wchar_t), nullptr))
            WideCharToMultiByte(CP_UTF8, 0, wide, -1, label, sizeof label, nullptr, nullptr);
        path = path.empty() ? std::string(label) : std::string(label) + "\\" + path;
        item = reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)));
    }
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return path;
}

BOOL CALLBACK PrintControl(HWND control, LPARAM)
{
    // The controls belong to another process: ask in UTF-16, which crosses the
    // process boundary whatever the controls' own character set.
    char cls[128] = {0};
    wchar_t wide[512] = {0};
    char text[1024] = {0};
    GetClassNameA(control, cls, sizeof cls);
    if (lstrcmpiA(cls, "ComboBox") == 0) {
        const LRESULT sel = SendMessageW(control, CB_GETCURSEL, 0, 0);
        if (sel != CB_ERR && SendMessageW(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(sel), 0) <
                                 static_cast<LRESULT>(sizeof wide / sizeof wide[0]))
            SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(wide));
    } else if (lstrcmpiA(cls, "SysTreeView32") == 0) {
        std::printf("%s\t%04lx\t%s\n", cls, static_cast<unsigned long>(GetDlgCtrlID(control)),
                    SelectedTreePath(control).c_str());
        return TRUE;
    } else {
        GetWindowTextW(control, wide, sizeof wide / sizeof wide[0]);
    }
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    std::printf("%s\t%04lx\t%s\n", cls, static_cast<unsigned long>(GetDlgCtrlID(control)), text);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dlgprobe TITLE\n");
        return 2;
    }
    HWND window = FindWindowA(nullptr, argv[1]);
    if (!window || !IsWindowVisible(window)) {
        std::fprintf(stderr, "no visible window titled \"%s\"\n", argv[1]);
        return 1;
    }
    EnumChildWindows(window, PrintControl, 0);
    return 0;
}
