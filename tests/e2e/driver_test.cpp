// The updater's command line, failure path and mark operation, run as the real program.
#include "harness.hpp"

#include "common/utf.hpp"
#include "state/state_codec.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace tevra::test {
namespace {

std::uint64_t now_unix() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

fs::path product_dir(const fs::path& local_app_data) { return local_app_data / L"Tevra Remote"; }
fs::path state_path(const fs::path& local_app_data) { return product_dir(local_app_data) / L"update_state.json"; }

RunResult run_in(const fs::path& local_app_data, std::u16string command_line) {
    RunOptions options;
    options.command_line = std::move(command_line);
    options.environment = {{u"LOCALAPPDATA", u16(local_app_data)}};
    options.working_dir = local_app_data;
    return run(options);
}

// The state file must hold exactly what the writer makes of the record it holds.
UpdateStateFile read_state(const fs::path& path) {
    auto bytes = read_file(path);
    EXPECT_TRUE(bytes.has_value()) << utf8(path);
    if (!bytes) return {};
    auto state = state_from_json(*bytes);
    EXPECT_TRUE(state.has_value()) << *bytes;
    if (!state) return {};
    EXPECT_EQ(state_to_json(*state), *bytes);
    return *state;
}

TEST(Help, ShowsUsageAndLeavesTheStateAlone) {
    const char16_t* lines[] = {
        u"TevraRemoteUpdater.exe --help",
        u"TevraRemoteUpdater.exe -h",
        u"-h",
        u"u --bogus --help",
        u"u --apply-msi --help --expected-version 1",
        u"u --mark-awaiting-first-start -h",
    };
    for (const char16_t* line : lines) {
        fs::path dir = test_dir();
        RunResult result = run_in(dir, line);
        EXPECT_EQ(result.exit_code, 0u) << utf16_to_utf8_lossy(line);
        EXPECT_EQ(result.stderr_bytes,
                  "TevraRemoteUpdater\n  --apply-msi <path> --expected-version <ver>\n  --mark-awaiting-first-start\n");
        EXPECT_EQ(result.stdout_bytes, "");
        EXPECT_FALSE(fs::exists(product_dir(dir))) << utf16_to_utf8_lossy(line);
    }
}

TEST(Failure, IsPrintedOnceAndRecordedInTheDefaultRecord) {
    struct Case {
        std::u16string line;
        std::string message;
    };
    const Case cases[] = {
        {u"u", "missing --apply-msi"},
        {u"u --expected-version 2.0", "missing --apply-msi"},
        {u"u --apply-msi a.msi", "missing --expected-version"},
        {u"u --apply-msi a.msi --expected-version 1 --apply-msi", "missing --apply-msi"},
        {u"u \"\"", "unknown arg: "},
        {u" TevraRemoteUpdater.exe", "unknown arg: TevraRemoteUpdater.exe"},
        {u"u --Apply-Msi x", "unknown arg: --Apply-Msi"},
        {u"u --apply-msi --expected-version 2.0", "unknown arg: 2.0"},
        {u"u \"--v\u00e9rsion \\\"\U0001F600\\\"\"", "unknown arg: --v\xC3\xA9rsion \"\xF0\x9F\x98\x80\""},
    };
    for (const Case& c : cases) {
        fs::path dir = test_dir();
        std::uint64_t before = now_unix();
        RunResult result = run_in(dir, c.line);
        std::uint64_t after = now_unix();
        EXPECT_EQ(result.exit_code, 1u) << c.message;
        EXPECT_EQ(result.stderr_bytes, "updater error: " + c.message + "\n");
        UpdateStateFile expected = default_state_at(0);
        expected.phase = UpdatePhase::failed;
        expected.last_error = c.message;
        UpdateStateFile state = read_state(state_path(dir));
        EXPECT_GE(state.updated_unix, before);
        EXPECT_LE(state.updated_unix, after);
        state.updated_unix = 0;
        EXPECT_EQ(state, expected) << c.message;
        for (const wchar_t* made : {L"Updates", L"Updates\\Recovery", L"CrashReports"}) {
            EXPECT_TRUE(fs::is_directory(product_dir(dir) / made));
        }
        EXPECT_FALSE(fs::exists(product_dir(dir) / L"update_state.json.tmp"));
    }
}

TEST(Failure, KeepsEveryOtherFieldOfTheLoadedRecord) {
    fs::path dir = test_dir();
    UpdateStateFile stored{UpdatePhase::rollback_required, "3.0", "3.1", "C:\\u\\p.msi", "old", "2.9", 42};
    write_file(state_path(dir), state_to_json(stored).value());
    RunResult result = run_in(dir, u"u --nope");
    EXPECT_EQ(result.exit_code, 1u);
    UpdateStateFile expected = stored;
    expected.phase = UpdatePhase::failed;
    expected.last_error = "unknown arg: --nope";
    EXPECT_EQ(read_state(state_path(dir)), expected);
}

TEST(Failure, WithoutStandardErrorStillRecordsAndFails) {
    fs::path dir = test_dir();
    RunOptions options;
    options.command_line = u"u --nope";
    options.environment = {{u"LOCALAPPDATA", u16(dir)}};
    options.working_dir = dir;
    options.without_stderr = true;
    RunResult result = run(options);
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_EQ(read_state(state_path(dir)).last_error, "unknown arg: --nope");
}

TEST(Mark, ChangesOnlyThePhase) {
    const UpdateStateFile stored_records[] = {
        {UpdatePhase::failed, "1.0", std::nullopt, std::nullopt, "msiexec failed: Some(1603)", std::nullopt, 7},
        {UpdatePhase::healthy, "", "", "x", std::nullopt, "", 18446744073709551615u},
    };
    for (const UpdateStateFile& stored : stored_records) {
        fs::path dir = test_dir();
        write_file(state_path(dir), state_to_json(stored).value());
        RunResult result = run_in(dir, u"u --mark-awaiting-first-start --whatever follows");
        EXPECT_EQ(result.exit_code, 0u);
        EXPECT_EQ(result.stderr_bytes, "");
        UpdateStateFile expected = stored;
        expected.phase = UpdatePhase::awaiting_first_start;
        EXPECT_EQ(read_state(state_path(dir)), expected);
    }
}

TEST(Mark, StartsFromTheDefaultRecordWhenTheFileIsUnusable) {
    const std::string unusable[] = {"", "  \n", "\xEF\xBB\xBF{}", "{\"phase\": \"Idle\"}", "[[[[[[[["};
    for (const std::string& bytes : unusable) {
        fs::path dir = test_dir();
        write_file(state_path(dir), bytes);
        EXPECT_EQ(run_in(dir, u"u --mark-awaiting-first-start").exit_code, 0u);
        UpdateStateFile state = read_state(state_path(dir));
        EXPECT_EQ(state.phase, UpdatePhase::awaiting_first_start);
        EXPECT_EQ(state.current_version, "0.1.1");
        EXPECT_GE(state.updated_unix, now_unix() - 60);
    }
}

TEST(Mark, SucceedsQuietlyWhenTheSaveFails) {
    fs::path dir = test_dir();
    const std::string old_text = state_to_json(default_state_at(5)).value();
    write_file(state_path(dir), old_text);
    write_file(product_dir(dir) / L"Updates", "a file where the staging directory belongs");
    RunResult result = run_in(dir, u"u --mark-awaiting-first-start");
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(result.stderr_bytes, "");
    EXPECT_EQ(read_file(state_path(dir)), old_text);
    EXPECT_FALSE(fs::exists(product_dir(dir) / L"update_state.json.tmp"));
}

// Another save in progress holds the temporary file: this save must fail rather than write into
// the same file at the same time, and the state file keeps its complete old text.
TEST(Mark, GivesWayToASaveInProgress) {
    fs::path dir = test_dir();
    const std::string old_text = state_to_json(default_state_at(5)).value();
    write_file(state_path(dir), old_text);
    fs::path temporary = product_dir(dir) / L"update_state.json.tmp";
    HANDLE other_save = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(other_save, INVALID_HANDLE_VALUE);
    RunResult result = run_in(dir, u"u --mark-awaiting-first-start");
    ::CloseHandle(other_save);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(read_file(state_path(dir)), old_text);
}

TEST(Mark, TruncatesAStaleTemporaryFile) {
    fs::path dir = test_dir();
    write_file(product_dir(dir) / L"update_state.json.tmp", std::string(4096, 'x'));
    EXPECT_EQ(run_in(dir, u"u --mark-awaiting-first-start").exit_code, 0u);
    EXPECT_EQ(read_state(state_path(dir)).phase, UpdatePhase::awaiting_first_start);
    EXPECT_FALSE(fs::exists(product_dir(dir) / L"update_state.json.tmp"));
}

TEST(Locations, FollowTheEnvironment) {
    struct Case {
        const char* name;
        std::optional<std::u16string> local_app_data, user_profile;  // relative to the test directory
        std::u16string product_dir;
    };
    const Case cases[] = {
        {"local app data", u"lad", u"up", u"lad\\Tevra Remote"},
        {"local app data with separator", u"lad\\", std::nullopt, u"lad\\Tevra Remote"},
        {"empty local app data", u"", u"up", u"Tevra Remote"},
        {"user profile", std::nullopt, u"up", u"up\\AppData\\Local\\Tevra Remote"},
        {"empty user profile", std::nullopt, u"", u"AppData\\Local\\Tevra Remote"},
        {"neither", std::nullopt, std::nullopt, u"Tevra Remote"},
    };
    for (const Case& c : cases) {
        fs::path dir = test_dir();
        auto in_dir = [&](const std::optional<std::u16string>& value) -> std::optional<std::u16string> {
            if (!value || value->empty()) return value;
            return u16(dir) + u"\\" + *value;
        };
        RunOptions options;
        options.command_line = u"u --mark-awaiting-first-start";
        options.environment = {{u"LOCALAPPDATA", in_dir(c.local_app_data)}, {u"USERPROFILE", in_dir(c.user_profile)}};
        options.working_dir = dir;
        RunResult result = run(options);
        EXPECT_EQ(result.exit_code, 0u) << c.name;
        fs::path expected = dir / std::wstring(c.product_dir.begin(), c.product_dir.end()) / L"update_state.json";
        EXPECT_TRUE(fs::is_regular_file(expected)) << c.name;
    }
}

TEST(CommandLine, AnUnpairedSurrogateEndsTheRunUntouched) {
    fs::path dir = test_dir();
    std::u16string line = u"u --help --apply-msi x";
    line += char16_t(0xD800);
    RunResult result = run_in(dir, line);
    EXPECT_NE(result.exit_code, 0u);
    EXPECT_NE(result.exit_code, 1u);
    EXPECT_FALSE(fs::exists(product_dir(dir)));
}

TEST(StateFile, ADirectoryInItsPlaceReadsAsMissing) {
    fs::path dir = test_dir();
    fs::create_directories(state_path(dir));
    RunResult result = run_in(dir, u"u --bogus");
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_EQ(result.stderr_bytes, "updater error: unknown arg: --bogus\n");
    EXPECT_TRUE(fs::is_directory(state_path(dir)));
}

}  // namespace
}  // namespace tevra::test
