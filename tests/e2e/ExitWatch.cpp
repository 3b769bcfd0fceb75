#include "tests/e2e/ExitWatch.h"

#include <cstdio>

namespace {

// Where every ExitProcess ends up. ntdll is mapped at the same address in every process of a
// session (and of a Wine prefix), so the debugger's address is the program's.
BYTE* ExitEntry() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr ? reinterpret_cast<BYTE*>(GetProcAddress(ntdll, "RtlExitUserProcess")) : nullptr;
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
    return text;
}

// Puts the thread back on the instruction that the breakpoint replaced.
bool RewindTo(DWORD threadId, BYTE* address) {
#if defined(_M_X64) || defined(__x86_64__)
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, threadId);
    if (thread == nullptr) {
        return false;
    }
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    bool ok = GetThreadContext(thread, &context) != FALSE;
    if (ok) {
        context.Rip = reinterpret_cast<DWORD64>(address);
        ok = SetThreadContext(thread, &context) != FALSE;
    }
    CloseHandle(thread);
    return ok;
#else
    (void)threadId;
    (void)address;
    return false;  // the tests are built for x64 only
#endif
}

}  // namespace

ExitWatch::ExitWatch(DWORD processId, std::function<void()> atExit)
    : m_dwProcessId(processId),
      m_atExit(std::move(atExit)),
      m_hReady(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_hFinished(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_hStop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    m_thread = std::thread(&ExitWatch::Run, this);
}

ExitWatch::~ExitWatch() {
    SetEvent(m_hStop);
    if (m_thread.joinable()) {
        m_thread.join();
    }
    CloseHandle(m_hReady);
    CloseHandle(m_hFinished);
    CloseHandle(m_hStop);
}

bool ExitWatch::Ready(int timeoutMs) {
    if (WaitForSingleObject(m_hReady, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return false;
    }
    return m_bReady;
}

bool ExitWatch::Finished(int timeoutMs) {
    if (WaitForSingleObject(m_hFinished, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return false;
    }
    return m_bStoppedAtExit && m_strFailure.empty();
}

std::string ExitWatch::Failure() const {
    // Until the watch thread is done, what it writes is not read here.
    if (WaitForSingleObject(m_hFinished, 0) != WAIT_OBJECT_0) {
        return "the program did not get to its exit in time";
    }
    if (!m_strFailure.empty()) {
        return m_strFailure;
    }
    if (!m_bStoppedAtExit) {
        return "the program ended without calling ExitProcess (exit code " + Hex(m_dwExitCode) + ")";
    }
    return "";
}

void ExitWatch::Run() {
    BYTE* const entry = ExitEntry();
    if (entry == nullptr || !DebugActiveProcess(m_dwProcessId)) {
        m_strFailure = "cannot attach to the program (error " + Hex(GetLastError()) + ")";
        SetEvent(m_hReady);
        SetEvent(m_hFinished);
        return;
    }
    // Should this thread give up early, the program is left running rather than killed.
    DebugSetProcessKillOnExit(FALSE);

    HANDLE process = nullptr;  // owned by the debugging system
    BYTE original = 0;
    bool armed = false;
    bool ready = false;
    bool ended = false;
    while (!ended) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, 50)) {
            if (WaitForSingleObject(m_hStop, 0) == WAIT_OBJECT_0) {
                if (armed && process != nullptr) {
                    WriteProcessMemory(process, entry, &original, 1, nullptr);
                    FlushInstructionCache(process, entry, 1);
                }
                DebugActiveProcessStop(m_dwProcessId);
                break;
            }
            continue;
        }
        DWORD verdict = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            case CREATE_PROCESS_DEBUG_EVENT: {
                process = event.u.CreateProcessInfo.hProcess;
                if (event.u.CreateProcessInfo.hFile != nullptr) {
                    CloseHandle(event.u.CreateProcessInfo.hFile);
                }
                const BYTE breakpoint = 0xCC;
                armed = ReadProcessMemory(process, entry, &original, 1, nullptr) &&
                        WriteProcessMemory(process, entry, &breakpoint, 1, nullptr) &&
                        FlushInstructionCache(process, entry, 1);
                if (!armed) {
                    m_strFailure = "cannot set the breakpoint at the program's exit";
                    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
                    DebugActiveProcessStop(m_dwProcessId);
                    SetEvent(m_hReady);
                    SetEvent(m_hFinished);
                    return;
                }
                break;
            }
            case LOAD_DLL_DEBUG_EVENT:
                if (event.u.LoadDll.hFile != nullptr) {
                    CloseHandle(event.u.LoadDll.hFile);
                }
                break;
            case EXCEPTION_DEBUG_EVENT: {
                const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
                BYTE* const at = static_cast<BYTE*>(record.ExceptionAddress);
                if (record.ExceptionCode == EXCEPTION_BREAKPOINT && armed &&
                    (at == entry || at == entry + 1)) {
                    // The program is about to end and still holds everything it did not let go.
                    m_atExit();
                    m_bStoppedAtExit = true;
                    WriteProcessMemory(process, entry, &original, 1, nullptr);
                    FlushInstructionCache(process, entry, 1);
                    armed = false;
                    if (!RewindTo(event.dwThreadId, entry)) {
                        m_strFailure = "cannot resume the program after its exit breakpoint";
                    }
                } else if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !ready) {
                    // The break-in of the attach: from here on the program runs under the watch.
                    ready = true;
                    m_bReady = true;
                    SetEvent(m_hReady);
                } else {
                    verdict = DBG_EXCEPTION_NOT_HANDLED;  // the program's own business
                }
                break;
            }
            case EXIT_PROCESS_DEBUG_EVENT:
                m_dwExitCode = event.u.ExitProcess.dwExitCode;
                ended = true;
                break;
            default:
                break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, verdict);
    }
    if (!ready) {
        if (m_strFailure.empty()) {
            m_strFailure = "the program ended before the watch was ready";
        }
        SetEvent(m_hReady);
    }
    SetEvent(m_hFinished);
}
