// Serial and parallel ports on Windows: overlapped device handles, opened exclusively.
#include "transport/SerialMessengers.h"

#include <string>

#include "transport/DeviceFile.h"

namespace {

// Read and write, no sharing: no other program can open the port while an action holds it.
HANDLE OpenExclusive(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

constexpr DWORD kUnknown = MAXDWORD;

// How many bytes have arrived and wait in the driver, or kUnknown when the driver cannot tell.
DWORD BytesWaiting(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(port, &errors, &status) ? status.cbInQue : kUnknown;
}

// Waits until the read of `overlapped` has ended, at most timeoutMs (or INFINITE). The record is
// watched, not only its event: Wine can leave the event signalled by an earlier completion, and
// GetOverlappedResult then calls a read that is still pending done, with 0 bytes. (With bWait
// FALSE it trusts the event alone:
// https://learn.microsoft.com/windows/win32/api/ioapiset/nf-ioapiset-getoverlappedresult)
bool AwaitReadEnd(HANDLE event, OVERLAPPED& overlapped, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!HasOverlappedIoCompleted(&overlapped)) {
        const ULONGLONG now = GetTickCount64();
        if (timeoutMs != INFINITE && now >= deadline) {
            return false;
        }
        ResetEvent(event);
        if (HasOverlappedIoCompleted(&overlapped)) {
            break;
        }
        // The completion signals the event; the short bound covers a signal that got lost.
        const ULONGLONG left = timeoutMs == INFINITE ? 10 : deadline - now;
        WaitForSingleObject(event, static_cast<DWORD>(left < 10 ? left : 10));
    }
    return true;
}

constexpr int kReadAttempts = 16;
constexpr DWORD kReadPauseMs = 100;

}  // namespace

int ComMessenger::OpenPort(int portNumber, int baudRate) {
    if (portNumber == 0 || portNumber == 1) {
        OpenDevice(portNumber == 0 ? "COM1:" : "COM2:", baudRate);
    } else {
        m_hPort.Reset();  // a device opened before is not written to any more
        KeepError(ERROR_FILE_NOT_FOUND, "no serial port number " + std::to_string(portNumber));
    }
    return kMessengerOk;  // the outcome shows in the next Write
}

int ComMessenger::OpenDevice(const std::string& device, int baudRate) {
    m_hPort.Reset();
    m_hPort.Reset(OpenExclusive(DevicePath(device)));
    if (!m_hPort.Valid()) {
        KeepSystemError();
        return kMessengerOk;
    }
    const std::string unfit = NotADevice(m_hPort.Get(), device);
    if (!unfit.empty()) {
        m_hPort.Reset();  // closed before anything is written
        KeepError(ERROR_BAD_DEVICE, unfit);
        return kMessengerOk;
    }
    KeepError(0, "");

    // Only the members that make 8N1 without flow control at the given rate change; the rest
    // (error and XON/XOFF characters, limits, abort-on-error) stay as the driver has them.
    DCB dcb;
    ZeroMemory(&dcb, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(m_hPort.Get(), &dcb)) {
        KeepSystemError();  // not a serial device: it is written with what it has
        return kMessengerOk;
    }
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    if (!SetCommState(m_hPort.Get(), &dcb)) {
        KeepSystemError();
    }
    return kMessengerOk;
}

int ComMessenger::Close() {
    m_hPort.Reset();
    return kMessengerOk;
}

