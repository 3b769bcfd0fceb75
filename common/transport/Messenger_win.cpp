// The base messenger on Windows: one overlapped WriteFileEx, waited for alertably within
// kWriteTimeoutMs, and the error texts of FormatMessage.
#include "Messenger.h"

#include <string>

namespace {

// FormatMessage ends its texts with ".\r\n" and starts them with a capital; the callers print
// them inside their own sentences ("COM1: the system cannot find the file specified").
std::string SystemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) {
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            text.resize(static_cast<size_t>(bytes));
            WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), &text[0], bytes, nullptr,
                                nullptr);
        }
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        return "error " + std::to_string(code);
    }
    // "The system ..." becomes "the system ...", but an acronym such as "WSAStartup" stays.
    if (text[0] >= 'A' && text[0] <= 'Z' && (text.size() == 1 || (text[1] >= 'a' && text[1] <= 'z'))) {
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    }
    return text;
}

}  // namespace

Messenger::Messenger() : m_hPort(INVALID_HANDLE_VALUE), m_wOverlapped(), m_rOverlapped() {
    // Manual-reset and unsignalled: only a pending serial read ever signals it.
    m_hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_rOverlapped.hEvent = m_hEvent;
}

Messenger::~Messenger() {
    // A subclass has closed its device by now, which cancels whatever it still had pending; the
    // completion routine of such a write must run before the record it points at goes away.
    if (m_bWritePending) {
        AwaitWriteCompletion(kWriteTimeoutMs);
    }
    if (m_hEvent != nullptr) {
        CloseHandle(m_hEvent);
    }
}

int Messenger::Open() {
    return kMessengerFailed;
}

int Messenger::Close() {
    return kMessengerFailed;
}

int Messenger::Read(void*, int) {
    return kMessengerFailed;
}

void CALLBACK Messenger::WriteCompleted(DWORD error, DWORD transferred, OVERLAPPED* overlapped) {
    Messenger* self = static_cast<Messenger*>(overlapped->hEvent);
    self->m_dwWriteError = error;
    self->m_dwWritten = transferred;
    self->m_bWritePending = false;
}

bool Messenger::AwaitWriteCompletion(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (m_bWritePending) {
        const ULONGLONG now = GetTickCount64();
        // Any completion routine queued to this thread runs here, ours included.
        SleepEx(now >= deadline ? 0 : static_cast<DWORD>(deadline - now), TRUE);
        if (now >= deadline) {
            break;
        }
    }
    return !m_bWritePending;
}

int Messenger::Write(const void* data, int length) {
    if (m_hPort == INVALID_HANDLE_VALUE) {
        if (m_nLastError == 0) {
            KeepError(ERROR_INVALID_HANDLE, "port not open");
        }
        return kMessengerFailed;
    }
    if (m_hEvent == nullptr || length < 0 || (data == nullptr && length > 0)) {
        KeepError(ERROR_INVALID_PARAMETER);
        return kMessengerFailed;
    }
    // A write cancelled earlier whose completion never came still owns the write record.
    if (m_bWritePending && !AwaitWriteCompletion(0)) {
        KeepError(ERROR_BUSY, "an earlier write is still pending");
        return kMessengerFailed;
    }

    m_wOverlapped.Internal = 0;
    m_wOverlapped.InternalHigh = 0;
    m_wOverlapped.Offset = 0;
    m_wOverlapped.OffsetHigh = 0;
    // WriteFileEx leaves hEvent to the caller; it tells the completion routine whose write it was.
    m_wOverlapped.hEvent = this;
    m_dwWriteError = 0;
    m_dwWritten = 0;
    m_bWritePending = true;
    if (!WriteFileEx(m_hPort, data, static_cast<DWORD>(length), &m_wOverlapped, &Messenger::WriteCompleted)) {
        m_bWritePending = false;
        KeepSystemError();
        return kMessengerFailed;
    }

    // The event is only ever signalled by a serial read, and every Read has finished its own by
    // the time it returns; reset it anyway so that the wait below cannot end at once.
    ResetEvent(m_hEvent);
    const ULONGLONG deadline = GetTickCount64() + kWriteTimeoutMs;
    DWORD wait = WAIT_TIMEOUT;
    while (m_bWritePending) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            wait = WAIT_TIMEOUT;
            break;
        }
        wait = WaitForSingleObjectEx(m_hEvent, static_cast<DWORD>(deadline - now), TRUE);
        if (wait != WAIT_IO_COMPLETION) {
            break;  // time-out, or a wait that cannot go on
        }
        // WAIT_IO_COMPLETION also comes from other completion routines of this thread: loop.
    }

    if (!m_bWritePending) {
        if (m_dwWriteError != ERROR_SUCCESS) {
            KeepError(static_cast<int>(m_dwWriteError));
            return kMessengerFailed;
        }
        if (m_dwWritten != static_cast<DWORD>(length)) {
            KeepError(ERROR_WRITE_FAULT, "the device took " + std::to_string(m_dwWritten) + " of " +
                                             std::to_string(length) + " bytes");
            return kMessengerFailed;
        }
        return kMessengerOk;
    }

    const DWORD waitError = wait == WAIT_FAILED ? GetLastError() : ERROR_SUCCESS;
    CancelIo(m_hPort);
    // The cancelled write completes (error 995) through the same routine; wait for it, so that
    // the record is free and its completion cannot be taken for the next write's.
    AwaitWriteCompletion(kWriteTimeoutMs);
    if (wait == WAIT_TIMEOUT) {
        KeepError(WAIT_TIMEOUT,
                  "the write did not complete within " + std::to_string(kWriteTimeoutMs) + " ms");
        return kMessengerTimeout;
    }
    KeepError(static_cast<int>(waitError != ERROR_SUCCESS ? waitError : ERROR_GEN_FAILURE));
    return kMessengerFailed;
}

void Messenger::KeepSystemError() {
    KeepError(static_cast<int>(GetLastError()));
}

void Messenger::KeepError(int code) {
    KeepError(code, SystemErrorText(static_cast<DWORD>(code)));
}

void Messenger::KeepError(int code, const std::string& text) {
    m_nLastError = code;
    m_strLastError = text;
}
