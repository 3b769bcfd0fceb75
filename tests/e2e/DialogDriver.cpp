#include "DialogDriver.h"

#include <commctrl.h>
#include <winsock2.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

struct FindBox {
    DWORD processId;
    HWND exclude;
    HWND found;
};

BOOL CALLBACK FindBoxProc(HWND hwnd, LPARAM lParam) {
    auto* find = reinterpret_cast<FindBox*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t className[64] = L"";
    GetClassNameW(hwnd, className, 64);
    if (pid == find->processId && hwnd != find->exclude && IsWindowVisible(hwnd) &&
        wcscmp(className, L"#32770") == 0) {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
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

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

DialogDriver::~DialogDriver() {
    Kill();
}

bool DialogDriver::Launch(const std::wstring& exe, const std::wstring& caption) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + exe + L"\"";
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
        Pause(20);
    }
    return false;
}

std::wstring DialogDriver::Text(int id) const {
    return WindowText(Item(id));
}

void DialogDriver::SetText(int id, const std::wstring& text) const {
    SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool DialogDriver::Enabled(int id) const {
    return IsWindowEnabled(Item(id)) != FALSE;
}

bool DialogDriver::HasTabStop(int id) const {
    return (GetWindowLongW(Item(id), GWL_STYLE) & WS_TABSTOP) != 0;
}

int DialogDriver::ComboIndex(int id) const {
    return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0));
}

int DialogDriver::ComboCount(int id) const {
    return static_cast<int>(SendMessageW(Item(id), CB_GETCOUNT, 0, 0));
}

void DialogDriver::SelectCombo(int id, int index) const {
    SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(m_hDialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(id)));
}

DWORD DialogDriver::Address(int id) const {
    DWORD value = 0;
    for (HWND field : AddressFields(Item(id))) {
        value = (value << 8) | static_cast<DWORD>(_wtoi(WindowText(field).c_str()) & 0xFF);
    }
    return value;
}

void DialogDriver::SetAddress(int id, DWORD value) const {
    SendMessageW(Item(id), IPM_SETADDRESS, 0, static_cast<LPARAM>(value));
}

void DialogDriver::BlankAddressField(int id, int field) const {
    const std::vector<HWND> fields = AddressFields(Item(id));
    if (field >= 0 && field < static_cast<int>(fields.size())) {
        SendMessageW(fields[static_cast<size_t>(field)], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    }
}

void DialogDriver::Click(int id) const {
    PostMessageW(m_hDialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
    Sync();
}

void DialogDriver::PressKey(UINT virtualKey) const {
    HWND focus = Item(1000);  // the first tab stop has the focus after start
    PostMessageW(focus, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(focus, WM_KEYUP, virtualKey, 0xC0000001);
    Sync();
}

void DialogDriver::SysCommand(WPARAM command) const {
    PostMessageW(m_hDialog, WM_SYSCOMMAND, command, 0);
    Sync();
}

void DialogDriver::Sync() const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(m_hDialog, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
}

HWND DialogDriver::WaitForBox(int timeoutMs) const {
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        FindBox find = {m_process.dwProcessId, m_hDialog, nullptr};
        EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&find));
        if (find.found != nullptr) {
            return find.found;
        }
        Pause(10);
    }
    return nullptr;
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
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int waited = 0; waited < 5000 && IsWindow(box) && IsWindowVisible(box); waited += 10) {
        Pause(10);
    }
    Sync();
}

bool DialogDriver::WaitForExit(int timeoutMs) {
    if (m_process.hProcess == nullptr) {
        return true;
    }
    return WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
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
