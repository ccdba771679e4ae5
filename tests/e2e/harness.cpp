#include "harness.hpp"

#include "win/unique_handle.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <ranges>
#include <stdexcept>

namespace e2e {
namespace {

using Handle = tevra::win::UniqueKernelHandle;

Handle inheritable(const fs::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return Handle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                disposition, 0, nullptr));
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
        if (value) entries.push_back(name + L"=" + *value);
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

bool writable(const fs::path& path) {
    if (fs::is_directory(path)) {
        const fs::path probe = path / L"probe";
        ::RemoveDirectoryW(probe.c_str());  // left behind when the flag came between making and removing it
        return ::CreateDirectoryW(probe.c_str(), nullptr) && ::RemoveDirectoryW(probe.c_str());
    }
    return !!Handle(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
}

// As root under Wine neither the read-only attribute nor the Unix mode stops a write; the immutable flag does.
void set_immutable(const fs::path& path, bool on) {
    unix_until(L"/usr/bin/chattr", {on ? L"+i" : L"-i", path}, [&] { return writable(path) != on; });
}

// A text as the writer writes it: the quote, the backslash and the bytes below 0x20 escaped, short forms first.
std::string json(const std::optional<std::string>& text) {
    if (!text) return "null";
    std::string out = "\"";
    for (const char c : *text) {
        const std::size_t named = std::string_view("\"\\\b\t\n\f\r").find(c);
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
        out += named != std::string_view::npos        ? std::string{'\\', "\"\\btnfr"[named]}
               : static_cast<unsigned char>(c) < 0x20 ? code
                                                      : std::string(1, c);
    }
    return out + "\"";
}

}  // namespace

Result Child::finish() {
    ::WaitForSingleObject(process, INFINITE);
    Result result;
    ::GetExitCodeProcess(process, &result.exit);
    ::CloseHandle(process);
    result.err = read_file(err).value_or("");
    result.out = read_file(out).value_or("");
    return result;
}

Child start(const fs::path& program, const std::wstring& line, const Env& env, const fs::path& cwd, bool with_stderr) {
    static int count = 0;
    const fs::path captures = build_dir() / L"e2e-work" / L"captures";
    fs::create_directories(captures);
    const std::wstring tag = std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
    Child child{nullptr, captures / (L"err-" + tag), captures / (L"out-" + tag)};
    const Handle handles[] = {inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING),
                              inheritable(child.out, GENERIC_WRITE, CREATE_ALWAYS),
                              inheritable(child.err, GENERIC_WRITE, CREATE_ALWAYS)};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles[0].get();
    startup.hStdOutput = handles[1].get();
    startup.hStdError = with_stderr ? handles[2].get() : INVALID_HANDLE_VALUE;
    std::wstring block = environment_block(env);
    PROCESS_INFORMATION info{};
    BOOL started = FALSE;
    // Under load Wine now and then refuses a start; a refused start ran nothing, so it may be tried again.
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        std::wstring writable_line = line;
        started = ::CreateProcessW(program.c_str(), writable_line.data(), nullptr, nullptr, TRUE,
                                   CREATE_UNICODE_ENVIRONMENT, block.data(), cwd.c_str(), &startup, &info);
        if (!started) ::Sleep(200);
    }
    const DWORD error = ::GetLastError();
    if (!started) throw std::runtime_error("cannot start " + utf8(program.native()) + ": " + std::to_string(error));
    ::CloseHandle(info.hThread);
    child.process = info.hProcess;
    return child;
}

fs::path build_dir() {
    wchar_t path[32768];
    return fs::path(std::wstring(path, ::GetModuleFileNameW(nullptr, path, 32768))).parent_path();
}

fs::path test_dir() {
    static int count = 0;
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir =
        build_dir() / L"e2e-work" /
        (std::string(test->name()) + "-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++count));
    fs::create_directories(dir);
    return dir;
}

std::optional<std::string> read_file(const fs::path& path) {
    const Handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return std::nullopt;
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
}

void write_file(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

std::string utf8(std::wstring_view text) {
    std::string out(text.size() * 3, '\0');
    out.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), int(out.size()), {}, {}));
    return out;
}

std::uint64_t now_unix() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void unix_until(const std::wstring& program, const std::vector<fs::path>& args, const std::function<bool()>& done) {
    std::wstring line = program, application = L"Z:" + program;
    for (std::wstring arg : args) {
        if (arg.starts_with(L"Z:\\")) arg.erase(0, 2);
        std::ranges::replace(arg, L'\\', L'/');
        line += L" \"" + arg + L"\"";
    }
    std::ranges::replace(application, L'/', L'\\');
    for (int attempt = 0; attempt < 10; ++attempt) {
        start(application, line, {}, build_dir()).finish();
        for (int poll = 0; poll < 200; ++poll, ::Sleep(10))
            if (done()) return;
    }
    throw std::runtime_error("no effect of " + utf8(line));
}

