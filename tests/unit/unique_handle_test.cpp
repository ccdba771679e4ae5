// Win32: the handle owner closes exactly what it owns, once, and leaves the thread's last error alone.
#include "win/unique_handle.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace tevra::win {
namespace {

// Records each close and, like a failing CloseHandle, overwrites the last error.
std::vector<HANDLE> closed;
struct NoisyTraits {
    using Handle = HANDLE;
    static void close(Handle handle) {
        closed.push_back(handle);
        ::SetLastError(ERROR_INVALID_HANDLE);
    }
};
using Owner = UniqueHandle<NoisyTraits>;

TEST(UniqueHandle, ClosesOnceAndKeepsTheLastError) {
    constexpr DWORD magic = 0xC0FFEE;
    const auto first = reinterpret_cast<HANDLE>(0x10);
    const auto second = reinterpret_cast<HANDLE>(0x20);
    closed.clear();
    ::SetLastError(magic);
    {
        Owner owner(first);
        owner.reset(first);  // the same handle again: kept open
        EXPECT_TRUE(closed.empty());
        owner.reset(second);
        EXPECT_EQ(closed, std::vector<HANDLE>{first});
        Owner moved(std::move(owner));
        EXPECT_FALSE(owner);  // NOLINT(bugprone-use-after-move): a moved-from owner holds nothing
        EXPECT_EQ(moved.get(), second);
    }
    EXPECT_EQ(closed, (std::vector<HANDLE>{first, second}));
    EXPECT_EQ(::GetLastError(), magic);
    {
        Owner none(nullptr);
        Owner invalid(INVALID_HANDLE_VALUE);
        EXPECT_FALSE(none);
        EXPECT_FALSE(invalid);
    }
    EXPECT_EQ(closed.size(), 2U);
}

}  // namespace
}  // namespace tevra::win
