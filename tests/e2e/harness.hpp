// Launches the real updater with an exact raw command line and a chosen environment, and reads
// back what it left: exit code, standard error bytes, files.
#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tevra::test {

namespace fs = std::filesystem;

// A variable set to a value, or removed (nullopt).
using EnvChange = std::pair<std::u16string, std::optional<std::u16string>>;

struct RunOptions {
    fs::path program;                 // defaults to the updater beside the test program
    std::u16string command_line;      // exact, as the child's GetCommandLineW returns it
    std::vector<EnvChange> environment;
    fs::path working_dir;             // defaults to the build directory
    bool without_stderr = false;      // the child's standard error handle is invalid
};

struct RunResult {
    DWORD exit_code = 0;
    std::string stderr_bytes;
    std::string stdout_bytes;
};

RunResult run(const RunOptions& options);

fs::path build_dir();        // where the test programs and the updater lie
fs::path updater_path();
// A fresh, empty directory for the running test.
fs::path test_dir();

std::optional<std::string> read_file(const fs::path& path);
void write_file(const fs::path& path, std::string_view bytes);

// A symbolic link at `link` to `target` (a file or a directory); throws when the system refuses.
void make_symlink(const fs::path& target, const fs::path& link);

std::u16string u16(const fs::path& path);
std::string utf8(const fs::path& path);

}  // namespace tevra::test
