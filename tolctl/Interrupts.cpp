#include "Interrupts.h"

#include <cstdlib>

#include "Files.h"

bool Interrupts::Sleep(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_woken.wait_for(lock, wait, [this] { return m_nSignal.load() != 0; });
}

void Interrupts::RemoveOnQuit(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_removeOnQuit = path;
}

void Interrupts::Request(int signal) {
    std::unique_lock<std::mutex> lock(m_mutex);
    int none = 0;
    if (m_nSignal.compare_exchange_strong(none, signal)) {
        lock.unlock();
        m_woken.notify_all();
        return;
    }
    // Asked twice: the operator wants out now. What is half written goes; nothing is flushed.
    if (!m_removeOnQuit.empty()) {
        RemoveFile(m_removeOnQuit);
    }
    std::_Exit(ExitCode(signal));
}
