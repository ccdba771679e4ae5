#include "driver/cli/options.hpp"

#include <optional>

namespace tevra {

bool asks_for_help(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (arg == "-h" || arg == "--help") return true;
    return false;
}

std::expected<Command, std::string> scan_options(const std::vector<std::string>& args) {
    std::optional<std::string> msi_path;
    std::optional<std::string> expected_version;
    auto take_value = [&](std::size_t i) -> std::optional<std::string> {
        if (i + 1 < args.size()) return args[i + 1];
        return std::nullopt;
    };
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string& arg = args[i];
        if (arg == "--apply-msi")
            msi_path = take_value(i);
        else if (arg == "--expected-version")
            expected_version = take_value(i);
        else if (arg == "--mark-awaiting-first-start")
            return MarkAwaitingFirstStart{};
        else
            return std::unexpected("unknown arg: " + arg);
    }
    if (!msi_path) return std::unexpected(std::string("missing --apply-msi"));
    if (!expected_version) return std::unexpected(std::string("missing --expected-version"));
    return ApplyRequest{std::move(*msi_path), std::move(*expected_version)};
}

}  // namespace tevra
