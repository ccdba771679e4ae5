// The command line, the failure path, the mark, where the state lives and how it is saved, run as the real program.
// The rules are the unit tables'; each row here proves a piece of wiring, or what only a real file system shows.
#include "driver/command_line.hpp"
#include "harness.hpp"

#include <random>

namespace e2e {
namespace {

const std::wstring mark = L"u --mark-awaiting-first-start";
const std::string marked_stored = R"({
  "phase": "awaiting_first_start",
  "current_version": "1.0",
  "candidate_version": "2.4.0",
  "staged_msi": "C:\\old.msi",
  "last_error": "earlier failure",
  "last_accepted_version": "0.9",
  "updated_unix": 1234
})";

TEST(Driver, CommandLineMarkAndLocation) {
    const std::wstring up = L"%D\\up";
    run_rows({
        {"help", L"u --apply-msi -h", {}, stored, 0, std::string(tevra::usage_text)},
        {"missing option", L"u", {}, {}, 1, missing, failed_default},
        {.name = "no standard error handle", .line = L"u", .exit = 1, .after = failed_default, .with_stderr = false},
        // Text beyond ASCII reaches standard error and the state file as UTF-8.
        {"unknown argument",
         L"u \"--vérsion \\\"😀\\\"\t\n\x01/\\\\\"",
         {},
         {},
         1,
         "updater error: unknown arg: --vérsion \"😀\"\t\n\x01/\\\n",
         R"({
  "phase": "failed",
  "current_version": "<version>",
  "candidate_version": null,
  "staged_msi": null,
  "last_error": "unknown arg: --vérsion \"😀\"\t\n\u0001/\\",
  "last_accepted_version": null,
  "updated_unix": <now>
})"},
        {"an unpaired surrogate",
         L"u --help --apply-msi x" + std::wstring(1, wchar_t(0xD800)),
         {},
         {},
         2,
         "updater error: the command line holds text that is not valid UTF-16\n",
         std::nullopt},
        {"the mark truncates a stale longer temporary file",
         mark,
         {{Op::text, L"%P\\update_state.json.tmp", std::wstring(4096, L'x')}},
         stored,
         0,
         "",
         marked_stored},
        {.name = "the profile when LOCALAPPDATA is not set",
         .line = mark,
         .setup = {{Op::unset, L"LOCALAPPDATA"}, {Op::set, L"USERPROFILE", up}},
         .after = marked_default,
         .product = up + L"\\AppData\\Local\\Tevra Remote"},
    });
}

// Files that can't be read or trusted give the default record; layouts that can't be written leave the state file
// as it was, and the run's status is its command's own.
TEST(Store, HostileAndUnwritable) {
    std::string noise(1 << 16, '\0');
    std::mt19937 random(7);
    for (char& c : noise) c = char(random());
    const std::wstring state = L"%P\\update_state.json", tmp = L"%P\\update_state.json.tmp";
    run_rows({
        {"random bytes", L"u", {}, noise, 1, missing, failed_default},
        {"a directory", L"u", {{Op::dir, state}}, {}, 1, missing, std::nullopt, failed_default},
        {"held open without sharing", mark, {{Op::hold, state}}, stored, 0, "", same, marked_default},
        {"read while another process writes it",
         mark,
         {{Op::hold_for_writing, state}},
         stored,
         0,
         "",
         same,
         marked_stored},
        {"Updates is a file", mark, {{Op::text, L"%U", L"a file"}}, stored},
        {"the temporary file is immutable",
         L"u",
         {{Op::text, tmp, L"left by an earlier save"}, {Op::immutable, tmp}},
         stored,
         1,
         missing,
         same,
         "left by an earlier save"},
    });
}

}  // namespace
}  // namespace e2e
