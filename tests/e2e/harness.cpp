#include "harness.hpp"

#include "state/state_codec.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <cwchar>
#include <stdexcept>
#include <utility>

namespace tevra::test {
namespace {

HANDLE inheritable_file(const fs::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::u16string upper(std::u16string text) {
    for (auto& c : text) c = (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    return text;
}

// The test program's environment with the requested changes, as a CreateProcessW block.
std::u16string environment_block(const std::vector<EnvChange>& changes) {
    std::vector<std::u16string> entries;
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) {
        entries.emplace_back(reinterpret_cast<const char16_t*>(p));
    }
    ::FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : changes) {
        std::erase_if(entries, [&](const std::u16string& entry) {
            auto eq = entry.find(u'=', 1);
            return upper(entry.substr(0, eq)) == upper(name);
        });
        if (value) entries.push_back(name + u"=" + *value);
    }
    std::u16string out;
    for (const auto& entry : entries) out += entry + u'\0';
    out += u'\0';
    return out;
}

}  // namespace

std::wstring unix_path(const fs::path& path) {
    std::wstring text = path.wstring();
    if (!text.starts_with(L"Z:\\")) throw std::runtime_error("not on the Unix root drive: " + utf8(path));
    text.erase(0, 2);
    for (auto& c : text) c = c == L'\\' ? L'/' : c;
    return text;
}

// Wine starts Unix programs too; some file work only they do right under Wine.
void run_unix(const std::wstring& program, const std::vector<std::wstring>& args) {
    std::wstring command = program;
    for (const std::wstring& arg : args) command += L" \"" + arg + L"\"";
    std::wstring application = L"Z:" + program;
    for (auto& c : application) c = c == L'/' ? L'\\' : c;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(application.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        throw std::runtime_error("cannot start a Unix program: error " + std::to_string(::GetLastError()));
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    // Wine does not wait for a Unix program: callers wait for its effect.
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
}

fs::path build_dir() {
    wchar_t buffer[32768];
    DWORD length = ::GetModuleFileNameW(nullptr, buffer, 32768);
    return fs::path(std::wstring(buffer, length)).parent_path();
}

fs::path updater_path() { return build_dir() / L"TevraRemoteUpdater.exe"; }

fs::path test_dir() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/' || c == '\\') c = '_';
    }
    // Never reused, so nothing has to be removed here (the test run empties e2e-work first):
    // under Wine the library's remove_all loops forever on a Unix link.
    static int count = 0;
    name += '-';
    name += std::to_string(::GetCurrentProcessId());
    name += '-';
    name += std::to_string(++count);
    fs::path dir = build_dir() / "e2e-work" / name;
    fs::create_directories(dir);
    return dir;
}

std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Wine's CreateSymbolicLinkW makes nothing, but Wine follows the links of the Unix file system.
void make_symlink(const fs::path& target, const fs::path& link) {
    // Wine shows the link once ln has made it (a broken one never: link to a file that exists).
    // A start that left no trace under load is made again.
    for (int start = 0; start < 10; ++start) {
        run_unix(L"/bin/ln", {L"-s", unix_path(target), unix_path(link)});
        for (int poll = 0; poll < 200; ++poll) {
            WIN32_FIND_DATAW entry{};
            HANDLE find = ::FindFirstFileW(link.c_str(), &entry);
            if (find != INVALID_HANDLE_VALUE) {
                ::FindClose(find);
                return;
            }
            ::Sleep(10);
        }
    }
    throw std::runtime_error("no link appeared at " + utf8(link));
}

std::u16string u16(const fs::path& path) {
    const std::wstring& native = path.native();
    return std::u16string(native.begin(), native.end());
}

std::string utf8(const fs::path& path) {
    auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

Child::Child(Child&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)),
      err_path_(std::move(other.err_path_)),
      out_path_(std::move(other.out_path_)) {}

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        release();
        process_ = std::exchange(other.process_, nullptr);
        err_path_ = std::move(other.err_path_);
        out_path_ = std::move(other.out_path_);
    }
    return *this;
}

Child::~Child() { release(); }

void Child::release() {
    if (process_ == nullptr) return;
    ::TerminateProcess(process_, 1);
    ::WaitForSingleObject(process_, INFINITE);
    ::CloseHandle(process_);
    process_ = nullptr;
    std::error_code ignored;
    fs::remove(err_path_, ignored);
    fs::remove(out_path_, ignored);
}

