// Starting a program by name and waiting for it, with the installer stub as the child.
#include "harness.hpp"
#include "stub_record.hpp"

#include "driver/run_and_wait.hpp"
#include "win/environment.hpp"
#include "win/system_error.hpp"
#include "win/unique_handle.hpp"

#include <gtest/gtest.h>

#include <random>

namespace tevra::test {
namespace {

using namespace std::string_literals;

void set_variable(const wchar_t* name, const std::optional<std::u16string>& value) {
    ::SetEnvironmentVariableW(name, value ? reinterpret_cast<const wchar_t*>(value->c_str()) : nullptr);
}

fs::path from_utf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

fs::path stub_path() { return build_dir() / L"installer_stub.exe"; }

void copy_stub(const fs::path& to) {
    fs::create_directories(to.parent_path());
    ASSERT_TRUE(::CopyFileW(stub_path().c_str(), to.c_str(), FALSE)) << utf8(to);
}

// Each test has its own record file; PATH and the stub's variables are put back afterwards.
class Launch : public testing::Test {
protected:
    void SetUp() override { set_variable(L"TEVRA_STUB_RECORD", u16(record_path_)); }
    void TearDown() override {
        set_variable(L"PATH", old_path_);
        for (const wchar_t* name : {L"TEVRA_STUB_RECORD", L"TEVRA_STUB_EXIT_CODE", L"TEVRA_STUB_ECHO"}) {
            set_variable(name, std::nullopt);
        }
    }

    std::vector<StubRecord> records() {
        auto records = read_stub_records(record_path_);
        EXPECT_TRUE(records.has_value()) << records.error();
        return records.value_or(std::vector<StubRecord>{});
    }

    // Wine now and then refuses a start under load. A refused start left no record and may be
    // tried again; a child that started is never run twice.
    std::expected<std::int32_t, std::string> run_stub(std::string_view program, const std::vector<std::string>& args) {
        for (int attempt = 1;; ++attempt) {
            auto result = run_and_wait(program, args);
            if (result || attempt == 3 || !records().empty()) return result;
            ::Sleep(200);
        }
    }

