#include "tests/e2e/DialogDriver.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <winsock2.h>

#include <algorithm>
#include <sstream>

#include "tests/e2e/E2eUtil.h"

namespace {

constexpr DWORD kAnswerTimeoutMs = 10000;

struct FindWindowOf {
    DWORD processId;
    const wchar_t* className;
    HWND exclude;
    HWND found;
};

BOOL CALLBACK FindWindowOfProc(HWND hwnd, LPARAM lParam) {
    auto* find = reinterpret_cast<FindWindowOf*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t className[64] = L"";
    GetClassNameW(hwnd, className, 64);
    if (pid == find->processId && hwnd != find->exclude && IsWindowVisible(hwnd) &&
        wcscmp(className, find->className) == 0) {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level window of the process of that class, other than `exclude`.
HWND VisibleWindowOf(DWORD processId, const wchar_t* className, HWND exclude) {
    FindWindowOf find = {processId, className, exclude, nullptr};
    EnumWindows(FindWindowOfProc, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

struct Children {
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lParam) {
    reinterpret_cast<Children*>(lParam)->windows.push_back(hwnd);
    return TRUE;
}

std::wstring WindowText(HWND hwnd) {
    wchar_t text[4096] = L"";
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return text;
}

// The edit fields of an IP address control, from left to right.
std::vector<HWND> AddressFields(HWND control) {
    Children children;
    EnumChildWindows(control, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::sort(children.windows.begin(), children.windows.end(), [](HWND a, HWND b) {
        RECT ra, rb;
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.left < rb.left;
    });
    return children.windows;
}

// A button a person could press now: present, shown and enabled.
HWND PressableButton(HWND button, const std::string& what) {
    if (button == nullptr) {
        ADD_FAILURE() << what << ": no such button";
    } else if (!IsWindowVisible(button)) {
        ADD_FAILURE() << what << ": the button is not shown";
    } else if (!IsWindowEnabled(button)) {
        ADD_FAILURE() << what << ": the button is disabled";
    } else {
        return button;
    }
    return nullptr;
}

}  // namespace

DialogDriver::~DialogDriver() {
    Kill();
}

bool DialogDriver::Launch(const std::wstring& exe, const std::wstring& caption) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + exe + L"\"";
    m_dwLaunchTick = GetTickCount();
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &m_process)) {
        return false;
    }
    for (int waited = 0; waited < 10000; waited += 20) {
        HWND found = FindWindowW(L"#32770", caption.c_str());
        DWORD pid = 0;
        GetWindowThreadProcessId(found, &pid);
        if (found != nullptr && pid == m_process.dwProcessId && IsWindowVisible(found)) {
            m_hDialog = found;
            return true;
        }
        Sleep(20);
    }
    return false;
}

std::wstring DialogDriver::Text(int id) const {
    return WindowText(Item(id));
}

HWND DialogDriver::Usable(int id, const char* what) const {
    HWND control = Item(id);
    if (control == nullptr) {
        ADD_FAILURE() << what << " " << id << ": no such control";
    } else if (!IsWindowVisible(control)) {
        ADD_FAILURE() << what << " " << id << ": the control is not shown";
    } else if (!IsWindowEnabled(control)) {
        ADD_FAILURE() << what << " " << id << ": the control is disabled";
    } else {
        return control;
    }
    return nullptr;
}

void DialogDriver::SetText(int id, const std::wstring& text) const {
    if (HWND edit = Usable(id, "edit")) {
        SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

bool DialogDriver::Enabled(int id) const {
    return IsWindowEnabled(Item(id)) != FALSE;
}

int DialogDriver::ComboIndex(int id) const {
    return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0));
}

int DialogDriver::ComboCount(int id) const {
    return static_cast<int>(SendMessageW(Item(id), CB_GETCOUNT, 0, 0));
}

std::vector<std::wstring> DialogDriver::ComboEntries(int id) const {
    std::vector<std::wstring> entries;
    HWND combo = Item(id);
    const int count = ComboCount(id);
    for (int i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0) {
            entries.push_back(L"<unreadable>");
            continue;
        }
        std::wstring entry(static_cast<size_t>(length) + 1, L'\0');
        const LRESULT copied =
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&entry[0]));
        entry.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
        entries.push_back(entry);
    }
    return entries;
}

