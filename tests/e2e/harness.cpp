#include "harness.hpp"

#include "version.h"

#include <algorithm>
#include <ctime>
#include <cwchar>
#include <fstream>
#include <stdexcept>

namespace e2e {
namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Handle open(const fs::path& path, DWORD access, DWORD share, DWORD disposition, BOOL inherit = FALSE) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, inherit};
    return Handle(::CreateFileW(path.c_str(), access, share, &attributes, disposition, 0, nullptr));
}

std::wstring environment_block(const Env& changes) {
    std::vector<std::wstring> entries;
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p != L'\0'; p += entries.back().size() + 1) entries.emplace_back(p);
    ::FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : changes) {
        const std::wstring prefix = name + L"=";
        std::erase_if(entries,
                      [&](const auto& entry) { return !_wcsnicmp(entry.c_str(), prefix.c_str(), prefix.size()); });
        if (value) entries.push_back(prefix + *value);
    }
    std::wstring out;
    for (const std::wstring& entry : entries) out += entry + L'\0';
    return out + L'\0';
}

std::wstring expand(std::wstring text, const fs::path& dir) {
    const std::pair<std::wstring, std::wstring> names[] = {
        {L"%U", L"%P\\Updates"}, {L"%P", L"%D\\lad\\Tevra Remote"}, {L"%D", dir}, {L"%B", build_dir()}};
    for (const auto& [name, value] : names)
        for (std::size_t at = 0; (at = text.find(name, at)) != std::wstring::npos; at += value.size())
            text.replace(at, name.size(), value);
    return text;
}

std::string utf8(std::wstring_view text) {
    std::string out(text.size() * 3, '\0');
    out.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), int(out.size()), {}, {}));
    return out;
}

void write_file(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// Runs a Unix program through Wine until `done` holds. Wine does not wait for it, and under load a start may leave no
// trace: poll for the effect, start it again when none comes.
void unix_until(const std::wstring& program, const std::vector<std::wstring>& args, const auto& done) {
    std::wstring line = program, application = L"Z:" + program;
    for (const std::wstring& arg : args) line += L" \"" + (arg.starts_with(L"Z:") ? arg.substr(2) : arg) + L"\"";
    std::ranges::replace(line, L'\\', L'/');
    std::ranges::replace(application, L'/', L'\\');
    for (int attempt = 0; attempt < 10; ++attempt) {
        start(application, line, {}, build_dir()).finish();
        for (int poll = 0; poll < 200; ++poll, ::Sleep(10))
            if (done()) return;
    }
    throw std::runtime_error("no effect of a Unix program");
}

// As root under Wine neither the read-only attribute nor the Unix mode stops a write; the immutable flag does.
void set_immutable(const fs::path& path, bool on) {
    unix_until(L"/usr/bin/chattr", {on ? L"+i" : L"-i", path}, [&] {
        if (!fs::is_directory(path)) return !open(path, GENERIC_WRITE, share_all, OPEN_EXISTING) == on;
        const fs::path probe = path / L"probe";
        ::RemoveDirectoryW(probe.c_str());  // left behind when the flag came between making and removing it
        return !(::CreateDirectoryW(probe.c_str(), nullptr) && ::RemoveDirectoryW(probe.c_str())) == on;
    });
}

}  // namespace

DWORD Child::finish() {
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD exit = 0;
    ::GetExitCodeProcess(process.get(), &exit);
    process.reset();
    return exit;
}

Child start(const fs::path& program, const std::wstring& line, const Env& env, const fs::path& cwd, bool with_stderr) {
    static int count = 0;
    const fs::path captures = build_dir() / L"e2e-work" / L"captures";
    fs::create_directories(captures);
    const std::wstring tag = std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
    Child child{Handle(), captures / (L"err-" + tag), captures / (L"out-" + tag)};
    const Handle handles[] = {open(L"NUL", GENERIC_READ, share_all, OPEN_EXISTING, TRUE),
                              open(child.out, GENERIC_WRITE, share_all, CREATE_ALWAYS, TRUE),
                              open(child.err, GENERIC_WRITE, share_all, CREATE_ALWAYS, TRUE)};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles[0].get();
    startup.hStdOutput = handles[1].get();
    startup.hStdError = with_stderr ? handles[2].get() : INVALID_HANDLE_VALUE;
    std::wstring block = environment_block(env);
    PROCESS_INFORMATION info{};
    // Under load Wine now and then refuses a start; a refused start ran nothing, so it may be tried again.
    for (int attempt = 0; attempt < 5; ++attempt, ::Sleep(200)) {
        std::wstring writable_line = line;
        if (::CreateProcessW(program.c_str(), writable_line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                             block.data(), cwd.c_str(), &startup, &info)) {
            const Handle thread(info.hThread);
            child.process = Handle(info.hProcess);
            return child;
        }
    }
    throw std::runtime_error("cannot start a program");
}

fs::path build_dir() {
    wchar_t path[32768];
    return fs::path(std::wstring(path, ::GetModuleFileNameW(nullptr, path, 32768))).parent_path();
}

