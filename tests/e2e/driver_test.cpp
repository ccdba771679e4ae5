// The command line, the failure path, the mark, where the state lives and how it is saved, run as the real program.
#include "harness.hpp"

#include <random>

namespace e2e {
namespace {

const std::string usage =
    "TevraRemoteUpdater\n  --apply-msi <path> --expected-version <ver>\n  --mark-awaiting-first-start\n";
const Rec stored{"rollback_required", "3.0", "3.1", "C:\\u\\p.msi", "old", "2.9", "42"};
const std::wstring mark = L"u --mark-awaiting-first-start";

Row help(std::string name, std::wstring line, bool with_state) {
    return {.name = std::move(name),
            .line = std::move(line),
            .before = with_state ? std::optional(stored.text()) : std::nullopt,
            .err = usage};
}

Row marking(std::string name, const Rec& before, std::vector<Step> setup = {}) {
    return {.name = std::move(name),
            .line = mark,
            .setup = std::move(setup),
            .before = before.text(),
            .after = marked(before)};
}

Row located(std::string name, std::vector<Step> environment, std::wstring product) {
    return {.name = std::move(name),
            .line = mark,
            .setup = std::move(environment),
            .after = marked(Rec{}),
            .product = std::move(product)};
}

// The same run, with that setup and what it leaves.
Row with(Row row, std::vector<Step> setup, std::optional<std::string> after = same,
         std::optional<std::string> tmp = {}) {
    row.setup = std::move(setup);
    row.after = std::move(after);
    row.tmp = std::move(tmp);
    return row;
}

TEST(Driver, CommandLine) {
    Row without_stderr = failure("no standard error handle", L"u --nope", "unknown arg: --nope");
    without_stderr.err = "";
    without_stderr.with_stderr = false;
    Row mark_ends_scan = marking("values before the mark are dropped, arguments after it never read", stored);
    mark_ends_scan.line = L"u --apply-msi x --expected-version 1 --mark-awaiting-first-start --bogus";
    run_rows({
        help("--help", L"TevraRemoteUpdater.exe --help", false),
        help("-h as argument 0", L"-h", false),
        help("help after an unknown argument", L"u --bogus --help", true),
        help("help as the value of --apply-msi", L"u --apply-msi --help --expected-version 1", true),
        help("help after the mark", L"u --mark-awaiting-first-start -h", true),
        failure("no options", L"u", "missing --apply-msi"),
        failure("only a version", L"u --expected-version 2.0", "missing --apply-msi"),
        failure("only a package", L"u --apply-msi a.msi", "missing --expected-version", stored),
        failure("a trailing --apply-msi clears the path", L"u --apply-msi a.msi --expected-version 1 --apply-msi",
                "missing --apply-msi"),
        failure("an empty argument", L"u \"\"", "unknown arg: "),
        failure("a blank before the program name", L" TevraRemoteUpdater.exe", "unknown arg: TevraRemoteUpdater.exe"),
        failure("capitals", L"u --Apply-Msi x", "unknown arg: --Apply-Msi", stored),
        failure("an option taken as a value", L"u --apply-msi --expected-version 2.0", "unknown arg: 2.0"),
        failure("non-ASCII", L"u \"--v\u00e9rsion \\\"\U0001F600\\\"\"",
                "unknown arg: --v\xC3\xA9rsion \"\xF0\x9F\x98\x80\""),
        failure("every escape the writer knows", L"u \"\t\n\b\f\r\x01\x1f\x7f/\\\\\"",
                "unknown arg: \t\n\b\f\r\x01\x1f\x7f/\\"),
        failure("unknown before the mark", L"u --bogus --mark-awaiting-first-start", "unknown arg: --bogus", stored),
        mark_ends_scan,
        without_stderr,
        {.name = "an unpaired surrogate",
         .line = L"u --help --apply-msi x" + std::wstring(1, wchar_t(0xD800)),
         .err = "updater error: the command line holds text that is not valid UTF-16\n",
         .exit = 2,
         .after = std::nullopt},
    });
}

TEST(Driver, MarkAndLocations) {
    run_rows({
        marking("the mark keeps an earlier failure", {"failed", "1.0", {}, {}, "msiexec failed: Some(1603)", {}, "7"}),
        marking("the mark keeps empty texts and the largest stamp",
                {"healthy", "", "", "x", {}, "", "18446744073709551615"}),
        marking("a stale longer temporary file is truncated", stored,
                {{Op::text, L"%P\\update_state.json.tmp", std::wstring(4096, L'x')}}),
        located("LOCALAPPDATA", {}, L"%P"),
        located("LOCALAPPDATA with a trailing separator", {{Op::set, L"LOCALAPPDATA", L"%D\\lad\\"}}, L"%P"),
        located("LOCALAPPDATA empty: the working directory",
                {{Op::set, L"LOCALAPPDATA", L""}, {Op::set, L"USERPROFILE", L"%D\\up"}}, L"%D\\Tevra Remote"),
        located("USERPROFILE", {{Op::unset, L"LOCALAPPDATA"}, {Op::set, L"USERPROFILE", L"%D\\up"}},
                L"%D\\up\\AppData\\Local\\Tevra Remote"),
        located("USERPROFILE empty", {{Op::unset, L"LOCALAPPDATA"}, {Op::set, L"USERPROFILE", L""}},
                L"%D\\AppData\\Local\\Tevra Remote"),
        located("neither", {{Op::unset, L"LOCALAPPDATA"}, {Op::unset, L"USERPROFILE"}}, L"%D\\Tevra Remote"),
    });
}

// Files that can't be read or trusted give the default record; layouts that can't be written leave the state file
// as it was, and the run's status is its command's own.
TEST(Store, HostileAndUnwritable) {
    std::string noise(1 << 16, '\0');
    std::mt19937 random(7);
    for (char& c : noise) c = char(random());
    const std::string error = "unknown arg: --x";
    const std::wstring state = L"%P\\update_state.json", tmp = L"%P\\update_state.json.tmp";
    const Step updates_file{Op::text, L"%U", L"a file where the staging directory belongs"};
    Row noisy = failure("random bytes", L"u --x", error), half = failure("half a record", L"u --x", error);
    noisy.before = noise;
    half.before = stored.text().substr(0, 90);
    run_rows({
        {.name = "a million [", .line = mark, .before = std::string(1'000'000, '['), .after = marked(Rec{})},
        {.name = "an empty file", .line = mark, .before = "", .after = marked(Rec{})},
        noisy,
        half,
        with(failure("a directory", L"u --x", error), {{Op::dir, state}}, std::nullopt, failed(Rec{}, error)),
        with(marking("held open without sharing", stored), {{Op::hold, state}}, same, marked(Rec{})),
        with(marking("read while another process writes it", stored), {{Op::hold_for_writing, state}}, same,
             marked(stored)),
        with(marking("Updates is a file", stored), {updates_file}),
        with(failure("Updates is a file", L"u --x", error, stored), {updates_file}),
        with(marking("a save in progress holds the temporary file", stored), {{Op::hold_for_writing, tmp}}, same, ""),
        with(failure("the temporary file is immutable", L"u --x", error, stored),
             {{Op::text, tmp, L"left by an earlier save"}, {Op::immutable, tmp}}, same, "left by an earlier save"),
        with(marking("the product directory is immutable", stored),
             {{Op::dir, L"%U\\Recovery"}, {Op::dir, L"%P\\CrashReports"}, {Op::immutable, L"%P"}}),
    });
}

}  // namespace
}  // namespace e2e
