#include "driver/apply_outcome.hpp"

namespace tevra {

std::string exit_code_text(std::int32_t exit_code) { return "Some(" + std::to_string(exit_code) + ")"; }

std::vector<std::string> installer_arguments(std::string_view package, std::string_view expected_version) {
    return {"/i", std::string(package), "/qb", "REBOOT=ReallySuppress",
            "EXPECTEDVERSION=" + std::string(expected_version)};
}

std::string refusal_message(AuthenticodeVerdict verdict) {
    return "Authenticode check failed (" + std::string(verdict_name(verdict)) + "); refusing apply";
}

std::optional<std::string> record_installer_exit(UpdateStateFile& state, std::int32_t exit_code,
                                                 const std::string& expected_version) {
    if (exit_code == 0) {
        state.phase = UpdatePhase::awaiting_first_start;
        state.current_version = expected_version;
        state.candidate_version = expected_version;
        state.last_error.reset();
        return std::nullopt;
    }
    // Restart-required codes (3010, 1641) count as failures too: the new version is not confirmed.
    state.phase = UpdatePhase::failed;
    state.last_error = "msiexec exit " + exit_code_text(exit_code);
    return "msiexec failed: " + exit_code_text(exit_code);
}

}  // namespace tevra
