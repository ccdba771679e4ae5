// Entry point: split the command line, answer help, run one operation, set the exit status.
#include "common/utf.hpp"
#include "driver/apply.hpp"
#include "driver/command_line.hpp"
#include "state/state_store.hpp"
#include "win/system.hpp"

#include <windows.h>

#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace tevra {
namespace {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
// The command line could not be read as text; nothing was recorded.
constexpr int exit_unreadable_command_line = 2;

// A console with a non-UTF-8 code page gets UTF-16; anything else gets the UTF-8 bytes.
// Without a usable handle the text is dropped, and a failed write changes nothing either.
void write_stderr(std::string_view text) {
    HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode) && ::GetConsoleOutputCP() != CP_UTF8) {
        std::u16string wide = utf8_to_utf16(text);
        std::u16string_view rest = wide;
        while (!rest.empty()) {
            DWORD written = 0;
            const DWORD chunk = rest.size() > 8192 ? 8192 : static_cast<DWORD>(rest.size());
            if (!::WriteConsoleW(handle, rest.data(), chunk, &written, nullptr) || written == 0) return;
            rest.remove_prefix(written);
        }
        return;
    }
    (void)win::write_all(handle, text);
}

// Loads afresh: what the failed operation saved (an installer's exit code, say) is the starting point.
int report_failure(const ProductLayout& layout, const std::string& message) {
    write_stderr("updater error: " + message + "\n");
    UpdateStateFile state = load_state(layout);
    state.phase = UpdatePhase::failed;
    state.last_error = message;
    (void)save_state(layout, state);
    return exit_failure;
}

void mark_awaiting_first_start(const ProductLayout& layout) {
    UpdateStateFile state = load_state(layout);
    state.phase = UpdatePhase::awaiting_first_start;
    (void)save_state(layout, state);
}

std::vector<std::u16string> command_line_arguments() {
    const wchar_t* line = ::GetCommandLineW();
    if (line != nullptr && *line != L'\0') return split_command_line(win::u16(line));
    return {win::program_file_path().value_or(std::u16string())};
}

int run() {
    std::vector<std::string> args;
    for (const std::u16string& wide_arg : command_line_arguments()) {
        auto arg = utf16_to_utf8(wide_arg);
        if (!arg) {
            write_stderr("updater error: the command line holds text that is not valid UTF-16\n");
            return exit_unreadable_command_line;
        }
        args.push_back(std::move(*arg));
    }
    if (asks_for_help(args)) {
        write_stderr(usage_text);
        return exit_success;
    }
    const ProductLayout layout = current_product_layout();
    auto command = scan_options(args);
    if (!command) return report_failure(layout, command.error());
    if (std::holds_alternative<MarkAwaitingFirstStart>(*command)) {
        mark_awaiting_first_start(layout);
        return exit_success;
    }
    const auto& request = std::get<ApplyRequest>(*command);
    if (auto applied = apply_msi(layout, request.msi_path, request.expected_version); !applied)
        return report_failure(layout, applied.error());
    return exit_success;
}

}  // namespace
}  // namespace tevra

int wmain(int /*argc*/, wchar_t** /*argv*/) {
    // Before anything can load a DLL on demand (the trust provider loads its helpers by name): only the
    // system directory is searched, never the program's own folder or the working directory.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    try {
        return tevra::run();
    } catch (const std::bad_alloc&) {
        // The one place that handles running out of memory, wherever it happens: nothing sensible is left to record.
        return 1;
    }
}

// The toolchain's default terminate handler demangles and prints the active exception's type, which
// links a demangler and a printf engine into the program (about a third of its size). The updater
// never lets an exception escape, so terminating quietly is all it needs.
#if defined(__GLIBCXX__)
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }  // NOLINT(bugprone-reserved-identifier)
}  // namespace __gnu_cxx
#endif
