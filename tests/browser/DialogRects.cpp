// Prints where a running dialog and its controls are on the screen, for a test that works the
// dialog from outside Wine (through a browser): dialog_rects CAPTION ID...
// Waits up to 20 s for a visible dialog with that caption; then one line per ID,
// "ID LEFT TOP RIGHT BOTTOM" in screen pixels; ID 0 is the dialog itself. Exit code 1 when the
// dialog or a control is not there.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: dialog_rects CAPTION ID...\n");
        return 2;
    }
    HWND dialog = nullptr;
    for (int waited = 0; waited < 20000 && dialog == nullptr; waited += 50) {
        HWND found = FindWindowW(L"#32770", argv[1]);
        if (found != nullptr && IsWindowVisible(found)) {
            dialog = found;
        } else {
            Sleep(50);
        }
    }
    if (dialog == nullptr) {
        std::fprintf(stderr, "dialog_rects: no visible dialog with that caption\n");
        return 1;
    }
    int status = 0;
    for (int i = 2; i < argc; ++i) {
        const int id = std::wcstol(argv[i], nullptr, 10);
        HWND window = id == 0 ? dialog : GetDlgItem(dialog, id);
        RECT rect = {};
        if (window == nullptr || !GetWindowRect(window, &rect)) {
            std::fprintf(stderr, "dialog_rects: no control %d\n", id);
            status = 1;
            continue;
        }
        std::printf("%d %ld %ld %ld %ld\n", id, rect.left, rect.top, rect.right, rect.bottom);
    }
    return status;
}