std::string Rec::text() const {
    return "{\n  \"phase\": \"" + phase + "\",\n  \"current_version\": " + json(current) +
           ",\n  \"candidate_version\": " + json(candidate) + ",\n  \"staged_msi\": " + json(staged) +
           ",\n  \"last_error\": " + json(error) + ",\n  \"last_accepted_version\": " + json(accepted) +
           ",\n  \"updated_unix\": " + time + "\n}";
}

std::string failed(Rec rec, const std::string& error) {
    rec.phase = "failed";
    rec.error = error;
    return rec.text();
}

std::string marked(Rec rec) {
    rec.phase = "awaiting_first_start";
    return rec.text();
}

testing::AssertionResult same_text(const std::optional<std::string>& actual, std::optional<std::string> expected,
                                   std::uint64_t from, std::uint64_t to) {
    const std::size_t at = expected ? expected->find("<now>") : std::string::npos;
    if (actual && at <= actual->size()) {  // the digits found there, if they are a stamp of the run
        const std::string digits = actual->substr(at, actual->find_first_not_of("0123456789", at) - at);
        const std::uint64_t stamp = std::strtoull(digits.c_str(), nullptr, 10);
        if (!digits.starts_with('0') && stamp >= from && stamp <= to) expected->replace(at, 5, digits);
    }
    if (actual == expected) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\n  actual: " << actual.value_or("(absent)")
                                       << "\nexpected: " << expected.value_or("(absent)");
}

std::string error_line(const std::string& message) { return "updater error: " + message + "\n"; }

Row failure(std::string name, std::wstring line, const std::string& message, std::optional<Rec> before) {
    Row row{.name = std::move(name), .line = std::move(line), .err = error_line(message), .exit = 1};
    if (before) row.before = before->text();
    row.after = failed(before.value_or(Rec{}), message);
    return row;
}

fs::path run_row(const Row& row) {
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
    std::vector<std::function<void()>> undo;
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
                unix_until(L"/bin/ln", {L"-s", arg, path}, [&] { return ::GetFileAttributesW(path.c_str()) != ~0u; });
                break;
            case Op::immutable:
                set_immutable(path, true);
                undo.emplace_back([path] { set_immutable(path, false); });
                break;
            case Op::hold:
            case Op::hold_for_writing:
                const bool writer = step.op == Op::hold_for_writing;
                HANDLE file = ::CreateFileW(path.c_str(), writer ? GENERIC_WRITE : GENERIC_READ,
                                            writer ? FILE_SHARE_READ : 0, nullptr, OPEN_ALWAYS, 0, nullptr);
                EXPECT_NE(file, INVALID_HANDLE_VALUE);
                undo.emplace_back([file] { ::CloseHandle(file); });
        }
    }
    const std::uint64_t from = now_unix();
    const Result result =
        start(bin / L"TevraRemoteUpdater.exe", expand(row.line, dir), env, dir, row.with_stderr).finish();
    const std::uint64_t to = now_unix();
    for (const auto& restore : std::views::reverse(undo)) restore();

    EXPECT_EQ(result.exit, row.exit);
    EXPECT_EQ(result.err, row.err);
    const std::optional<std::string> installer = read_file(dir / L"installer-command-line");
    EXPECT_EQ(result.out, installer ? stand_in_out : "");
    if (installer && !row.installer.empty()) {
        const std::wstring line(reinterpret_cast<const wchar_t*>(installer->data()), installer->size() / 2);
        EXPECT_EQ(line, expand(row.installer, dir));
        EXPECT_EQ(read_file(dir / L"installer-saw-state"), row.before) << "saved before the installer ended";
    }
    EXPECT_EQ(installer.has_value(), !row.installer.empty()) << "whether the installer started";
    EXPECT_TRUE(same_text(read_file(state), row.after == same ? row.before : row.after, from, to));
    EXPECT_TRUE(same_text(read_file(product / L"update_state.json.tmp"), row.tmp, from, to)) << "temporary file";
    const bool saved = row.after && row.after != same, untouched = !row.before && !row.after && row.setup.empty();
    for (const wchar_t* made : {L"Updates", L"Updates\\Recovery", L"CrashReports"})
        EXPECT_TRUE(!saved || fs::is_directory(product / made)) << utf8(made);
    EXPECT_FALSE(untouched && fs::exists(product)) << "the layout was made";
    return dir;
}

void run_rows(const std::vector<Row>& rows) {
    for (const Row& row : rows) run_row(row);
}

}  // namespace e2e
