// Win32: the apply operation: install a staged package with the Windows Installer and record the outcome.
#pragma once

#include <expected>
#include <string>

namespace tevra {

// Installs the staged package at `msi_path` and records the outcome in the state file.
// A failure is the text the driver reports.
std::expected<void, std::string> apply_msi(const std::string& msi_path, const std::string& expected_version);

}  // namespace tevra
