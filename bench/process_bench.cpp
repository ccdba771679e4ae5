// Whole-process benchmark of the updater, run under Wine (or on Windows).
//
// Starts each program with CreateProcessW, waits for it to end and times the whole with
// QueryPerformanceCounter. All variants run once per round, in an order that rotates from round to
// round, so a change in the machine's load falls on every variant alike. Prints the median of each
// and the ratios the budgets are stated in:
//
//   floor      floor.exe: a program that does nothing, built with the updater's toolchain and flags
//   help       TevraRemoteUpdater.exe --help
//   mark       TevraRemoteUpdater.exe --mark-awaiting-first-start, on an existing state file
//   stand-in   msiexec.exe (the stand-in installer, exits 0 at once) alone, with the installer's arguments
//   apply      TevraRemoteUpdater.exe --apply-msi <unsigned package in Updates> --expected-version 1.2.3,
//              with the stand-in beside it as msiexec.exe
//   trust      trust_probe.exe <package>: the floor plus loading wintrust.dll from the system
//              directory and one WinVerifyTrust, the part of an apply no updater can leave out
//
// Everything it needs lies beside it: floor.exe, trust_probe.exe, installer_stub.exe,
// TevraRemoteUpdater.exe and packages\demo.msi. It works in process-bench\ beside itself: a copy of
// the updater with the stand-in as msiexec.exe, and LOCALAPPDATA for the children pointing into it.
//
//   process_bench.exe [--rounds N] [--warmup N]      (defaults: 41 rounds after 3 warm-up rounds)
//
// Exits 0 when every run worked (whatever the budgets say), 1 when a program failed or was missing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr double mark_budget = 1.2;
constexpr double help_budget = 1.1;
constexpr double apply_budget = 1.2;
constexpr const wchar_t* expected_version = L"1.2.3";

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string narrow(const std::wstring& text) {
    int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring own_directory() {
    std::wstring path(32768, L'\0');
    DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

bool exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void make_directories(const std::wstring& path) {
    for (std::size_t i = path.find_first_of(L"\\/", 3); i != std::wstring::npos; i = path.find_first_of(L"\\/", i + 1))
        ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    ::CreateDirectoryW(path.c_str(), nullptr);
    if (!exists(path)) throw Failure("cannot make the directory " + narrow(path));
}

void copy(const std::wstring& from, const std::wstring& to) {
    if (!::CopyFileW(from.c_str(), to.c_str(), FALSE))
        throw Failure("cannot copy " + narrow(from) + " (error " + std::to_string(::GetLastError()) + ")");
}

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text) c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    return text;
}

// This program's environment with LOCALAPPDATA replaced and the stand-in's controls removed.
std::wstring child_environment(const std::wstring& local_app_data) {
    std::vector<std::wstring> entries;
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p != L'\0'; p += std::wcslen(p) + 1) {
        std::wstring entry = p;
        std::wstring name = upper(entry.substr(0, entry.find(L'=', 1)));
        if (name == L"LOCALAPPDATA" || name.starts_with(L"TEVRA_STUB_")) continue;
        entries.push_back(std::move(entry));
    }
    ::FreeEnvironmentStringsW(block);
    entries.push_back(L"LOCALAPPDATA=" + local_app_data);
    // The system expects the block sorted by name, case-insensitively.
    std::sort(entries.begin(), entries.end(),
              [](const std::wstring& a, const std::wstring& b) { return upper(a) < upper(b); });
    std::wstring out;
    for (const std::wstring& entry : entries) {
        out += entry;
        out += L'\0';
    }
    out += L'\0';
    return out;
}

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

struct Variant {
    const char* name;
    std::wstring application;
    std::wstring command_line;
    std::vector<double> ms;
    bool capture_output = false;  // keep what the child writes to standard output
    std::string output;           // the last run's
};

class Runner {
public:
    explicit Runner(std::wstring environment) : environment_(std::move(environment)) {
        ::QueryPerformanceFrequency(&frequency_);
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        null_ = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
        if (null_ == INVALID_HANDLE_VALUE) throw Failure("cannot open NUL");
    }

