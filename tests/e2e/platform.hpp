// Win32. Where Wine and Windows part ways for the end-to-end tests. Mechanisms (making a link, the system's message
// texts) follow the platform the tests really run on; expectations follow the platform chosen for them: the real
// one, or the one TEVRA_CHECK_EXPECT (windows or wine) names, so that Wine can show which tests would fail on Windows.
#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace e2e {

bool under_wine();

// Every test whose expectation differs between the two: its full name (Suite.Test) and why.
struct Difference {
    std::string_view test, why;
};
std::span<const Difference> differences();

// Whether the running test expects what Wine does; a test that asks must be in the table of differences.
bool expects_wine();

// Makes a symbolic link at `path` to `target`; none when made, otherwise why the platform can't here.
std::optional<std::string> make_link(const std::filesystem::path& path, const std::wstring& target,
                                     const std::filesystem::path& cwd);

// The updater's text for a system error: the system's message, then the code. Under Wine its literal message, so
// that a change of form shows; on Windows the machine's own, in whatever language it speaks.
std::string os_error(DWORD code, std::string_view wine_message);

}  // namespace e2e
