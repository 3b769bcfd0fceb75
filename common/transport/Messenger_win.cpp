// The base messenger on Windows: one overlapped WriteFileEx, waited for alertably within
// kWriteTimeoutMs.
#include "transport/Messenger.h"

#include <string>

#include "system/ErrnoText.h"

// One write in flight. The system completes into `overlapped` until the completion routine has
// run; the record is freed by the messenger, or, when the messenger went first, by the routine.
struct Messenger::WriteRecord {
    OVERLAPPED overlapped{};
    bool pending = false;    // started, and its completion routine has not run yet
    bool abandoned = false;  // its messenger is gone
    DWORD error = 0;         // what the completion reported
    DWORD transferred = 0;
};

namespace {

// Only the thread that issued a write runs its completion, but messengers may live on several
// threads; the count is shared.
volatile LONG g_nAbandonedWrites = 0;

}  // namespace

int Messenger::AbandonedWrites() {
    return static_cast<int>(InterlockedCompareExchange(&g_nAbandonedWrites, 0, 0));
}

// The read record's event is manual-reset and unsignalled: only a pending serial read signals it.
Messenger::Messenger()
    : m_hEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_rOverlapped(), m_pWrite(new WriteRecord()) {
    m_rOverlapped.hEvent = m_hEvent.Get();
}

Messenger::~Messenger() {
    // Each subclass has closed its device by now (this catches one that has not), which cancels
    // whatever it still had pending; the completion routine of such a write must run before the
    // record it points at goes away. A write the system has not completed may still be written
    // into: https://learn.microsoft.com/windows/win32/fileio/cancelio
    m_hPort.Reset();
    if (m_pWrite->pending && !AwaitWriteCompletion(kWriteTimeoutMs)) {
        // The system may still complete into the record: it stays, and its completion routine
        // frees it if it ever runs.
        m_pWrite->abandoned = true;
        InterlockedIncrement(&g_nAbandonedWrites);
    } else {
        delete m_pWrite;
    }
}

void Messenger::CancelPendingIo() {
    CancelIo(m_hPort.Get());
}

void CALLBACK Messenger::WriteCompleted(DWORD error, DWORD transferred, OVERLAPPED* overlapped) {
    WriteRecord* record = static_cast<WriteRecord*>(overlapped->hEvent);
    if (record->abandoned) {
        delete record;
        InterlockedDecrement(&g_nAbandonedWrites);
        return;
    }
    record->error = error;
    record->transferred = transferred;
    record->pending = false;
}

bool Messenger::AwaitWriteCompletion(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (m_pWrite->pending) {
        const ULONGLONG now = GetTickCount64();
        // Any completion routine queued to this thread runs here, ours included; it runs only
        // in an alertable wait: https://learn.microsoft.com/windows/win32/fileio/alertable-i-o
        SleepEx(now >= deadline ? 0 : static_cast<DWORD>(deadline - now), TRUE);
        if (now >= deadline) {
            break;
        }
    }
    return !m_pWrite->pending;
}

int Messenger::Write(const void* data, int length) {
    if (!m_hPort.Valid()) {
        if (m_nLastError == 0) {
            KeepError(ERROR_INVALID_HANDLE, "port not open");
        }
        return kMessengerFailed;
    }
    if (!m_hEvent.Valid() || length < 0 || (data == nullptr && length > 0)) {
        KeepError(ERROR_INVALID_PARAMETER);
        return kMessengerFailed;
    }
    // A write cancelled earlier whose completion never came still owns the write record.
    if (m_pWrite->pending && !AwaitWriteCompletion(0)) {
        KeepError(ERROR_BUSY, "an earlier write is still pending");
        return kMessengerFailed;
    }

    WriteRecord& record = *m_pWrite;
    record.overlapped = OVERLAPPED();
    // WriteFileEx leaves hEvent to the caller; it tells the completion routine whose write it was.
    record.overlapped.hEvent = &record;
    record.error = 0;
    record.transferred = 0;
    record.pending = true;
    if (!WriteFileEx(m_hPort.Get(), data, static_cast<DWORD>(length), &record.overlapped,
                     &Messenger::WriteCompleted)) {
        record.pending = false;
        KeepSystemError();
        return kMessengerFailed;
    }

    // Only the completion routine ends this wait (WAIT_IO_COMPLETION), or the time-out.
    // See https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-writefileex: the
    // routine runs only during an alertable wait of this thread.
    ResetEvent(m_hEvent.Get());
    const ULONGLONG deadline = GetTickCount64() + kWriteTimeoutMs;
    DWORD wait = WAIT_TIMEOUT;
    while (record.pending) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            wait = WAIT_TIMEOUT;
            break;
        }
        wait = WaitForSingleObjectEx(m_hEvent.Get(), static_cast<DWORD>(deadline - now), TRUE);
        if (wait == WAIT_OBJECT_0) {
            // Signalled late by the end of an earlier serial read, not by this write.
            ResetEvent(m_hEvent.Get());
            continue;
        }
        if (wait != WAIT_IO_COMPLETION) {
            break;  // time-out, or a wait that cannot go on
        }
        // WAIT_IO_COMPLETION also comes from other completion routines of this thread: loop.
    }

    if (!record.pending) {
        if (record.error != ERROR_SUCCESS) {
            KeepError(static_cast<int>(record.error));
            return kMessengerFailed;
        }
        if (record.transferred != static_cast<DWORD>(length)) {
            KeepError(ERROR_WRITE_FAULT, "the device took " + std::to_string(record.transferred) + " of " +
                                             std::to_string(length) + " bytes");
            return kMessengerFailed;
        }
        return kMessengerOk;
    }

    const DWORD waitError = wait == WAIT_FAILED ? GetLastError() : ERROR_SUCCESS;
    CancelPendingIo();
    // The cancelled write completes (error 995) through the same routine; wait for it, so that
    // the record is free and its completion cannot be taken for the next write's. CancelIo only
    // asks: until the completion has come, the system may still write into the record. See
    // https://learn.microsoft.com/windows/win32/fileio/canceling-pending-i-o-operations
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
    KeepError(code, SystemErrorText(code));
}
