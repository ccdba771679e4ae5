// Launches the real updater with an exact raw command line and a chosen environment, and reads
// back what it left: exit code, standard error bytes, files.
#pragma once

#include "stub_record.hpp"

#include "state/update_state.hpp"

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

// A child started by start() and not yet collected. Until finish() it runs on its own; a child
// that is still running when its owner goes away is terminated and waited for.
class Child {
public:
    Child() = default;
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    HANDLE process() const { return process_; }
    bool has_ended() const;              // without waiting
    void terminate(UINT exit_code);      // ends it at once with that code (no effect once it has ended)
    RunResult finish();                  // waits for the end, then reads what it left

private:
    friend Child start(const RunOptions& options);
    void release();
    HANDLE process_ = nullptr;
    fs::path err_path_, out_path_;
};

// Starts like run() but returns at once.
Child start(const RunOptions& options);

fs::path build_dir();        // where the test programs and the updater lie
fs::path updater_path();
// A fresh, empty directory for the running test.
fs::path test_dir();

std::optional<std::string> read_file(const fs::path& path);
void write_file(const fs::path& path, std::string_view bytes);

// A Unix program (an absolute Unix path) started through Wine. Wine does not wait for it: the
// caller polls for its effect.
void run_unix(const std::wstring& program, const std::vector<std::wstring>& args);
// The Unix form of a path on the root drive Z:; throws for any other path.
std::wstring unix_path(const fs::path& path);

// A symbolic link at `link` to `target` (a file or a directory); throws when the system refuses.
void make_symlink(const fs::path& target, const fs::path& link);

std::u16string u16(const fs::path& path);
std::string utf8(const fs::path& path);

// The same path with the extended-length prefix \\?\ in front.
std::u16string verbatim(const fs::path& path);

// One of the test packages made for the build.
fs::path package_file(const wchar_t* name);

// A product layout under a fresh test directory and a copy of the updater with the stand-in
// installer beside it (found before the system's).
struct Layout {
    fs::path dir = test_dir();
    fs::path local_app_data = dir / L"lad";
    fs::path product = local_app_data / L"Tevra Remote";
    fs::path staging = product / L"Updates";
    fs::path state = product / L"update_state.json";
    fs::path bin = dir / L"bin";
    fs::path record = dir / L"installer-record.txt";

    explicit Layout(bool with_stand_in = true);

    // A real, unsigned package (the stand-in installer ignores what it is given).
    fs::path stage(const fs::path& relative) const;

    RunResult apply(const std::u16string& package, const std::u16string& version = u"2.4.0",
                    const std::u16string& installer_exit = u"0", fs::path cwd = {}) const;

    // The one start of the installer, if there was one.
    std::optional<StubRecord> installer_start() const;

    UpdateStateFile saved_state() const;
};

}  // namespace tevra::test
