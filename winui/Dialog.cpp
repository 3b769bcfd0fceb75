#include "winui/Dialog.h"

#include <commctrl.h>

#include <vector>

#include "winui/WinApp.h"

namespace {

// The message numbers that dialog initialization data uses for "add a string".
constexpr WORD kDlgInitComboAddString = 0x0403;
constexpr WORD kDlgInitListAddString = 0x0401;
const LPCWSTR kRtDlgInit = MAKEINTRESOURCEW(240);  // dialog initialization data

HINSTANCE Instance() {
    CWinApp* app = AfxGetApp();
    return app != nullptr && app->m_hInstance != nullptr ? app->m_hInstance : GetModuleHandleW(nullptr);
}

}  // namespace

void DDX_CBIndex(CDataExchange* pDX, int id, int& index) {
    HWND combo = pDX->m_pDlgWnd->GetDlgItem(id);
    if (pDX->m_bSaveAndValidate) {
        index = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    } else {
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

void DDX_IPAddress(CDataExchange* pDX, int id, DWORD& value) {
    HWND control = pDX->m_pDlgWnd->GetDlgItem(id);
    if (pDX->m_bSaveAndValidate) {
        DWORD address = 0;
        SendMessageW(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
        value = address;
    } else {
        SendMessageW(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(value));
    }
}

void DDX_Text(CDataExchange* pDX, int id, std::wstring& value) {
    HWND control = pDX->m_pDlgWnd->GetDlgItem(id);
    if (pDX->m_bSaveAndValidate) {
        const int length = GetWindowTextLengthW(control);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        const int copied = GetWindowTextW(control, &text[0], length + 1);
        text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
        value = text;
    } else {
        SetWindowTextW(control, value.c_str());
    }
}

CDialog::CDialog(UINT templateId, CDialog* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->GetSafeHwnd() : nullptr;
    const INT_PTR result = DialogBoxParamW(Instance(), MAKEINTRESOURCEW(m_nIDTemplate), owner, DialogProc,
                                           reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

void CDialog::EndDialog(INT_PTR result) {
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    ExecuteDlgInit();
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

const MessageMap* CDialog::GetMessageMap() const {
    static const MessageMapEntry kEntries[] = {
        OnCommand<CDialog>(IDOK, BN_CLICKED, &CDialog::OnOK),
        OnCommand<CDialog>(IDCANCEL, BN_CLICKED, &CDialog::OnCancel),
    };
    static const MessageMap kMap(nullptr, kEntries);
    return &kMap;
}

bool CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
        for (std::size_t i = 0; i < map->count; ++i) {
            const MessageMapEntry& entry = map->entries[i];
            if (entry.message != message) {
                continue;
            }
            if (message == WM_COMMAND) {
                if (entry.id != LOWORD(wParam) || entry.code != HIWORD(wParam)) {
                    continue;
                }
                (this->*entry.onCommand)();
                result = 0;
                return true;
            }
            result = (this->*entry.onMessage)(wParam, lParam);
            return true;
        }
    }
    return false;
}

// Fills list and combo boxes from the template's initialization data (resource type 240 with
// the template's id), as the classic framework's ExecuteDlgInit does:
// https://learn.microsoft.com/en-us/cpp/mfc/reference/cwnd-class#executedlginit
// Entries of {WORD control id, WORD message, DWORD byte count, ANSI text with its terminating 0},
// packed without alignment and ended by a 0 WORD. The message numbers are the 16-bit ones
// (0x0403 for a combo box's add-string), not CB_ADDSTRING.
void CDialog::ExecuteDlgInit() {
    HINSTANCE instance = Instance();
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(m_nIDTemplate), kRtDlgInit);
    if (found == nullptr) {
        return;
    }
    HGLOBAL loaded = LoadResource(instance, found);
    const BYTE* data = static_cast<const BYTE*>(LockResource(loaded));
    const DWORD size = SizeofResource(instance, found);
    if (data == nullptr) {
        return;
    }
    DWORD pos = 0;
    while (pos + sizeof(WORD) <= size) {
        WORD id;
        memcpy(&id, data + pos, sizeof id);
        if (id == 0 || pos + 2 * sizeof(WORD) + sizeof(DWORD) > size) {
            break;
        }
        WORD message;
        DWORD count;
        memcpy(&message, data + pos + 2, sizeof message);
        memcpy(&count, data + pos + 4, sizeof count);
        pos += 8;
        if (count > size - pos) {
            break;  // damaged data: stop rather than read past the resource
        }
        const char* text = reinterpret_cast<const char*>(data + pos);
        const int length = static_cast<int>(strnlen(text, count));
        const int units = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
        std::wstring wide(static_cast<size_t>(units), L'\0');
        if (units > 0) {
            MultiByteToWideChar(CP_ACP, 0, text, length, &wide[0], units);
        }
        if (message == kDlgInitComboAddString) {
            SendDlgItemMessageW(m_hWnd, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        } else if (message == kDlgInitListAddString) {
            SendDlgItemMessageW(m_hWnd, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        }
        pos += count;
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        // A dialog procedure never sees WM_CREATE: the system creates the dialog window first and
        // only then sends the procedure WM_INITDIALOG (Remarks of
        // https://learn.microsoft.com/en-us/windows/win32/api/winuser/nf-winuser-dialogboxparamw).
        // The creation handler runs here instead, the first moment the dialog is ours.
        CREATESTRUCTW create = {};
        create.hInstance = Instance();
        create.hwndParent = GetParent(hwnd);
        create.style = static_cast<LONG>(GetWindowLongPtrW(hwnd, GWL_STYLE));
        create.dwExStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
        self->Dispatch(WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    return self->Dispatch(message, wParam, lParam);
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    m_bDefault = false;
    if (!OnWndMsg(message, wParam, lParam, result)) {
        return FALSE;
    }
    if (m_bDefault) {
        m_bDefault = false;
        return FALSE;
    }
    // A dialog procedure answers TRUE for "handled" and leaves the message's own result in
    // DWLP_MSGRESULT; only the messages below answer through the procedure's return value:
    // https://learn.microsoft.com/en-us/windows/win32/api/winuser/nc-winuser-dlgproc
    switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
            return static_cast<INT_PTR>(result);
        default:
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
            return TRUE;
    }
}