    fs::path dir_ = test_dir();
    fs::path record_path_ = dir_ / L"record.txt";
    std::optional<std::u16string> old_path_ = win::environment_variable(u"PATH");
};

std::vector<std::string> generated_arguments(std::mt19937& random) {
    static const std::string pieces[] = {" ", "\t", "\"", "\\", "\\\\", "\\\\\\", "a", "b", "\xC3\xA9",
                                         "\xF0\x9F\x98\x80", "\xE6\x97\xA5", "\"\"", "\\\"", "--x="};
    auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    std::vector<std::string> args(below(6));
    for (std::string& arg : args) {
        for (std::size_t n = below(7); n > 0; --n) arg += pieces[below(std::size(pieces))];
    }
    return args;
}

TEST_F(Launch, TheChildReceivesExactlyTheArguments) {
    std::vector<std::vector<std::string>> lists = {
        {},
        {"/i", "C:\\dir with blank\\pkg.msi", "/qb", "REBOOT=ReallySuppress", "EXPECTEDVERSION=2.4 beta"},
        {"", "C:\\trailing\\", "C:\\quoted trailing\\\\", "\"", "a\\\"b", "\t"},
    };
    std::mt19937 random(77);
    while (lists.size() < 20) lists.push_back(generated_arguments(random));

    for (const auto& args : lists) {
        fs::remove(record_path_);
        auto result = run_stub("installer_stub", args);
        ASSERT_TRUE(result.has_value()) << result.error();
        EXPECT_EQ(*result, 0);
        auto started = records();
        ASSERT_EQ(started.size(), 1u);
        const StubRecord& record = started.front();
        EXPECT_TRUE(fs::equivalent(from_utf8(record.program), stub_path())) << record.program;
        std::vector<std::string> expected = args;
        expected.insert(expected.begin(), "installer_stub");
        EXPECT_EQ(record.args, expected) << record.command_line;
        EXPECT_TRUE(record.command_line.starts_with(args.empty() ? "\"installer_stub\"" : "\"installer_stub\" "))
            << record.command_line;
    }
}

TEST_F(Launch, GivesBackTheExitCodeAsSigned) {
    struct Case {
        const char16_t* stub_code;
        std::int32_t code;
    };
    const Case cases[] = {{u"0", 0}, {u"1603", 1603}, {u"3010", 3010}, {u"3221225477", -1073741819}};
    for (const Case& c : cases) {
        fs::remove(record_path_);
        set_variable(L"TEVRA_STUB_EXIT_CODE", c.stub_code);
        auto result = run_stub("installer_stub", {"/x"});
        ASSERT_TRUE(result.has_value()) << result.error();
        EXPECT_EQ(*result, c.code);
        EXPECT_EQ(records().size(), 1u);
    }
}

TEST_F(Launch, RefusesBeforeStartingWhenNothingMayBeStarted) {
    copy_stub(dir_ / L"tevra_cwd_probe.exe");
    fs::create_directories(dir_ / L"empty");
    set_variable(L"PATH", u16(dir_ / L"empty") + u";;" + u16(dir_ / L"missing"));
    struct Case {
        std::string program;
        std::vector<std::string> args;
        std::string failure;
    };
    const Case cases[] = {
        {"installer_stub", {"a", "b\0c"s}, "nul byte found in provided data"},
        {"installer_stub", {"\0"s}, "nul byte found in provided data"},
        // Cut at its NUL, the name would find the stub.
        {"installer_stub\0x"s, {}, "nul byte found in provided data"},
        {"tevra_nowhere_7f3a", {"x"}, "program not found"},
        // Lies in the current directory only.
        {"tevra_cwd_probe", {}, "program not found"},
    };
    const fs::path old_cwd = fs::current_path();
    fs::current_path(dir_);
    for (const Case& c : cases) {
        auto result = run_and_wait(c.program, c.args);
        ASSERT_FALSE(result.has_value()) << c.program;
        EXPECT_EQ(result.error(), c.failure);
    }
    fs::current_path(old_cwd);
    EXPECT_FALSE(fs::exists(record_path_));
}

TEST_F(Launch, SearchesItsOwnDirectoryFirstThenSystemThenPath) {
    // A quoted PATH entry may hold ';'.
    fs::path on_path = dir_ / L"on;path";
    for (const wchar_t* name : {L"installer_stub.exe", L"tevra_path_probe.exe", L"hostname.exe"}) {
        copy_stub(on_path / name);
    }
    std::u16string search = u";";
    search += u16(dir_ / L"missing");
    search += u";\"" + u16(on_path) + u"\"";
    set_variable(L"PATH", search);

    ASSERT_TRUE(run_stub("installer_stub", {}).has_value());
    ASSERT_TRUE(run_stub("tevra_path_probe", {"p"}).has_value());
    // The system's hostname comes before the copy on PATH: it runs and leaves no record.
    auto system_program = run_and_wait("hostname", {});
    ASSERT_TRUE(system_program.has_value()) << system_program.error();

    auto started = records();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_TRUE(fs::equivalent(from_utf8(started[0].program), stub_path())) << started[0].program;
    EXPECT_TRUE(fs::equivalent(from_utf8(started[1].program), on_path / L"tevra_path_probe.exe"))
        << started[1].program;
    EXPECT_EQ(started[1].args, (std::vector<std::string>{"tevra_path_probe", "p"}));
    EXPECT_TRUE(fs::equivalent(from_utf8(started[1].cwd), fs::current_path())) << started[1].cwd;
}

TEST_F(Launch, AFailedStartGivesTheSystemErrorText) {
    // A directory counts as found; starting it fails.
    fs::create_directories(dir_ / L"bin" / L"tevra_dir_probe.exe");
    set_variable(L"PATH", u16(dir_ / L"bin"));
    auto result = run_and_wait("tevra_dir_probe", {});
    ASSERT_FALSE(result.has_value());
    const std::string& text = result.error();
    std::size_t open = text.rfind(" (os error ");
    ASSERT_NE(open, std::string::npos) << text;
    auto code = static_cast<std::uint32_t>(std::stoul(text.substr(open + 11)));
    EXPECT_NE(code, 0u);
    EXPECT_EQ(text, win::system_error_text(code));
    EXPECT_FALSE(fs::exists(record_path_));
}

// The bytes waiting in a pipe, and whether every writing end is closed by now.
std::pair<std::string, bool> drain(HANDLE pipe) {
    std::string bytes;
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            return {bytes, ::GetLastError() == ERROR_BROKEN_PIPE};
        }
        if (available == 0) return {bytes, false};
        char buffer[256];
        DWORD read = 0;
        if (!::ReadFile(pipe, buffer, sizeof buffer, &read, nullptr)) return {bytes, false};
        bytes.append(buffer, read);
    }
}

// The test's own handles are not inheritable: the child can only have them through duplicates,
// and once the test closes its ends, a duplicate left open would keep the pipes whole.
TEST_F(Launch, TheChildGetsCopiesOfTheStandardHandlesThatAreClosedAfterwards) {
    write_file(dir_ / L"in.txt", "bytes from standard input\n");
    win::UniqueFile in(::CreateFileW((dir_ / L"in.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    HANDLE ends[4] = {};
    ASSERT_TRUE(in && ::CreatePipe(&ends[0], &ends[1], nullptr, 0) && ::CreatePipe(&ends[2], &ends[3], nullptr, 0));
    win::UniqueKernelHandle out_read(ends[0]), out_write(ends[1]), err_read(ends[2]), err_write(ends[3]);
    set_variable(L"TEVRA_STUB_ECHO", u"to standard error");

    const HANDLE old[] = {::GetStdHandle(STD_INPUT_HANDLE), ::GetStdHandle(STD_OUTPUT_HANDLE),
                          ::GetStdHandle(STD_ERROR_HANDLE)};
    ::SetStdHandle(STD_INPUT_HANDLE, in.get());
    ::SetStdHandle(STD_OUTPUT_HANDLE, out_write.get());
    ::SetStdHandle(STD_ERROR_HANDLE, err_write.get());
    auto result = run_stub("installer_stub", {});
    ::SetStdHandle(STD_INPUT_HANDLE, old[0]);
    ::SetStdHandle(STD_OUTPUT_HANDLE, old[1]);
    ::SetStdHandle(STD_ERROR_HANDLE, old[2]);
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ(*result, 0);
    EXPECT_EQ(records().size(), 1u);

    out_write.reset();
    err_write.reset();
    EXPECT_EQ(drain(out_read.get()), std::make_pair("bytes from standard input\n"s, true));
    EXPECT_EQ(drain(err_read.get()), std::make_pair("to standard error"s, true));
}

}  // namespace
}  // namespace tevra::test
