// The stop requests on Windows: Ctrl-C and Ctrl-Break in the console, seen by a handler that the
// system runs on a thread of its own.
#include <windows.h>

#include <atomic>
#include <csignal>

#include "tolctl/Interrupts.h"

namespace {

std::atomic<Interrupts*> g_pInterrupts{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
    Interrupts* interrupts = g_pInterrupts.load();
    if (interrupts == nullptr || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)) {
        return FALSE;  // the next handler, or the system's: the process ends
    }
    interrupts->Request(SIGINT);
    return TRUE;
}

}  // namespace

struct Interrupts::Platform {};

Interrupts::Interrupts() : m_platform(new Platform) {
    g_pInterrupts = this;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

Interrupts::~Interrupts() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_pInterrupts = nullptr;
}
