// Loaded by the end-to-end tests into a running dialog program (CreateRemoteThread on
// LoadLibraryW): under Wine another process cannot read a window's menu, so this reads the main
// dialog's system menu from inside the program. It writes one line per item, "id<TAB>kind<TAB>
// text" with kind "separator" or "string", into the named section Local\TolSystemMenu<pid>
// (created by the test), sets the event Local\TolSystemMenu<pid>Done and unloads itself.
#include <windows.h>

#include <cwchar>

namespace {

HMODULE g_module = nullptr;

BOOL CALLBACK FindMainDialog(HWND hwnd, LPARAM lParam) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t className[16] = L"";
    GetClassNameW(hwnd, className, 16);
    // The main dialog is the program's one visible dialog without an owner; message boxes and
    // the About box are owned by it.
    if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd) && wcscmp(className, L"#32770") == 0 &&
        GetWindow(hwnd, GW_OWNER) == nullptr) {
        *reinterpret_cast<HWND*>(lParam) = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Appends to `out` (capacity in characters, including the terminating 0).
void Append(wchar_t* out, size_t capacity, const wchar_t* text) {
    const size_t used = wcslen(out);
    if (used + 1 < capacity) {
        wcsncat(out, text, capacity - used - 1);
    }
}

DWORD WINAPI ReadSystemMenu(void*) {
    wchar_t name[64];
    swprintf(name, 64, L"Local\\TolSystemMenu%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
    wcscat(name, L"Done");
    HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
    void* view = section != nullptr ? MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0) : nullptr;
    if (view != nullptr) {
        MEMORY_BASIC_INFORMATION info = {};
        VirtualQuery(view, &info, sizeof info);
        wchar_t* out = static_cast<wchar_t*>(view);
        const size_t capacity = info.RegionSize / sizeof(wchar_t);
        out[0] = L'\0';
        HWND dialog = nullptr;
        EnumWindows(FindMainDialog, reinterpret_cast<LPARAM>(&dialog));
        HMENU menu = dialog != nullptr ? GetSystemMenu(dialog, FALSE) : nullptr;
        const int count = menu != nullptr ? GetMenuItemCount(menu) : -1;
        for (int i = 0; i < count; ++i) {
            wchar_t text[256] = L"";
            MENUITEMINFOW item = {};
            item.cbSize = sizeof item;
            item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
            item.dwTypeData = text;
            item.cch = 256;
            if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item)) {
                continue;
            }
            wchar_t line[300];
            swprintf(line, 300, L"%u\t%ls\t%ls\n", item.wID,
                     (item.fType & MFT_SEPARATOR) != 0 ? L"separator" : L"string", text);
            Append(out, capacity, line);
        }
        UnmapViewOfFile(view);
    }
    if (section != nullptr) {
        CloseHandle(section);
    }
    if (done != nullptr) {
        SetEvent(done);
        CloseHandle(done);
    }
    FreeLibraryAndExitThread(g_module, 0);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        // Not here, under the loader lock: on a thread of its own once loading is done.
        HANDLE thread = CreateThread(nullptr, 0, ReadSystemMenu, nullptr, 0, nullptr);
        if (thread != nullptr) {
            CloseHandle(thread);
        }
    }
    return TRUE;
}