std::vector<ShownControl> DialogDriver::Controls() const {
    std::vector<ShownControl> controls;
    for (HWND child = GetWindow(m_hDialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[64] = L"";
        GetClassNameW(child, className, 64);
        controls.push_back(
            {GetDlgCtrlID(child), className, WindowText(child), GetWindowLongW(child, GWL_STYLE)});
    }
    return controls;
}

std::vector<ShownMenuItem> DialogDriver::SystemMenu() const {
    std::vector<ShownMenuItem> items;
    const std::wstring name = L"Local\\TolSystemMenu" + std::to_wstring(m_process.dwProcessId);
    constexpr DWORD kSectionBytes = 65536;
    HANDLE section =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionBytes, name.c_str());
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, (name + L"Done").c_str());
    const std::wstring probe = WinePath(SYSTEM_MENU_PROBE_DLL);
    const SIZE_T bytes = (probe.size() + 1) * sizeof(wchar_t);
    void* remote =
        VirtualAllocEx(m_process.hProcess, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    // kernel32 lies at the same address in every process, so LoadLibraryW is where it is here.
    const auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    HANDLE thread = nullptr;
    if (section != nullptr && done != nullptr && remote != nullptr &&
        WriteProcessMemory(m_process.hProcess, remote, probe.c_str(), bytes, nullptr)) {
        thread = CreateRemoteThread(m_process.hProcess, nullptr, 0, load, remote, 0, nullptr);
    }
    if (thread != nullptr) {
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        if (WaitForSingleObject(done, 10000) == WAIT_OBJECT_0) {
            const auto* text = static_cast<const wchar_t*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
            if (text != nullptr) {
                std::wistringstream lines(std::wstring(text, wcsnlen(text, kSectionBytes / sizeof(wchar_t))));
                std::wstring line;
                while (std::getline(lines, line)) {
                    const size_t tab1 = line.find(L'\t');
                    const size_t tab2 = tab1 == std::wstring::npos ? tab1 : line.find(L'\t', tab1 + 1);
                    if (tab2 == std::wstring::npos) {
                        continue;
                    }
                    items.push_back({static_cast<UINT>(std::stoul(line.substr(0, tab1))),
                                     line.compare(tab1 + 1, tab2 - tab1 - 1, L"separator") == 0,
                                     line.substr(tab2 + 1)});
                }
                UnmapViewOfFile(text);
            }
        }
    }
    if (remote != nullptr) {
        VirtualFreeEx(m_process.hProcess, remote, 0, MEM_RELEASE);
    }
    if (done != nullptr) {
        CloseHandle(done);
    }
    if (section != nullptr) {
        CloseHandle(section);
    }
    return items;
}

void DialogDriver::SelectCombo(int id, int index) const {
    if (HWND combo = Usable(id, "combo box")) {
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(m_hDialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    }
}

DWORD DialogDriver::Address(int id) const {
    DWORD value = 0;
    for (HWND field : AddressFields(Item(id))) {
        value = (value << 8) | static_cast<DWORD>(_wtoi(WindowText(field).c_str()) & 0xFF);
    }
    return value;
}

void DialogDriver::SetAddress(int id, DWORD value) const {
    if (HWND control = Usable(id, "address field")) {
        SendMessageW(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(value));
    }
}

void DialogDriver::BlankAddressField(int id, int field) const {
    if (HWND control = Usable(id, "address field")) {
        const std::vector<HWND> fields = AddressFields(control);
        if (field >= 0 && field < static_cast<int>(fields.size())) {
            SendMessageW(fields[static_cast<size_t>(field)], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        }
    }
}

void DialogDriver::Barrier() const {
    // The marker: the modified flag of the first edit field, which the programs never look at.
    // Flipped by a posted message, it has flipped once everything posted before it has been
    // handled, or while a modal box that an earlier message opened is serving messages. Twice:
    // a box only shows once its loop first finds nothing to do, which is after the first marker.
    HWND edit = FindWindowExW(m_hDialog, nullptr, L"Edit", nullptr);
    for (int round = 0; round < 2; ++round) {
        DWORD_PTR was = 0;
        if (edit == nullptr ||
            !SendMessageTimeoutW(edit, EM_GETMODIFY, 0, 0, SMTO_NORMAL, kAnswerTimeoutMs, &was)) {
            // A dialog that is gone has handled what came before.
            if (IsWindow(edit) && !Ended()) {
                ADD_FAILURE() << "the program does not answer";
            }
            return;
        }
        const DWORD_PTR flipped = was != 0 ? 0 : 1;
        PostMessageW(edit, EM_SETMODIFY, flipped, 0);
        for (DWORD start = GetTickCount();; Sleep(2)) {
            DWORD_PTR now = was;
            if (!SendMessageTimeoutW(edit, EM_GETMODIFY, 0, 0, SMTO_NORMAL, kAnswerTimeoutMs, &now)) {
                if (IsWindow(edit) && !Ended()) {
                    ADD_FAILURE() << "the program does not answer";
                }
                return;
            }
            if ((now != 0) == (flipped != 0)) {
                break;
            }
            if (GetTickCount() - start > kAnswerTimeoutMs) {
                ADD_FAILURE() << "the program did not get through its messages within " << kAnswerTimeoutMs
                              << " ms";
                return;
            }
        }
    }
}

void DialogDriver::Click(int id) const {
    // Posted, as a click's mouse messages are: a modal box that the press opens does not hold up
    // the test, and the program meets the press in its own message loop, where a crash in the
    // handler ends it (a sent message's handler runs under the system's exception handler).
    if (HWND button = PressableButton(Item(id), "button " + std::to_string(id))) {
        PostMessageW(button, BM_CLICK, 0, 0);
        Barrier();
    }
}

void DialogDriver::PressKey(UINT virtualKey) const {
    HWND focus = Item(1000);  // the first tab stop has the focus after start
    PostMessageW(focus, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(focus, WM_KEYUP, virtualKey, 0xC0000001);
    Barrier();
}

void DialogDriver::SysCommand(WPARAM command) const {
    PostMessageW(m_hDialog, WM_SYSCOMMAND, command, 0);
    Barrier();
}

bool DialogDriver::OpenSystemMenu() const {
    // Alt+Space. Posted: the menu runs a loop of its own until it is closed.
    PostMessageW(m_hDialog, WM_SYSCOMMAND, SC_KEYMENU, L' ');
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(5)) {
        if (VisibleWindowOf(m_process.dwProcessId, L"#32768", nullptr) != nullptr) {
            return true;
        }
    }
    return false;
}

void DialogDriver::MenuKeys(std::initializer_list<UINT> virtualKeys) const {
    // The menu's loop takes every key of the program's queue, whichever window it is posted to.
    for (UINT key : virtualKeys) {
        PostMessageW(m_hDialog, WM_KEYDOWN, key, 1);
        PostMessageW(m_hDialog, WM_KEYUP, key, 0xC0000001);
    }
}

void DialogDriver::Sync() const {
    Barrier();
}

HWND DialogDriver::WaitForBox(int timeoutMs) const {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND box = VisibleWindowOf(m_process.dwProcessId, L"#32770", m_hDialog)) {
            return box;
        }
        if (GetTickCount() - start >= static_cast<DWORD>(timeoutMs)) {
            return nullptr;
        }
        Sleep(5);
    }
}

