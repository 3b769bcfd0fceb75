#include "winui/WinApp.h"

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp::CWinApp(const wchar_t* appName) {
    g_pApp = this;
    if (appName != nullptr) {
        m_strAppName = appName;
    }
}

CWinApp::~CWinApp() {
    if (g_pApp == this) {
        g_pApp = nullptr;
    }
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

void CWinApp::SetRegistryKey(const wchar_t* key) {
    m_strRegistryKey = key;
    m_pszRegistryKey = m_strRegistryKey.c_str();
}

int CWinApp::Run(HINSTANCE instance) {
    m_hInstance = instance;
    if (m_strAppName.empty()) {
        wchar_t path[MAX_PATH] = L"";
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring name = path;
        const size_t slash = name.find_last_of(L"\\/");
        if (slash != std::wstring::npos) {
            name.erase(0, slash + 1);
        }
        const size_t dot = name.find_last_of(L'.');
        if (dot != std::wstring::npos) {
            name.erase(dot);
        }
        m_strAppName = name;
    }
    m_pszAppName = m_strAppName.c_str();

    if (!InitInstance()) {
        return 0;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

// The program's entry point: runs the one application object.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    CWinApp* app = AfxGetApp();
    return app != nullptr ? app->Run(instance) : 1;
}
