// Runs the real updater from outside, with an exact raw command line, and reads back what it left: exit status,
// standard error bytes, files. Of the product it uses only the handle owner, the generated version and the usage text.
#pragma once

#include "version.h"
#include "win/unique_handle.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

struct Child {
    tevra::win::UniqueKernelHandle process;
    fs::path err, out;
    std::vector<fs::path> grown = {};  // files it writes, emptied with err and out when it has to be ended
    DWORD finish();                    // waits for the end (ended after 20 s), gives the exit status
};
// Started in `cwd`, which keeps its standard output and error, with the test's own environment.
Child start(const fs::path& program, std::wstring line, const fs::path& cwd);
// Sets (none: removes) a variable of the test's environment, which what it starts inherits; gives what it was.
std::optional<std::wstring> set_variable(const std::wstring& name, const std::optional<std::wstring>& value);
// Beside the test program: TevraRemoteUpdater.exe, installer_stub.exe, planted\MSISIP.dll, packages\*.msi.
fs::path build_dir();
fs::path updater();   // the program under test: the one TEVRA_CHECK_UPDATER names, or the build's
fs::path test_dir();  // fresh and never reused: under Wine, remove_all loops forever on a Unix link
std::optional<std::string> read_file(const fs::path& path);  // none when it can't be opened (a directory too)
// A file's bytes (none: absent) against the expected text, where "<now>" stands for a stamp made since the start.
testing::AssertionResult same_text(const std::optional<std::string>& actual, std::optional<std::string> expected);

// The record on disk before a run, in the reader's array form (the updater writes the object form).
inline const std::string stored = R"(["downloaded","1.0","2.4.0","C:\\old.msi","earlier failure","0.9",1234])";
// What a run without a readable state file saves after marking, or after failing for want of options.
inline const std::string marked_default = R"({
  "phase": "awaiting_first_start",
  "current_version": ")" TEVRA_PRODUCT_VERSION R"(",
  "candidate_version": null,
  "staged_msi": null,
  "last_error": null,
  "last_accepted_version": null,
  "updated_unix": <now>
})";
inline const std::string failed_default = R"({
  "phase": "failed",
  "current_version": ")" TEVRA_PRODUCT_VERSION R"(",
  "candidate_version": null,
  "staged_msi": null,
  "last_error": "missing --apply-msi",
  "last_accepted_version": null,
  "updated_unix": <now>
})";
inline const std::string missing = "updater error: missing --apply-msi\n";
inline const std::string same = "<same as before>", unchecked = "<unchecked>";

// One end-to-end case. Paths in the texts expand: %D the case's directory, which is USERPROFILE and the working
// directory; %P the product directory %D\AppData\Local\Tevra Remote (LOCALAPPDATA is %D\AppData\Local); %U its
// Updates; %B the build directory. The updater runs as a copy in %D\bin, with the stand-in installer beside it as
// msiexec.exe. Steps before the run. hold: opened for reading without sharing; hold_for_writing: opened for writing,
// sharing reading only; hold_sharing_all: opened for reading, sharing everything (as a scanner does); lock: opened
// for reading, sharing reading, and locked whole; these last until the run has ended, but hold_briefly (as hold) and
// read_briefly (reading, sharing reading only), which end 0.3 s after the start, while the run must still go on.
// expect: the file's bytes after the run (expected: its text).
enum class Op {
    copy,
    text,
    dir,
    link,
    hard_link,
    remove,
    set,
    unset,
    hold,
    hold_for_writing,
    hold_sharing_all,
    lock,
    hold_briefly,
    read_briefly,
    expect
};
struct Step {
    Op op;
    // copy/link/hard_link: the source (a link the platform can't make skips the row); text/expect: ASCII bytes;
    // set/unset: path is the variable's name
    std::wstring path, arg = {};
};
struct Row {
    std::string name;
    std::wstring line;  // the exact command line
    std::vector<Step> setup = {};
    std::optional<std::string> before = {};  // the state file; none: no file
    DWORD exit = 0;
    std::string err = {};  // standard error; where the stand-in ran, first the state file as the stand-in found it
    // The state file afterwards; none: absent; unchecked where another row's check takes the same path.
    std::optional<std::string> after = same;
    std::optional<std::string> tmp = {};  // update_state.json.tmp afterwards; none: absent
    std::wstring installer = {};          // the stand-in's command line; empty: never started
};
void run_rows(const std::vector<Row>& rows);

}  // namespace e2e
