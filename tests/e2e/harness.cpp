#include "harness.hpp"

#include "platform.hpp"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <ranges>
#include <stdexcept>

namespace e2e {
namespace {

using Handle = tevra::win::UniqueKernelHandle;
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const std::time_t started = std::time(nullptr);  // before any test

// What the tests start ends with them, even when the test process itself is killed (by ctest's time-out): a run left
// behind might go on writing forever. Only what they start: the installer and what it starts stay out.
const Handle children_end_with_the_tests = [] {
    Handle job(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}();

Handle open(const fs::path& path, DWORD access, DWORD share, DWORD disposition, BOOL inherit = FALSE, DWORD flags = 0) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, inherit};
    return Handle(::CreateFileW(path.c_str(), access, share, &attributes, disposition, flags, nullptr));
}

std::wstring expand(std::wstring text, const fs::path& dir) {
    const std::pair<std::wstring, std::wstring> names[] = {
        {L"%U", L"%P\\Updates"}, {L"%P", L"%D\\AppData\\Local\\Tevra Remote"}, {L"%D", dir}, {L"%B", build_dir()}};
    for (const auto& [name, value] : names)
        for (std::size_t at = 0; (at = text.find(name, at)) != std::wstring::npos; at += value.size())
            text.replace(at, name.size(), value);
    return text;
}

void write_file(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// In the extended form, which no length limit applies to: a staging path may be longer than MAX_PATH.
std::wstring extended(const fs::path& path) { return L"\\\\?\\" + path.wstring(); }

void make_directories(const fs::path& path) {
    fs::path at;
    for (const fs::path& part : path) ::CreateDirectoryW(extended(at /= part).c_str(), nullptr);
}

}  // namespace

DWORD Child::finish() {
    // Every run ends within seconds. One that doesn't (a write repeated forever, say) would fill the disk: it is
    // ended, and what it may have grown is emptied.
    if (::WaitForSingleObject(process.get(), 20000) == WAIT_TIMEOUT) {
        ::TerminateProcess(process.get(), 0xDEAD);
        ::WaitForSingleObject(process.get(), INFINITE);
        std::error_code ignored;
        for (const fs::path& file : {err, out}) fs::resize_file(file, 0, ignored);
        for (const fs::path& file : grown) fs::resize_file(file, 0, ignored);
    }
    DWORD exit = 0;
    ::GetExitCodeProcess(process.get(), &exit);
    return exit;
}

Child start(const fs::path& program, std::wstring line, const fs::path& cwd) {
    static int count = 0;
    Child child{Handle(), cwd / ("err-" + std::to_string(++count)), cwd / ("out-" + std::to_string(count))};
    const Handle out = open(child.out, GENERIC_WRITE, share_all, CREATE_ALWAYS, TRUE);
    const Handle err = open(child.err, GENERIC_WRITE, share_all, CREATE_ALWAYS, TRUE);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION info{};
    // Under load Wine now and then refuses a start; a refused start ran nothing, so it may be tried again.
    for (int attempt = 0; attempt < 5; ++attempt, ::Sleep(200)) {
        if (::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                             cwd.c_str(), &startup, &info)) {
            const Handle thread(info.hThread);
            child.process = Handle(info.hProcess);
            ::AssignProcessToJobObject(children_end_with_the_tests.get(), info.hProcess);
            ::ResumeThread(info.hThread);
            return child;
        }
    }
    throw std::runtime_error("cannot start a program");
}

std::optional<std::wstring> set_variable(const std::wstring& name, const std::optional<std::wstring>& value) {
    wchar_t old[32768];
    const DWORD length = ::GetEnvironmentVariableW(name.c_str(), old, 32768);
    ::SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    return length ? std::optional<std::wstring>(old) : std::nullopt;
}

fs::path build_dir() {
    static const fs::path dir = [] {
        wchar_t path[32768];
        const fs::path folder = fs::path(std::wstring(path, ::GetModuleFileNameW(nullptr, path, 32768))).parent_path();
        // As the file system reports it (long names, the letter case on disk), as the updater's checks see paths.
        const Handle handle = open(folder, 0, share_all, OPEN_EXISTING, FALSE, FILE_FLAG_BACKUP_SEMANTICS);
        const std::wstring final(path, ::GetFinalPathNameByHandleW(handle.get(), path, 32768, 0));
        return final.starts_with(L"\\\\?\\") && final.find(L':') == 5 ? fs::path(final.substr(4)) : folder;
    }();
    return dir;
}

fs::path updater() {
    wchar_t path[32768];
    const DWORD length = ::GetEnvironmentVariableW(L"TEVRA_CHECK_UPDATER", path, 32768);
    return length ? fs::path(std::wstring(path, length)) : build_dir() / L"TevraRemoteUpdater.exe";
}

fs::path test_dir() {
    static int count = 0;
    fs::create_directories(build_dir() / L"e2e-work");
    for (;;) {  // a test process in another prefix may have had the same process id
        const fs::path dir =
            build_dir() / L"e2e-work" / (std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++count));
        if (fs::create_directory(dir)) return dir;
    }
}

std::optional<std::string> read_file(const fs::path& path) {
    const Handle file = open(path, GENERIC_READ, share_all, OPEN_EXISTING);
    if (!file) return std::nullopt;
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
}

