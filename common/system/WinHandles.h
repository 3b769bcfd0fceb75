// The Windows kinds of handle for UniqueHandle, and the owner of one use of Windows Sockets.
#pragma once

// In this order: winsock2.h before windows.h, so that the old winsock.h stays out, and
// setupapi.h after windows.h, whose types it uses.
#include <winsock2.h>

#include <windows.h>

#include <setupapi.h>

#include <atomic>
#include <type_traits>

#include "system/UniqueHandle.h"

/// A kernel object (file, device, pipe, event). CreateFileW answers INVALID_HANDLE_VALUE on
/// failure and CreateEventW answers null: both are "no handle". An empty owner holds
/// INVALID_HANDLE_VALUE.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Valid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { CloseHandle(handle); }
};

/// A Windows Sockets socket; INVALID_SOCKET when none.
struct SocketTraits {
    using Handle = SOCKET;
    static Handle Invalid() { return INVALID_SOCKET; }
    static bool Valid(Handle handle) { return handle != INVALID_SOCKET; }
    static void Close(Handle handle) { closesocket(handle); }
};

/// A SetupAPI device information set: "no set" reads as for a kernel object
/// (INVALID_HANDLE_VALUE), but the set has a close call of its own.
struct DevInfoTraits : KernelHandleTraits {
    static_assert(std::is_same<HDEVINFO, HANDLE>::value, "a device information set is a handle");
    static void Close(Handle handle) { SetupDiDestroyDeviceInfoList(handle); }
};

/// A device notification registration (RegisterDeviceNotificationW); null when none.
struct DevNotifyTraits {
    using Handle = HDEVNOTIFY;
    static Handle Invalid() { return nullptr; }
    static bool Valid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { UnregisterDeviceNotification(handle); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueSocket = UniqueHandle<SocketTraits>;
using UniqueDevInfo = UniqueHandle<DevInfoTraits>;
using UniqueDevNotify = UniqueHandle<DevNotifyTraits>;

/// One use of Windows Sockets: WSAStartup in the constructor when a version is asked for, and
/// one WSACleanup, on End or destruction, only when that start succeeded. A WSACleanup without
/// its own successful WSAStartup would end another user's use of the library. See
/// https://learn.microsoft.com/windows/win32/api/winsock/nf-winsock-wsacleanup
class WinsockSession {
  public:
    /// Not started: End and destruction do nothing.
    WinsockSession() = default;
    explicit WinsockSession(WORD version) {
        WSADATA data;
        m_nStartError = WSAStartup(version, &data);
        m_bStarted = m_nStartError == 0;
    }
    WinsockSession(WinsockSession&& other) noexcept
        : m_bStarted(other.m_bStarted), m_nStartError(other.m_nStartError) {
        other.m_bStarted = false;
    }
    WinsockSession& operator=(WinsockSession&& other) noexcept {
        if (this != &other) {
            End();
            m_bStarted = other.m_bStarted;
            m_nStartError = other.m_nStartError;
            other.m_bStarted = false;
        }
        return *this;
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    ~WinsockSession() { End(); }

    bool Started() const { return m_bStarted; }
    /// What WSAStartup answered (0 when it succeeded or was not called).
    int StartError() const { return m_nStartError; }
    /// Ends this use now (WSACleanup), if it started and has not ended yet.
    void End() {
        if (m_bStarted) {
            m_bStarted = false;
            WSACleanup();
        }
    }

  private:
    bool m_bStarted = false;
    int m_nStartError = 0;
};

/// Set once the process keeps Windows Sockets started until it ends
/// (EthernetMessenger::KeepNetworkStarted).
inline std::atomic<bool> g_winsockKeptForProcess{false};

/// One connection's use of Windows Sockets: none of its own when the process keeps them started,
/// so that connections from many threads at once neither start nor end them. Check StartError().
inline WinsockSession ConnectionWinsock() {
    return g_winsockKeptForProcess ? WinsockSession() : WinsockSession(MAKEWORD(2, 2));
}