bool Child::has_ended() const { return process_ == nullptr || ::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

void Child::terminate(UINT exit_code) {
    if (process_ != nullptr) ::TerminateProcess(process_, exit_code);
}

RunResult Child::finish() {
    if (process_ == nullptr) throw std::logic_error("no child to finish");
    ::WaitForSingleObject(process_, INFINITE);
    RunResult result;
    ::GetExitCodeProcess(process_, &result.exit_code);
    ::CloseHandle(process_);
    process_ = nullptr;
    result.stderr_bytes = read_file(err_path_).value_or("");
    result.stdout_bytes = read_file(out_path_).value_or("");
    std::error_code ignored;
    fs::remove(err_path_, ignored);
    fs::remove(out_path_, ignored);
    return result;
}

Child start(const RunOptions& options) {
    fs::path program = options.program.empty() ? updater_path() : options.program;
    fs::path capture_dir = build_dir() / "e2e-work";
    fs::create_directories(capture_dir);
    // Unique per start, also for children started within the same tick.
    static unsigned starts = 0;
    std::string tag = std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount64()) + "-" +
                      std::to_string(++starts);
    Child child;
    child.err_path_ = capture_dir / ("stderr-" + tag);
    child.out_path_ = capture_dir / ("stdout-" + tag);

    HANDLE err = inheritable_file(child.err_path_, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE out = inheritable_file(child.out_path_, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE in = inheritable_file(L"NUL", GENERIC_READ, OPEN_EXISTING);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = options.without_stderr ? INVALID_HANDLE_VALUE : err;

    std::u16string command_line = options.command_line;
    std::u16string environment = environment_block(options.environment);
    std::wstring cwd = options.working_dir.empty() ? build_dir().native() : options.working_dir.native();
    PROCESS_INFORMATION process{};
    BOOL started = FALSE;
    // Wine now and then refuses a start under load; a refused start ran nothing, so try again.
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        std::u16string mutable_line = command_line;
        started = ::CreateProcessW(program.c_str(), reinterpret_cast<wchar_t*>(mutable_line.data()), nullptr, nullptr,
                                   TRUE, CREATE_UNICODE_ENVIRONMENT, environment.data(), cwd.c_str(), &startup,
                                   &process);
        if (!started) ::Sleep(200);
    }
    DWORD start_error = ::GetLastError();
    ::CloseHandle(err);
    ::CloseHandle(out);
    ::CloseHandle(in);
    if (!started) {
        std::error_code ignored;
        fs::remove(child.err_path_, ignored);
        fs::remove(child.out_path_, ignored);
        throw std::runtime_error("cannot start " + utf8(program) + ": error " + std::to_string(start_error));
    }
    ::CloseHandle(process.hThread);
    child.process_ = process.hProcess;
    return child;
}

RunResult run(const RunOptions& options) { return start(options).finish(); }

std::u16string verbatim(const fs::path& path) { return u"\\\\?\\" + u16(path); }

fs::path package_file(const wchar_t* name) { return build_dir() / L"packages" / name; }

Layout::Layout(bool with_stand_in) {
    fs::create_directories(staging);
    fs::create_directories(bin);
    fs::copy_file(updater_path(), bin / L"TevraRemoteUpdater.exe");
    if (with_stand_in) fs::copy_file(build_dir() / L"installer_stub.exe", bin / L"msiexec.exe");
}

fs::path Layout::stage(const fs::path& relative) const {
    fs::create_directories((staging / relative).parent_path());
    fs::copy_file(package_file(L"demo.msi"), staging / relative);
    return staging / relative;
}

RunResult Layout::apply(const std::u16string& package, const std::u16string& version,
                        const std::u16string& installer_exit, fs::path cwd) const {
    RunOptions options;
    options.program = bin / L"TevraRemoteUpdater.exe";
    options.command_line =
        u"TevraRemoteUpdater.exe --apply-msi \"" + package + u"\" --expected-version \"" + version + u"\"";
    options.environment = {{u"LOCALAPPDATA", u16(local_app_data)},
                           {u"TEVRA_STUB_RECORD", u16(record)},
                           {u"TEVRA_STUB_EXIT_CODE", installer_exit},
                           {u"TEVRA_STUB_SNAPSHOT", u16(state)}};
    options.working_dir = cwd.empty() ? dir : cwd;
    return run(options);
}

std::optional<StubRecord> Layout::installer_start() const {
    auto records = read_stub_records(record);
    EXPECT_TRUE(records.has_value()) << records.error();
    if (!records || records->empty()) return std::nullopt;
    EXPECT_EQ(records->size(), 1u);
    return records->front();
}

UpdateStateFile Layout::saved_state() const {
    auto bytes = read_file(state);
    EXPECT_TRUE(bytes.has_value());
    auto parsed = state_from_json(bytes.value_or(""));
    EXPECT_TRUE(parsed.has_value());
    return parsed.value_or(UpdateStateFile{});
}

}  // namespace tevra::test