fs::path test_dir() {
    static int count = 0;
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    const fs::path dir = build_dir() / L"e2e-work" /
                         (name + "-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++count));
    fs::create_directories(dir);
    return dir;
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

std::uint64_t now_unix() { return std::uint64_t(std::time(nullptr)); }

testing::AssertionResult same_text(const std::optional<std::string>& actual, std::optional<std::string> expected,
                                   std::uint64_t from) {
    if (expected == unchecked) return testing::AssertionSuccess();
    if (const std::size_t at = expected ? expected->find("<version>") : std::string::npos; at != std::string::npos)
        expected->replace(at, 9, TEVRA_PRODUCT_VERSION);
    const std::size_t at = expected ? expected->find("<now>") : std::string::npos;
    if (actual && at <= actual->size()) {  // the digits found there, if they are a stamp of the run
        const std::string digits = actual->substr(at, actual->find_first_not_of("0123456789", at) - at);
        const std::uint64_t stamp = std::strtoull(digits.c_str(), nullptr, 10);
        if (!digits.starts_with('0') && stamp >= from && stamp <= now_unix()) expected->replace(at, 5, digits);
    }
    if (actual == expected) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\n  actual: " << actual.value_or("(absent)")
                                       << "\nexpected: " << expected.value_or("(absent)");
}

void run_rows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path dir = test_dir(), bin = dir / L"bin", product = expand(row.product, dir);
        const fs::path state = product / L"update_state.json";
        fs::create_directories(bin);
        fs::copy_file(build_dir() / L"TevraRemoteUpdater.exe", bin / L"TevraRemoteUpdater.exe");
        fs::copy_file(build_dir() / L"installer_stub.exe", bin / L"msiexec.exe");
        if (row.before) write_file(state, *row.before);
        Env env = {{L"LOCALAPPDATA", dir / L"lad"},
                   {L"TEVRA_STUB_DIR", dir},
                   {L"TEVRA_STUB_STATE", state},
                   {L"TEVRA_STUB_EXIT", row.installer_exit}};
        std::vector<Handle> held;
        std::vector<fs::path> immutable;
        for (const Step& step : row.setup) {
            const fs::path path = expand(step.path, dir);
            const std::wstring arg = expand(step.arg, dir);
            if (step.op == Op::copy || step.op == Op::link) fs::create_directories(path.parent_path());
            switch (step.op) {
                case Op::copy: fs::copy_file(arg, path, fs::copy_options::overwrite_existing); break;
                case Op::text: write_file(path, utf8(arg)); break;
                case Op::dir: fs::create_directories(path); break;
                case Op::remove: fs::remove(path); break;
                case Op::set: env.emplace_back(step.path, arg); break;
                case Op::unset: env.emplace_back(step.path, std::nullopt); break;
                case Op::link:  // Wine's CreateSymbolicLinkW makes nothing
                    unix_until(L"/bin/ln", {L"-s", arg, path},
                               [&] { return ::GetFileAttributesW(path.c_str()) != ~0u; });
                    break;
                case Op::immutable:
                    set_immutable(path, true);
                    immutable.push_back(path);
                    break;
                case Op::hold: held.push_back(open(path, GENERIC_READ, 0, OPEN_ALWAYS)); break;
                case Op::hold_for_writing: held.push_back(open(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS));
            }
        }
        EXPECT_TRUE(std::ranges::all_of(held, [](const Handle& handle) { return !!handle; })) << "a hold step";
        const std::uint64_t from = now_unix();
        Child child = start(bin / L"TevraRemoteUpdater.exe", expand(row.line, dir), env, dir, row.with_stderr);
        EXPECT_EQ(child.finish(), row.exit);
        held.clear();
        for (const fs::path& path : immutable) set_immutable(path, false);

        EXPECT_EQ(read_file(child.err), row.err);
        const std::optional<std::string> installer = read_file(dir / L"installer-command-line");
        EXPECT_EQ(read_file(child.out), installer ? "stand-in on stdout\n" : "");
        EXPECT_EQ(installer.has_value(), !row.installer.empty()) << "whether the installer started";
        if (installer && !row.installer.empty()) {
            const std::wstring line(reinterpret_cast<const wchar_t*>(installer->data()), installer->size() / 2);
            EXPECT_EQ(line, expand(row.installer, dir));
            EXPECT_EQ(read_file(dir / L"installer-saw-state"), row.before) << "saved before the installer ended";
        }
        EXPECT_TRUE(same_text(read_file(state), row.after == same ? row.before : row.after, from));
        EXPECT_TRUE(same_text(read_file(product / L"update_state.json.tmp"), row.tmp, from)) << "temporary file";
        const bool saved = row.after && row.after != same, untouched = !row.before && !row.after && row.setup.empty();
        for (const wchar_t* made : {L"Updates", L"Updates\\Recovery", L"CrashReports"})
            EXPECT_TRUE(!saved || fs::is_directory(product / made)) << utf8(made);
        EXPECT_FALSE(untouched && fs::exists(product)) << "the layout was made";
    }
}

}  // namespace e2e
