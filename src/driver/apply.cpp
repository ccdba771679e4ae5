#include "driver/apply.hpp"

#include "driver/command_line.hpp"

#include <algorithm>

namespace tevra {

std::string exit_code_text(std::int32_t exit_code) { return "Some(" + std::to_string(exit_code) + ")"; }

std::vector<std::u16string> installer_arguments(std::u16string_view package, std::u16string_view expected_version) {
    return {u"/i", std::u16string(package), u"/qb", u"REBOOT=ReallySuppress",
            u"EXPECTEDVERSION=" + std::u16string(expected_version)};
}

std::expected<void, std::string> check_expected_version(std::string_view expected_version) {
    if (expected_version.find('"') != std::string_view::npos)
        return std::unexpected(std::string("expected version contains a double quote"));
    // A blank makes the version a quoted argument, whose closing quote the trailing backslashes would escape: they
    // are doubled, and the installer, which reads no backslash escapes, would get them doubled.
    if (std::ranges::any_of(expected_version, is_blank) && expected_version.ends_with('\\'))
        return std::unexpected(std::string("expected version holds a blank and ends in a backslash"));
    return {};
}

std::string refusal_message(AuthenticodeVerdict verdict) {
    return "Authenticode check failed (" + std::string(verdict_name(verdict)) + "); refusing apply";
}

std::expected<void, std::string> record_installer_exit(UpdateStateFile& state, std::int32_t exit_code,
                                                       const std::string& expected_version) {
    if (exit_code == 0) {
        state.phase = UpdatePhase::awaiting_first_start;
        state.current_version = expected_version;
        state.candidate_version = expected_version;
        state.last_error.reset();
        return {};
    }
    // Restart-required codes (3010, 1641) count as failures too: the new version is not confirmed.
    state.phase = UpdatePhase::failed;
    state.last_error = "msiexec exit " + exit_code_text(exit_code);
    return std::unexpected("msiexec failed: " + exit_code_text(exit_code));
}

}  // namespace tevra