testing::AssertionResult same_text(const std::optional<std::string>& actual, std::optional<std::string> expected) {
    if (expected == unchecked) return testing::AssertionSuccess();
    const std::size_t at = expected ? expected->find("<now>") : std::string::npos;
    if (actual && at <= actual->size()) {  // the digits found there, if they are a stamp of the run
        const std::string digits = actual->substr(at, actual->find_first_not_of("0123456789", at) - at);
        const std::time_t stamp = std::strtoll(digits.c_str(), nullptr, 10);
        if (!digits.starts_with('0') && stamp >= started && stamp <= std::time(nullptr))
            expected->replace(at, 5, digits);
    }
    if (actual == expected) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\n  actual: " << actual.value_or("(absent)")
                                       << "\nexpected: " << expected.value_or("(absent)");
}

void run_rows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path dir = test_dir(), product = expand(L"%P", dir), state = product / L"update_state.json";
        if (row.before) write_file(state, *row.before);
        std::vector<Step> steps = {{Op::copy, L"%D\\bin\\TevraRemoteUpdater.exe", updater()},
                                   {Op::copy, L"%D\\bin\\msiexec.exe", L"%B\\installer_stub.exe"},
                                   {Op::set, L"LOCALAPPDATA", L"%D\\AppData\\Local"},
                                   {Op::set, L"USERPROFILE", L"%D"},
                                   {Op::set, L"TEVRA_STUB_STATE", state}};
        steps.insert(steps.end(), row.setup.begin(), row.setup.end());
        std::vector<std::pair<std::wstring, std::optional<std::wstring>>> variables;
        std::vector<Handle> held, held_briefly;
        OVERLAPPED whole{};
        std::vector<std::pair<fs::path, std::string>> expected_files;
        std::optional<std::string> missing_here;  // why a step can't be taken on this platform
        const auto restore = [&variables] {
            for (const auto& [name, value] : variables | std::views::reverse) set_variable(name, value);
        };
        for (const Step& step : steps) {
            const fs::path path = expand(step.path, dir);
            const std::wstring arg = expand(step.arg, dir);
            const std::string bytes(arg.begin(), arg.end());
            const auto hold = [&path](std::vector<Handle>& into, DWORD access, DWORD share) {
                into.push_back(open(path, access, share, OPEN_ALWAYS));
                EXPECT_TRUE(into.back()) << "a hold step";
            };
            if (step.op == Op::copy || step.op == Op::link) make_directories(path.parent_path());
            switch (step.op) {
                case Op::copy:
                    EXPECT_TRUE(::CopyFileW(arg.c_str(), extended(path).c_str(), FALSE)) << "a copy step";
                    break;
                case Op::text: write_file(path, bytes); break;
                case Op::dir: fs::create_directories(path); break;
                case Op::link: missing_here = make_link(path, arg, dir); break;
                case Op::hard_link: fs::create_hard_link(arg, path); break;
                case Op::remove: fs::remove(path); break;
                case Op::set: variables.emplace_back(step.path, set_variable(step.path, arg)); break;
                case Op::unset: variables.emplace_back(step.path, set_variable(step.path, std::nullopt)); break;
                case Op::hold: hold(held, GENERIC_READ, 0); break;
                case Op::hold_for_writing: hold(held, GENERIC_WRITE, FILE_SHARE_READ); break;
                case Op::hold_sharing_all: hold(held, GENERIC_READ, share_all); break;
                case Op::lock:
                    hold(held, GENERIC_READ, FILE_SHARE_READ);
                    EXPECT_TRUE(::LockFileEx(held.back().get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                                             MAXDWORD, MAXDWORD, &whole))
                        << "a lock step";
                    break;
                case Op::hold_briefly: hold(held_briefly, GENERIC_READ, 0); break;
                case Op::read_briefly: hold(held_briefly, GENERIC_READ, FILE_SHARE_READ); break;
                case Op::expect: expected_files.emplace_back(path, bytes);
            }
            if (missing_here) break;
        }
        if (missing_here) {
            restore();
            [&] { GTEST_SKIP() << *missing_here; }();
            continue;
        }
        Child child = start(dir / L"bin\\TevraRemoteUpdater.exe", expand(row.line, dir), dir);
        // The temporary file of a save, where LOCALAPPDATA is set and where it is empty (the working directory).
        child.grown = {product / L"update_state.json.tmp", dir / L"Tevra Remote\\update_state.json.tmp"};
        if (!held_briefly.empty()) {
            ::Sleep(300);
            // Still running: the run met the hold and waited for it.
            EXPECT_EQ(::WaitForSingleObject(child.process.get(), 0), DWORD{WAIT_TIMEOUT}) << "ended before the hold";
        }
        held_briefly.clear();
        EXPECT_EQ(child.finish(), row.exit);
        held.clear();
        restore();

        EXPECT_EQ(read_file(child.err), row.err);
        const std::string out = read_file(child.out).value_or("(none)");
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(out.data()), out.size() / 2),
                  expand(row.installer, dir))
            << "the installer's command line";
        EXPECT_TRUE(same_text(read_file(state), row.after == same ? row.before : row.after));
        EXPECT_TRUE(same_text(read_file(product / L"update_state.json.tmp"), row.tmp)) << "temporary file";
        std::error_code absent;  // a save sets a stale temporary file aside, to go once its holders let go
        for (const auto& entry : fs::directory_iterator(product, absent))
            EXPECT_FALSE(entry.path().filename().wstring().ends_with(L".stale")) << entry.path();
        for (const auto& [path, bytes] : expected_files) EXPECT_TRUE(same_text(read_file(path), bytes)) << path;
        for (const wchar_t* made : {L"Updates", L"Updates\\Recovery", L"CrashReports"})  // by a save
            EXPECT_TRUE(!row.after || row.after == same || fs::is_directory(product / made)) << made;
    }
}

}  // namespace e2e
