// Portable: the apply operation's rules: the installer's arguments, its texts and the effect of the
// installer's exit code on the record; the operation itself (apply_msi) is the Win32 edge, apply_win.cpp.
#pragma once

#include "state/product_layout.hpp"
#include "state/update_state.hpp"
#include "trust/authenticode.hpp"

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace tevra {

// "Some(<code as signed 32-bit>)".
std::string exit_code_text(std::int32_t exit_code);

// What msiexec gets: install the package with a basic UI, never restart, pass the version on.
// The package path goes on exactly as the file system reported it, unit for unit.
std::vector<std::u16string> installer_arguments(std::u16string_view package, std::u16string_view expected_version);

// The version travels inside the installer's EXPECTEDVERSION property. The installer parses its own
// command line, where a double quote ends a quoted stretch whatever backslashes stand before it: a
// version holding one could add arguments and properties of its own, and one that holds a blank and ends
// in a backslash would arrive changed. Every other text goes on as it is.
std::expected<void, std::string> check_expected_version(std::string_view expected_version);

std::string refusal_message(AuthenticodeVerdict verdict);

// Records the installer's exit code in the loaded record; any code but 0 is a failure, with its text.
std::expected<void, std::string> record_installer_exit(UpdateStateFile& state, std::int32_t exit_code,
                                                       const std::string& expected_version);

// Installs the staged package at `msi_path`, which must lie in the layout's staging directory, and
// records the outcome in the state file. A failure is the text the driver reports.
std::expected<void, std::string> apply_msi(const ProductLayout& layout, const std::string& msi_path,
                                           const std::string& expected_version);

}  // namespace tevra