    // Milliseconds from just before CreateProcessW to the end of the child. A start that the
    // system refused did not run the child, so it is tried again (Wine refuses one now and then
    // under load); a child that ran is never run again.
    double run(Variant& variant) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = null_;
        startup.hStdOutput = null_;
        startup.hStdError = null_;
        // A pipe holds the little a child writes until it has ended.
        HANDLE pipe_read = nullptr;
        HANDLE pipe_write = nullptr;
        if (variant.capture_output) {
            SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
            if (!::CreatePipe(&pipe_read, &pipe_write, &inherit, 65536)) throw Failure("cannot make a pipe");
            ::SetHandleInformation(pipe_read, HANDLE_FLAG_INHERIT, 0);
            startup.hStdOutput = pipe_write;
        }
        PROCESS_INFORMATION process{};
        for (int attempt = 1;; ++attempt) {
            std::wstring command_line = variant.command_line;
            LARGE_INTEGER start{};
            ::QueryPerformanceCounter(&start);
            if (::CreateProcessW(variant.application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                 CREATE_UNICODE_ENVIRONMENT, environment_.data(), nullptr, &startup, &process)) {
                ::WaitForSingleObject(process.hProcess, INFINITE);
                LARGE_INTEGER end{};
                ::QueryPerformanceCounter(&end);
                DWORD code = 1;
                ::GetExitCodeProcess(process.hProcess, &code);
                ::CloseHandle(process.hProcess);
                ::CloseHandle(process.hThread);
                if (variant.capture_output) {
                    ::CloseHandle(pipe_write);
                    variant.output.clear();
                    char buffer[512];
                    DWORD read = 0;
                    while (::ReadFile(pipe_read, buffer, sizeof buffer, &read, nullptr) && read != 0)
                        variant.output.append(buffer, read);
                    ::CloseHandle(pipe_read);
                }
                if (code != 0)
                    throw Failure(std::string(variant.name) + " ended with exit code " + std::to_string(code));
                return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                       static_cast<double>(frequency_.QuadPart);
            }
            DWORD error = ::GetLastError();
            if (attempt == 10)
                throw Failure(std::string("cannot start ") + variant.name + " (error " + std::to_string(error) + ")");
            ::Sleep(50);
        }
    }

private:
    std::wstring environment_;
    LARGE_INTEGER frequency_{};
    HANDLE null_ = INVALID_HANDLE_VALUE;
};

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    double position = q * static_cast<double>(values.size() - 1);
    auto below = static_cast<std::size_t>(position);
    std::size_t above = std::min(below + 1, values.size() - 1);
    double fraction = position - static_cast<double>(below);
    return values[below] + (values[above] - values[below]) * fraction;
}

double median(const std::vector<double>& values) { return quantile(values, 0.5); }

// The median over the rounds of numerator / denominator within the same round: less sensitive
// than the ratio of medians to a load that changes during the run.
double paired_median(const std::vector<double>& numerator, const std::vector<double>& denominator) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < numerator.size(); ++i) ratios.push_back(numerator[i] / denominator[i]);
    return median(ratios);
}

const char* verdict(double ratio, double budget) { return ratio <= budget ? "PASS" : "MISS"; }

std::string read_text(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read != 0) text.append(buffer, read);
    ::CloseHandle(file);
    return text;
}

