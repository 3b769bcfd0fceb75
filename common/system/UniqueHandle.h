// One move-only owner for every kind of operating-system handle. What differs between the kinds
// is in a small traits struct: the handle's type, the value an empty owner holds, which values
// mean "no handle", and the call that closes one. The Windows kinds are in WinHandles.h.
#pragma once

#ifndef _WIN32
#include <unistd.h>
#endif

/// Owns one handle described by `Traits`:
///
///     struct Traits {
///         using Handle = ...;
///         static Handle Invalid();             // what an empty owner holds
///         static bool Valid(Handle handle);    // false for every "no handle" value
///         static void Close(Handle handle);    // called only for valid handles
///     };
///
/// Closed on destruction or Reset; never copied, handed over by moving.
template <typename Traits>
class UniqueHandle {
  public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : m_handle(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    /// The handle held; Traits::Invalid() (or the invalid value it was given) when none.
    Handle Get() const { return m_handle; }
    bool Valid() const { return Traits::Valid(m_handle); }
    /// Gives the handle up without closing it; the owner is empty afterwards.
    Handle Release() {
        const Handle handle = m_handle;
        m_handle = Traits::Invalid();
        return handle;
    }
    /// Closes the handle held, if any (and if it is not `handle` itself), and takes `handle`.
    void Reset(Handle handle = Traits::Invalid()) {
        if (Traits::Valid(m_handle) && m_handle != handle) {
            Traits::Close(m_handle);
        }
        m_handle = handle;
    }

  private:
    Handle m_handle = Traits::Invalid();
};

#ifndef _WIN32
/// A POSIX file descriptor: -1 when none.
struct FdTraits {
    using Handle = int;
    static constexpr int Invalid() { return -1; }
    static constexpr bool Valid(int fd) { return fd >= 0; }
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    static void Close(int fd) { ::close(fd); }
};

using UniqueFd = UniqueHandle<FdTraits>;
#endif