int ComMessenger::Read(void* buffer, int length) {
    if (!m_hPort.Valid() || length < 0 || (buffer == nullptr && length > 0)) {
        return kMessengerFailed;
    }
    // Waits until everything written so far has gone out.
    FlushFileBuffers(m_hPort.Get());

    char* into = static_cast<char*>(buffer);
    int received = TakeKept(into, length);
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        Sleep(kReadPauseMs);
        if (received == length) {
            return kMessengerOk;
        }
        const DWORD missing = static_cast<DWORD>(length - received);
        // Only what has arrived is taken. When the driver can tell how much that is, the read
        // asks for no more, so that it can always complete: some drivers (Wine's among them)
        // answer every overlapped read as pending, even one that waiting bytes satisfy.
        const DWORD waiting = BytesWaiting(m_hPort.Get());
        const bool known = waiting != kUnknown;
        const DWORD wanted = known && waiting > 0 && waiting < missing ? waiting : missing;
        m_rOverlapped.Internal = 0;
        m_rOverlapped.InternalHigh = 0;
        m_rOverlapped.Offset = 0;
        m_rOverlapped.OffsetHigh = 0;
        m_rOverlapped.hEvent = m_hEvent.Get();
        if (!ReadFile(m_hPort.Get(), into + received, wanted, nullptr, &m_rOverlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                Keep(into, received);
                KeepError(static_cast<int>(error));
                return kMessengerFailed;
            }
            // A read that what has arrived cannot satisfy must not stay queued with the
            // caller's buffer: it is cancelled, and its end waited for, since until then the
            // system may still write into the buffer and the record:
            // https://learn.microsoft.com/windows/win32/fileio/cancelio
            const bool satisfiable = known && waiting >= wanted;
            if (!satisfiable || !AwaitReadEnd(m_hEvent.Get(), m_rOverlapped, kWriteTimeoutMs)) {
                CancelIo(m_hPort.Get());
                AwaitReadEnd(m_hEvent.Get(), m_rOverlapped, INFINITE);
            }
        }
        // The read has ended; whatever it took counts, a cancelled one's too.
        DWORD got = 0;
        const BOOL completed = GetOverlappedResult(m_hPort.Get(), &m_rOverlapped, &got, FALSE);
        const DWORD error = completed ? ERROR_SUCCESS : GetLastError();
        ResetEvent(m_hEvent.Get());
        received += static_cast<int>(got);
        if (received == length) {
            return kMessengerOk;
        }
        // Fewer bytes had arrived than are missing: the read fails at once. (A read that
        // completed short of what it asked, on a driver whose time-outs end reads early, looks
        // again.)
        if (!completed || wanted < missing) {
            Keep(into, received);
            if (completed || error == ERROR_OPERATION_ABORTED) {
                KeepError(ERROR_TIMEOUT, "read: " + std::to_string(received) + " of " +
                                             std::to_string(length) + " bytes had arrived");
            } else {
                KeepError(static_cast<int>(error));
            }
            return kMessengerFailed;
        }
    }
    Keep(into, received);
    KeepError(ERROR_TIMEOUT, "read timed out: " + std::to_string(received) + " of " + std::to_string(length) +
                                 " bytes arrived");
    return kMessengerFailed;
}

int LptMessenger::OpenPort(int portNumber) {
    if (portNumber >= 0 && portNumber <= 2) {
        OpenDevice("LPT" + std::to_string(portNumber + 1) + ":");
    } else {
        m_hPort.Reset();
        KeepError(ERROR_FILE_NOT_FOUND, "no parallel port number " + std::to_string(portNumber));
    }
    return kMessengerOk;
}

int LptMessenger::OpenDevice(const std::string& device) {
    m_hPort.Reset();
    // A parallel port has no line settings: it is written as it is.
    m_hPort.Reset(OpenExclusive(DevicePath(device)));
    const std::string unfit = m_hPort.Valid() ? NotADevice(m_hPort.Get(), device) : "";
    if (!m_hPort.Valid()) {
        KeepSystemError();
    } else if (!unfit.empty()) {
        m_hPort.Reset();  // closed before anything is written
        KeepError(ERROR_BAD_DEVICE, unfit);
    } else {
        KeepError(0, "");
    }
    return kMessengerOk;
}

int LptMessenger::Close() {
    m_hPort.Reset();
    return kMessengerOk;
}