std::wstring DialogDriver::BoxTitle(HWND box) const {
    return WindowText(box);
}

std::wstring DialogDriver::BoxText(HWND box) const {
    return WindowText(GetDlgItem(box, 0xFFFF));
}

std::vector<std::wstring> DialogDriver::BoxTexts(HWND box) const {
    Children children;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::vector<std::wstring> texts;
    for (HWND child : children.windows) {
        if (IsWindowVisible(child)) {
            texts.push_back(WindowText(child));
        }
    }
    return texts;
}

bool DialogDriver::BoxHasIcon(HWND box) const {
    HWND icon = GetDlgItem(box, 0x0014);  // the message box's icon control
    return icon != nullptr && IsWindowVisible(icon);
}

void DialogDriver::CloseBox(HWND box) const {
    HWND ok = PressableButton(GetDlgItem(box, IDOK), "the box's OK");
    if (ok == nullptr) {
        return;
    }
    PostMessageW(ok, BM_CLICK, 0, 0);
    for (DWORD start = GetTickCount(); IsWindow(box) && IsWindowVisible(box); Sleep(2)) {
        if (GetTickCount() - start > kAnswerTimeoutMs) {
            ADD_FAILURE() << "the box did not close";
            return;
        }
    }
    // What opened the box goes on now: wait until it is done too, or shows the next box.
    Barrier();
}

bool DialogDriver::Ended() const {
    return m_process.hProcess == nullptr || WaitForSingleObject(m_process.hProcess, 0) == WAIT_OBJECT_0;
}

bool DialogDriver::WaitForExit(int timeoutMs) {
    if (m_process.hProcess == nullptr) {
        return true;
    }
    return WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

DWORD DialogDriver::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (m_process.hProcess != nullptr) {
        GetExitCodeProcess(m_process.hProcess, &code);
    }
    return code;
}

void DialogDriver::Kill() {
    if (m_process.hProcess != nullptr) {
        if (WaitForSingleObject(m_process.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(m_process.hProcess, 1);
            WaitForSingleObject(m_process.hProcess, 5000);
        }
        CloseHandle(m_process.hProcess);
        CloseHandle(m_process.hThread);
        m_process = {};
    }
}

DWORD LocalAddressOfThisPc() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) {
        return 0xFFFFFFFF;
    }
    char name[256] = "";
    DWORD result = 0xFFFFFFFF;
    if (gethostname(name, 255) == 0) {
        const hostent* host = gethostbyname(name);
        if (host != nullptr && host->h_addr_list[0] != nullptr) {
            in_addr first;
            memcpy(&first, host->h_addr_list[0], sizeof first);
            result = ntohl(first.s_addr);
        }
    }
    WSACleanup();
    return result;
}
