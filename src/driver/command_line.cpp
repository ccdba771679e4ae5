#include "driver/command_line.hpp"

#include <optional>

namespace tevra {

std::vector<std::u16string> split_command_line(std::u16string_view line) {
    std::vector<std::u16string> args;
    std::size_t i = 0;

    // Argument 0: quotes toggle, backslashes are plain.
    std::u16string program;
    bool quoted = false;
    for (; i < line.size(); ++i) {
        char16_t c = line[i];
        if (c == u'"')
            quoted = !quoted;
        else if (is_blank(c) && !quoted)
            break;
        else
            program += c;
    }
    args.push_back(std::move(program));
    while (i < line.size() && is_blank(line[i])) ++i;

    std::u16string current;
    quoted = false;
    while (i < line.size()) {
        char16_t c = line[i];
        if (is_blank(c) && !quoted) {
            args.push_back(std::move(current));
            current.clear();
            while (i < line.size() && is_blank(line[i])) ++i;
            continue;
        }
        if (c == u'\\') {
            std::size_t run = 0;
            while (i < line.size() && line[i] == u'\\') {
                ++run;
                ++i;
            }
            if (i < line.size() && line[i] == u'"') {
                current.append(run / 2, u'\\');
                if (run % 2 == 1) {
                    current += u'"';
                    ++i;
                }
            } else {
                current.append(run, u'\\');
            }
            continue;
        }
        if (c == u'"') {
            if (!quoted) {
                quoted = true;
            } else if (i + 1 < line.size() && line[i + 1] == u'"') {
                current += u'"';
                ++i;
            } else if (i + 1 < line.size()) {
                quoted = false;
            }
            // A closing quote that ends the line leaves `quoted` set on purpose: that is how a final
            // lone "" still counts as an (empty) argument below.
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (!current.empty() || quoted) args.push_back(std::move(current));
    return args;
}

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
