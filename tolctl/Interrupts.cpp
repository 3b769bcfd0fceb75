#include "tolctl/Interrupts.h"

#include <cstdlib>

#include "system/Files.h"

void Interrupts::RemoveOnQuit(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_removeOnQuit = path;
}

void Interrupts::Request(int signal) {
    if (m_stop.Request(signal)) {
        return;
    }
    // Asked twice: the operator wants out now. What is half written goes; nothing is flushed.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_removeOnQuit.empty()) {
        RemoveFile(m_removeOnQuit);
    }
    std::_Exit(ExitCode(signal));
}
