#pragma once

#include <expected>
#include <string>

namespace tevra {

// Installs the staged package at `msi_path` with the Windows Installer and records the outcome.
// A failure is the text the driver reports.
std::expected<void, std::string> apply_msi(const std::string& msi_path, const std::string& expected_version);

}  // namespace tevra
