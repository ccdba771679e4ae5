// Runs the real updater from outside, with an exact raw command line and environment, and reads back what it left:
// exit status, standard error bytes, files. Of the updater's sources it uses only the handle owner.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

// Variables set (or removed, nullopt) in the child's copy of the test's environment.
using Env = std::vector<std::pair<std::wstring, std::optional<std::wstring>>>;

struct Result {
    DWORD exit = 0;
    std::string err, out;
};

struct Child {
    HANDLE process = nullptr;
    fs::path err, out;
    Result finish();  // waits for the end
};

Child start(const fs::path& program, const std::wstring& line, const Env& env, const fs::path& cwd,
            bool with_stderr = true);

fs::path build_dir();
fs::path test_dir();  // fresh and never reused: under Wine, remove_all loops forever on a Unix link
std::optional<std::string> read_file(const fs::path& path);  // none when it can't be opened (a directory too)
void write_file(const fs::path& path, std::string_view bytes);
std::string utf8(std::wstring_view text);
std::uint64_t now_unix();

// Runs a Unix program through Wine until `done` holds. Wine does not wait for it, and under load a start may
// leave no trace: poll for the effect, start it again when none comes.
void unix_until(const std::wstring& program, const std::vector<fs::path>& args, const std::function<bool()>& done);

// A state file record as the updater writes it. A time of "<now>" stands for a stamp made during the run.
struct Rec {
    std::string phase = "idle", current = "0.1.1";
    std::optional<std::string> candidate = {}, staged = {}, error = {}, accepted = {};
    std::string time = "<now>";
    std::string text() const;
};
std::string failed(Rec rec, const std::string& error);
std::string marked(Rec rec);
// The bytes of a file (none: absent) against the expected text.
testing::AssertionResult same_text(const std::optional<std::string>& actual, std::optional<std::string> expected,
                                   std::uint64_t from, std::uint64_t to);

// One end-to-end case. Paths in the texts expand: %D the case's directory, %P the product directory
// %D\lad\Tevra Remote (LOCALAPPDATA is %D\lad), %U its Updates, %B the build directory. The updater runs as a
// copy in %D\bin, with the stand-in installer beside it as msiexec.exe, in the working directory %D.
// Steps before the run. hold: opened for reading without sharing; hold_for_writing: opened for writing, sharing
// reading only; both and immutable last until the run has ended.
enum class Op { copy, text, dir, link, remove, set, unset, hold, hold_for_writing, immutable };
struct Step {
    Op op;
    std::wstring path, arg = {};  // copy/link: the source; text: the bytes; set/unset: path is the variable's name
};
inline const std::string same = "<same as before>";
struct Row {
    std::string name;
    std::wstring line;  // the exact command line
    std::vector<Step> setup = {};
    std::optional<std::string> before = {};  // the state file; none: no file
    std::string err = {};
    DWORD exit = 0;
    std::optional<std::string> after = same;  // the state file afterwards; none: absent
    std::wstring installer = {};              // the stand-in's command line; empty: never started
    std::optional<std::string> tmp = {};      // update_state.json.tmp afterwards; none: absent
    std::wstring product = L"%P";
    std::wstring installer_exit = L"0";
    bool with_stderr = true;
};
inline const std::string stand_in_err = "stand-in on stderr\n", stand_in_out = "stand-in on stdout\n";
std::string error_line(const std::string& message);
Row failure(std::string name, std::wstring line, const std::string& message, std::optional<Rec> before = {});
fs::path run_row(const Row& row);  // gives the case's directory
void run_rows(const std::vector<Row>& rows);

}  // namespace e2e
