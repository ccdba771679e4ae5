// Win32: running a program found by its bare name and waiting for it to end.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace tevra {

// Looks for `program` + ".exe" in the search directories (never the current directory); starts it
// with the given arguments, the updater's environment, current directory and standard handles;
// waits without a time limit and gives back the child's exit code read as a signed number.
// Texts go to the system unit for unit. Failures: "program not found" (nothing started),
// "nul byte found in provided data", or the system error text of the call that failed.
std::expected<std::int32_t, std::string> run_and_wait(std::u16string_view program,
                                                      const std::vector<std::u16string>& args);

}  // namespace tevra
