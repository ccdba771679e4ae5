// Win32: the Windows check's runner, which check.cmd calls with its own arguments. It names the platform, runs every
// test program of the kit (the *_tests.exe beside it) against one updater, and counts passes and failures from each
// program's JUnit report, never from its output: a program that crashes, hangs or writes no complete report counts
// as a failure, so nothing that did not run is reported as passed. cmd.exe can't do that counting reliably.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr DWORD program_time_limit = 30 * 60 * 1000;  // the harness bounds each run at 20 s; this, the whole program

std::string utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(std::size_t(std::max(size, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// Flushed at once: the programs started next write to the same handle.
void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

template <typename Function>
Function from_ntdll(const char* name) {
    const FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// Wine's ntdll exports its version; Windows' RtlGetVersion, unlike GetVersionEx, ignores the manifest's claims.
std::string platform() {
    if (const auto wine = from_ntdll<const char* (*)()>("wine_get_version")) return std::string("Wine ") + wine();
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (const auto get = from_ntdll<LONG(WINAPI*)(RTL_OSVERSIONINFOW*)>("RtlGetVersion")) get(&info);
    return "Windows " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
           std::to_string(info.dwBuildNumber);
}

fs::path kit_dir() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size())));
    return fs::path(path).parent_path();
}

std::wstring variable(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), DWORD(value.size())));
    return value;
}

// Runs PROGRAM ARGUMENTS in the kit's folder with this process's standard handles; gives its exit status, or
// none when it could not start or had to be ended.
std::optional<DWORD> run(const fs::path& program, const std::wstring& arguments) {
    std::wstring line = L"\"" + program.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        ::SetHandleInformation(::GetStdHandle(which), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          program.parent_path().c_str(), &startup, &info)) {
        say("cannot start " + utf8(program.filename().wstring()) + ": error " + std::to_string(::GetLastError()));
        return std::nullopt;
    }
    ::CloseHandle(info.hThread);
    std::optional<DWORD> status;
    if (::WaitForSingleObject(info.hProcess, program_time_limit) == WAIT_TIMEOUT) {
        ::TerminateProcess(info.hProcess, 1);
        ::WaitForSingleObject(info.hProcess, INFINITE);
        say(utf8(program.filename().wstring()) + " ran longer than 30 minutes and was ended");
    } else {
        DWORD exit = 0;
        ::GetExitCodeProcess(info.hProcess, &exit);
        status = exit;
    }
    ::CloseHandle(info.hProcess);
    std::fflush(stdout);
    return status;
}

struct Count {
    int passed = 0, failed = 0, skipped = 0;
};

// GoogleTest's JUnit report: a case holding a <failure> failed; one skipped or not run (disabled) was skipped; the
// rest passed. A report cut short (no closing tag) is no report.
std::optional<Count> count(const fs::path& report) {
    std::ifstream file(report, std::ios::binary);
    const std::string xml{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (xml.find("</testsuites>") == std::string::npos) return std::nullopt;
    Count count;
    constexpr std::string_view open = "<testcase ", close = "</testcase>";
    for (std::size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + open.size())) {
        const std::size_t tag_end = xml.find('>', at);
        if (tag_end == std::string::npos) return std::nullopt;
        const std::string_view tag = std::string_view(xml).substr(at, tag_end + 1 - at);
        const std::size_t body_end = tag.ends_with("/>") ? tag_end : xml.find(close, tag_end);
        if (body_end == std::string::npos) return std::nullopt;
        if (std::string_view(xml).substr(tag_end, body_end - tag_end).find("<failure") != std::string::npos)
            ++count.failed;
        else if (tag.find(R"(result="skipped")") != std::string::npos ||
                 tag.find(R"(status="notrun")") != std::string::npos)
            ++count.skipped;
        else
            ++count.passed;
    }
    return count;
}

int usage() {
    say("usage: check.cmd [PATH\\TevraRemoteUpdater.exe]   run every test of the kit against that updater (default:"
        " the kit's own)\n       check.cmd --differences          list the tests whose expectation differs between"
        " Wine and Windows");
    return 2;
}

// The difference table is the end-to-end program's; one built before it had the table would run its tests instead.
int differences(const fs::path& e2e) {
    std::ifstream file(e2e, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::string narrow = "--differences";
    std::string wide;
    for (const char c : narrow) wide += {c, '\0'};
    if (bytes.find(narrow) == std::string::npos && bytes.find(wide) == std::string::npos) {
        say("check: " + utf8(e2e.filename().wstring()) + " has no difference table");
        return 2;
    }
    const std::optional<DWORD> status = run(e2e, L"--differences");
    return status ? int(*status) : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const fs::path kit = kit_dir();
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() > 1) return usage();
    if (!args.empty() && (args[0] == L"-h" || args[0] == L"--help" || args[0] == L"/?")) return usage() - 2;
    if (!args.empty() && args[0] == L"--differences") return differences(kit / L"e2e_tests.exe");

    fs::path updater = kit / L"TevraRemoteUpdater.exe";
    if (!args.empty()) {
        std::error_code error;
        updater = fs::absolute(args[0], error);
        if (error || !fs::is_regular_file(updater, error)) {
            say("check: no such file: " + utf8(args[0]));
            return 2;
        }
        ::SetEnvironmentVariableW(L"TEVRA_CHECK_UPDATER", updater.c_str());
    } else {
        ::SetEnvironmentVariableW(L"TEVRA_CHECK_UPDATER", nullptr);
    }
    say("platform: " + platform());
    say("updater: " + utf8(updater.wstring()));
    if (const std::wstring expect = variable(L"TEVRA_CHECK_EXPECT"); !expect.empty())
        say("expectations: " + utf8(expect) + " (TEVRA_CHECK_EXPECT)");

    std::vector<fs::path> programs;
    for (const auto& entry : fs::directory_iterator(kit))
        if (entry.path().filename().wstring().ends_with(L"_tests.exe")) programs.push_back(entry.path());
    std::ranges::sort(programs);
    const fs::path reports = kit / L"report";
    fs::create_directories(reports);

    Count total;
    if (programs.empty()) {
        say("no test program beside " + utf8(kit.wstring()));
        ++total.failed;
    }
    for (const fs::path& program : programs) {
        const std::string name = utf8(program.filename().wstring());
        const fs::path report = reports / program.filename().replace_extension(L".xml");
        std::error_code ignored;
        fs::remove(report, ignored);  // a report left by an earlier run must not count for this one
        say("running " + name);
        const std::optional<DWORD> status = run(program, L"--gtest_output=xml:\"" + report.wstring() + L"\"");
        const std::optional<Count> counted = count(report);
        if (!counted) {
            say("check: " + name + " wrote no complete report: counted as one failure");
            ++total.failed;
            continue;
        }
        total.passed += counted->passed;
        total.failed += counted->failed;
        total.skipped += counted->skipped;
        if (counted->passed + counted->failed == 0) {
            say("check: " + name + " ran no test: counted as one failure");
            ++total.failed;
        } else if (status != 0 && counted->failed == 0) {
            say("check: " + name + " failed outside its tests (exit status " +
                (status ? std::to_string(*status) : std::string("none")) + "): counted as one failure");
            ++total.failed;
        }
    }
    if (total.skipped) say("skipped: " + std::to_string(total.skipped) + " (their reasons are above)");
    say("reports: " + utf8(reports.wstring()));
    say("check: " + std::to_string(total.passed) + " passed, " + std::to_string(total.failed) + " failed");
    return total.failed == 0 ? 0 : 1;
}
