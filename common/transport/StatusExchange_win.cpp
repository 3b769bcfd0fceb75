// The status exchange's ports on Windows: the USB printer's device path opened for reading and
// writing, overlapped, each transfer waited for within its bound and cancelled there.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "system/ErrnoText.h"
#include "system/WideText.h"
#include "transport/Messenger.h"
#include "transport/StatusLink.h"
#include "transport/UsbMessenger.h"

namespace {

DWORD MsLeft(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// One read or write in flight. The system may complete into it until its end has come; a
// transfer whose cancellation never ends leaves it behind rather than free memory in use.
struct Transfer {
    OVERLAPPED overlapped{};
    unsigned char bytes[8] = {};
};

class DeviceLink : public StatusLink {
  public:
    DeviceLink(UniqueKernelHandle device, int answerTimeoutMs)
        : m_device(std::move(device)),
          m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_nAnswerMs(answerTimeoutMs) {}

    bool Send(const unsigned char* data, int length, std::string& reason) override {
        if (length <= 0 || length > static_cast<int>(sizeof(Transfer::bytes))) {
            reason = "bad request length";
            return false;
        }
        DWORD done = 0;
        const DWORD error = Run(data, nullptr, static_cast<DWORD>(length), kWriteTimeoutMs, done);
        if (error == ERROR_SUCCESS && done == static_cast<DWORD>(length)) {
            return true;
        }
        reason = error == WAIT_TIMEOUT ? "not taken within " + std::to_string(kWriteTimeoutMs) + " ms"
                 : error != ERROR_SUCCESS
                     ? SystemErrorText(error)
                     : "the device took " + std::to_string(done) + " of " + std::to_string(length) + " bytes";
        return false;
    }

    int ReceiveByte(std::string& reason) override {
        const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(m_nAnswerMs);
        for (;;) {
            unsigned char byte = 0;
            DWORD done = 0;
            const DWORD error = Run(nullptr, &byte, 1, MsLeft(deadline), done);
            if (error == ERROR_SUCCESS && done == 1) {
                return byte;
            }
            if (error != ERROR_SUCCESS && error != WAIT_TIMEOUT) {
                reason = SystemErrorText(error);
                return -1;
            }
            if (MsLeft(deadline) == 0) {
                reason = "none within " + std::to_string(m_nAnswerMs) + " ms";
                return -1;
            }
            Sleep(10);  // a read that ended with nothing: the device is asked again shortly
        }
    }

    int DropInput() override {
        // Reads that end at once: what has arrived is taken, nothing is waited for.
        int dropped = 0;
        while (dropped < kMostDroppedBytes) {
            unsigned char bytes[sizeof(Transfer::bytes)];
            DWORD done = 0;
            if (Run(nullptr, bytes, sizeof bytes, 0, done) != ERROR_SUCCESS || done == 0) {
                break;
            }
            dropped += static_cast<int>(done);
        }
        return dropped;
    }

  private:
    // One overlapped transfer of `length` bytes, a write of `out` or a read into `in`, waited for
    // at most `timeoutMs` and cancelled there. Answers ERROR_SUCCESS (with `done` bytes),
    // WAIT_TIMEOUT, or the system's error.
    DWORD Run(const unsigned char* out, unsigned char* in, DWORD length, DWORD timeoutMs, DWORD& done) {
        const bool write = out != nullptr;
        if (!m_event.Valid()) {
            return ERROR_INVALID_HANDLE;
        }
        std::unique_ptr<Transfer> transfer(new Transfer());
        transfer->overlapped.hEvent = m_event.Get();
        ResetEvent(m_event.Get());
        if (write) {
            CopyMemory(transfer->bytes, out, length);
        }
        const BOOL started =
            write ? WriteFile(m_device.Get(), transfer->bytes, length, nullptr, &transfer->overlapped)
                  : ReadFile(m_device.Get(), transfer->bytes, length, nullptr, &transfer->overlapped);
        const DWORD startError = started ? ERROR_SUCCESS : GetLastError();
        if (!started && startError != ERROR_IO_PENDING) {
            return startError;
        }
        bool timedOut = false;
        if (!AwaitEnd(transfer->overlapped, timeoutMs)) {
            // Cancelled at the bound; until its end has come the system may still complete
            // into the record: https://learn.microsoft.com/windows/win32/fileio/cancelio
            timedOut = true;
            CancelIo(m_device.Get());
            if (!AwaitEnd(transfer->overlapped, kWriteTimeoutMs)) {
                m_device.Reset();  // closing ends what cancelling did not
                if (!AwaitEnd(transfer->overlapped, kWriteTimeoutMs)) {
                    transfer.release();  // left to the system, never freed under it
                    return WAIT_TIMEOUT;
                }
            }
        }
        // Whatever a cancelled read took counts too.
        const BOOL completed = GetOverlappedResult(m_device.Get(), &transfer->overlapped, &done, FALSE);
        const DWORD error = completed ? ERROR_SUCCESS : GetLastError();
        if (in != nullptr && done > 0) {
            CopyMemory(in, transfer->bytes, done < length ? done : length);
            return ERROR_SUCCESS;
        }
        return timedOut ? WAIT_TIMEOUT : error;
    }

    // Waits until the transfer has ended, at most timeoutMs. The record is watched, not only the
    // event: Wine can leave an event signalled by an earlier completion.
    bool AwaitEnd(OVERLAPPED& overlapped, DWORD timeoutMs) {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (!HasOverlappedIoCompleted(&overlapped)) {
            const DWORD left = MsLeft(deadline);
            if (left == 0) {
                return false;
            }
            WaitForSingleObject(m_event.Get(), left < 10 ? left : 10);
        }
        return true;
    }

    UniqueKernelHandle m_device;
    UniqueKernelHandle m_event;
    int m_nAnswerMs;
};

}  // namespace

std::unique_ptr<StatusLink> OpenUsbLink(const std::string&, int answerTimeoutMs, LinkFailure& failure) {
    const std::vector<UsbPrinterInfo> printers = FindUsbPrinters();
    if (printers.empty()) {
        failure.error = ERROR_DEVICE_NOT_CONNECTED;
        failure.reason = "no USB printer connected";
        return nullptr;
    }
    // As the USB search does: each printer in turn, the last one kept; one that will not open
    // ends the search.
    UniqueKernelHandle device;
    for (const UsbPrinterInfo& printer : printers) {
        WideString path;
        Utf8ToWide(printer.path, path);
        device.Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (!device.Valid()) {
            failure.error = static_cast<int>(GetLastError());
            failure.reason = SystemErrorText(static_cast<DWORD>(failure.error));
            return nullptr;
        }
    }
    return std::unique_ptr<StatusLink>(new DeviceLink(std::move(device), answerTimeoutMs));
}

bool StatusComPort::Opened() const {
    return m_hPort.Valid();
}

int StatusComPort::DropWaitingInput(int most) {
    int dropped = DropKept();
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(m_hPort.Get(), &errors, &status)) {
        dropped += static_cast<int>(status.cbInQue < static_cast<DWORD>(most) ? status.cbInQue : most);
    }
    PurgeComm(m_hPort.Get(), PURGE_RXCLEAR);
    return dropped;
}

bool IsResetError(int code) {
    return code == WSAECONNRESET || code == WSAECONNABORTED;
}