int bench(int rounds, int warmup) {
    const std::wstring here = own_directory();
    const std::wstring package_source = here + L"packages\\demo.msi";
    for (const std::wstring& needed : {here + L"floor.exe", here + L"trust_probe.exe", here + L"installer_stub.exe",
                                       here + L"TevraRemoteUpdater.exe", package_source}) {
        if (!exists(needed)) throw Failure("missing " + narrow(needed) + " (scripts/bench.sh builds it)");
    }

    // The updater runs from a folder of its own with the stand-in installer beside it.
    const std::wstring work = here + L"process-bench\\";
    const std::wstring app = work + L"app\\";
    const std::wstring local_app_data = work + L"LocalAppData";
    const std::wstring product = local_app_data + L"\\Tevra Remote\\";
    const std::wstring package =
        product + L"Updates\\" + expected_version + L"\\TevraRemote-" + expected_version + L".msi";
    make_directories(app);
    make_directories(product + L"Updates\\" + expected_version);
    copy(here + L"TevraRemoteUpdater.exe", app + L"TevraRemoteUpdater.exe");
    copy(here + L"installer_stub.exe", app + L"msiexec.exe");
    copy(package_source, package);
    ::DeleteFileW((product + L"update_state.json").c_str());

    const std::wstring updater = app + L"TevraRemoteUpdater.exe";
    const std::wstring stub = app + L"msiexec.exe";
    std::vector<Variant> variants = {
        {"floor", here + L"floor.exe", quoted(here + L"floor.exe"), {}, false, {}},
        {"help", updater, quoted(updater) + L" --help", {}, false, {}},
        {"mark", updater, quoted(updater) + L" --mark-awaiting-first-start", {}, false, {}},
        {"stand-in",
         stub,
         quoted(stub) + L" /i " + quoted(package) + L" /qb REBOOT=ReallySuppress EXPECTEDVERSION=" + expected_version,
         {},
         false,
         {}},
        {"apply",
         updater,
         quoted(updater) + L" --apply-msi " + quoted(package) + L" --expected-version " + expected_version,
         {},
         false,
         {}},
        {"trust", here + L"trust_probe.exe", quoted(here + L"trust_probe.exe") + L" " + quoted(package), {}, true, {}},
    };
    enum { floor_, help, mark, stand_in, apply, trust };

    Runner runner(child_environment(local_app_data));
    // The first mark makes the state file every later run finds.
    runner.run(variants[mark]);
    const std::size_t count = variants.size();
    std::vector<double> load_ms;
    std::vector<double> verify_ms;
    for (int round = 0; round < warmup + rounds; ++round) {
        for (std::size_t k = 0; k < count; ++k) {
            Variant& variant = variants[(static_cast<std::size_t>(round) + k) % count];
            double ms = runner.run(variant);
            if (round < warmup) continue;
            variant.ms.push_back(ms);
            if (variant.capture_output) {
                double load = 0;
                double verify = 0;
                if (std::sscanf(variant.output.c_str(), "load=%lf verify=%lf", &load, &verify) != 2)
                    throw Failure("the trust probe wrote: " + variant.output);
                load_ms.push_back(load);
                verify_ms.push_back(verify);
            }
        }
    }
    std::string state = read_text(product + L"update_state.json");
    if (state.find("\"phase\": \"awaiting_first_start\"") == std::string::npos ||
        state.find("\"current_version\": \"1.2.3\"") == std::string::npos) {
        throw Failure("the state file does not show the applies and marks:\n" + state);
    }

    std::printf("Whole-process cost under %s: %d rounds after %d warm-up rounds, the %d variants alternating\n",
                ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") ? "Wine" : "Windows", rounds,
                warmup, static_cast<int>(count));
    std::printf("\n  %-10s %10s %10s %10s\n", "variant", "median ms", "p25 ms", "p75 ms");
    for (const Variant& v : variants)
        std::printf("  %-10s %10.2f %10.2f %10.2f\n", v.name, median(v.ms), quantile(v.ms, 0.25), quantile(v.ms, 0.75));

    const double floor_ms = median(variants[floor_].ms);
    const double stub_ms = median(variants[stand_in].ms);
    const double trust_ms = median(variants[trust].ms);
    std::vector<double> stub_plus_floor;
    std::vector<double> stub_plus_trust;
    for (int i = 0; i < rounds; ++i) {
        stub_plus_floor.push_back(variants[stand_in].ms[i] + variants[floor_].ms[i]);
        stub_plus_trust.push_back(variants[stand_in].ms[i] + variants[trust].ms[i]);
    }

    const double mark_ratio = median(variants[mark].ms) / floor_ms;
    const double help_ratio = median(variants[help].ms) / floor_ms;
    const double apply_ratio = median(variants[apply].ms) / (stub_ms + floor_ms);
    std::printf("\nBudgets (ratio of medians; in brackets the median of the per-round ratios):\n");
    std::printf("  mark / floor                    %5.2f (%5.2f)  budget <= %.1f  %s\n", mark_ratio,
                paired_median(variants[mark].ms, variants[floor_].ms), mark_budget, verdict(mark_ratio, mark_budget));
    std::printf("  help / floor                    %5.2f (%5.2f)  budget <= %.1f  %s\n", help_ratio,
                paired_median(variants[help].ms, variants[floor_].ms), help_budget, verdict(help_ratio, help_budget));
    std::printf("  apply / (stand-in + floor)      %5.2f (%5.2f)  budget <= %.1f  %s\n", apply_ratio,
                paired_median(variants[apply].ms, stub_plus_floor), apply_budget, verdict(apply_ratio, apply_budget));

    // Any apply starts one program that loads the trust provider and asks it (the probe does no
    // more) and waits for the installer (the stand-in).
    const double reachable = (stub_ms + trust_ms) / (stub_ms + floor_ms);
    std::printf("\nThe apply's trust check (wintrust.dll from the system directory + WinVerifyTrust):\n");
    std::printf("  trust probe / floor             %5.2f (%5.2f)  the check alone costs %.1f ms\n", trust_ms / floor_ms,
                paired_median(variants[trust].ms, variants[floor_].ms), trust_ms - floor_ms);
    std::printf("  inside the probe (medians)      LoadLibraryExW + GetProcAddress %.1f ms, "
                "WinVerifyTrust (verify and close) %.1f ms\n",
                median(load_ms), median(verify_ms));
    std::printf("  lowest reachable apply ratio    %5.2f          (stand-in + trust probe) / (stand-in + floor)%s\n",
                reachable, reachable > apply_budget ? ": over the budget, which no updater can meet here" : "");
    std::printf("  apply / (stand-in + trust probe)%5.2f (%5.2f)  what the updater adds to the unavoidable part\n",
                median(variants[apply].ms) / (stub_ms + trust_ms), paired_median(variants[apply].ms, stub_plus_trust));
    return 0;
}

int parse_count(const wchar_t* text) {
    wchar_t* end = nullptr;
    long value = std::wcstol(text, &end, 10);
    if (end == text || *end != L'\0' || value < 0 || value > 100000) throw Failure("not a count: " + narrow(text));
    return static_cast<int>(value);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        int rounds = 41;
        int warmup = 3;
        for (int i = 1; i < argc; ++i) {
            std::wstring arg = argv[i];
            if (arg == L"--rounds" && i + 1 < argc)
                rounds = parse_count(argv[++i]);
            else if (arg == L"--warmup" && i + 1 < argc)
                warmup = parse_count(argv[++i]);
            else
                throw Failure("usage: process_bench.exe [--rounds N] [--warmup N]");
        }
        if (rounds < 1) throw Failure("at least one round");
        return bench(rounds, warmup);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "process_bench: %s\n", failure.what());
        return 1;
    }
}
