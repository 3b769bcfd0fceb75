#include "fleet/StopRequest.h"

bool StopRequest::Request(int reason) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int none = 0;
        if (!m_nReason.compare_exchange_strong(none, reason)) {
            return false;
        }
    }
    m_woken.notify_all();
    return true;
}

bool StopRequest::Sleep(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_woken.wait_for(lock, wait, [this] { return m_nReason.load() != 0; });
}
