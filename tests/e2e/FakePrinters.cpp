#include "FakePrinters.h"

#include <ws2tcpip.h>

#include <chrono>
#include <cstdlib>

FakeNetworkPrinter::~FakeNetworkPrinter() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_listener != INVALID_SOCKET) {
        closesocket(m_listener);
        WSACleanup();
    }
}

bool FakeNetworkPrinter::Start(const char* address, int port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return false;
    }
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL reuse = TRUE;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(port));
    inet_pton(AF_INET, address, &local.sin_addr);
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        listen(m_listener, 8) != 0) {
        return false;
    }
    m_thread = std::thread(&FakeNetworkPrinter::Serve, this);
    return true;
}

void FakeNetworkPrinter::Serve() {
    while (!m_stop) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(m_listener, &ready);
        timeval tick = {0, 50000};
        if (select(0, &ready, nullptr, nullptr, &tick) <= 0) {
            continue;
        }
        SOCKET connection = accept(m_listener, nullptr, nullptr);
        if (connection == INVALID_SOCKET) {
            continue;
        }
        std::string bytes;
        char buffer[4096];
        int received;
        while ((received = recv(connection, buffer, sizeof buffer, 0)) > 0) {
            bytes.append(buffer, static_cast<size_t>(received));
        }
        closesocket(connection);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.push_back(bytes);
        m_arrived.notify_all();
    }
}

bool FakeNetworkPrinter::NextConnection(std::string& bytes, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return !m_connections.empty(); })) {
        return false;
    }
    bytes = m_connections.front();
    m_connections.pop_front();
    return true;
}

int FakeNetworkPrinter::CountConnections(int timeoutMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    std::lock_guard<std::mutex> lock(m_mutex);
    const int count = static_cast<int>(m_connections.size());
    m_connections.clear();
    return count;
}

CapturedPort::CapturedPort(const char* variable) {
    const char* path = std::getenv(variable);
    if (path == nullptr || *path == '\0') {
        return;
    }
    m_path = L"Z:";
    for (const char* c = path; *c != '\0'; ++c) {
        m_path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
}

std::string CapturedPort::Take(size_t count, int timeoutMs) {
    std::string all;
    for (int waited = 0;; waited += 20) {
        HANDLE file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        all.clear();
        if (file != INVALID_HANDLE_VALUE) {
            char buffer[4096];
            DWORD got = 0;
            while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                all.append(buffer, got);
            }
            CloseHandle(file);
        }
        if (all.size() >= m_read + count || waited >= timeoutMs) {
            break;
        }
        Sleep(20);
    }
    std::string fresh = all.size() > m_read ? all.substr(m_read) : std::string();
    m_read = all.size();
    return fresh;
}
