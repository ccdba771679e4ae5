// Win32: owning wrappers for system handles, closed on every path.
#pragma once

#include <windows.h>

#include <utility>

namespace tevra::win {

// Both null and INVALID_HANDLE_VALUE count as "no handle": some calls report failure with one,
// some with the other, and an owner must never close either. Closing keeps the thread's last
// error, so a caller can still read the error of the call that failed before the handle went.
// A reset to the handle already held keeps it open: closing it would leave the owner holding a
// closed handle, which the system may give out again to someone else.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    explicit operator bool() const { return is_valid(handle_); }
    Handle get() const { return handle_; }
    [[nodiscard]] Handle release() { return std::exchange(handle_, Handle{}); }
    void reset(Handle handle = Handle{}) {
        if (handle == handle_) return;
        if (is_valid(handle_)) {
            const DWORD last_error = ::GetLastError();
            Traits::close(handle_);
            ::SetLastError(last_error);
        }
        handle_ = handle;
    }

private:
    static bool is_valid(Handle handle) { return handle != Handle{} && handle != INVALID_HANDLE_VALUE; }

    Handle handle_{};
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static void close(Handle handle) { ::CloseHandle(handle); }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static void close(Handle handle) { ::FindClose(handle); }
};

struct ModuleHandleTraits {
    using Handle = HMODULE;
    static void close(Handle handle) { ::FreeLibrary(handle); }
};

// Files, processes, threads, duplicated handles.
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueModule = UniqueHandle<ModuleHandleTraits>;

}  // namespace tevra::win
