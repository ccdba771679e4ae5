// Runs that overlap or are killed at random moments: whoever reads the state file finds one complete record.
// TEVRA_SOAK=N runs N times as many for a longer soak; the ordinary run leaves it unset.
#include "harness.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

namespace e2e {
namespace {

const int soak = [] {
    wchar_t factor[16] = {};
    return ::GetEnvironmentVariableW(L"TEVRA_SOAK", factor, 16) ? std::max(1, _wtoi(factor)) : 1;
}();
const fs::path updater = build_dir() / L"TevraRemoteUpdater.exe";
const std::wstring mark = L"u --mark-awaiting-first-start";

TEST(Hardening, OverlappingSavesShowOnlyCompleteRecords) {
    const fs::path dir = test_dir(), state = dir / L"Tevra Remote\\update_state.json";
    const Env env{{L"LOCALAPPDATA", dir}};
    const std::string error = "unknown arg: --x";
    const std::string possible[] = {marked(Rec{}), marked(Rec{.error = error}), failed(Rec{}, error)};
    const std::uint64_t from = now_unix();
    std::atomic<bool> done{false};
    int reads = 0;
    std::vector<std::string> torn;
    std::thread reader([&] {
        for (; !done; ::Sleep(1)) {
            const std::optional<std::string> text = read_file(state);
            const auto whole = [&](const std::string& record) { return !!same_text(text, record, from, now_unix()); };
            reads += text.has_value();
            if (text && !std::ranges::any_of(possible, whole) && torn.size() < 3) torn.push_back(*text);
        }
    });
    for (int batch = 0; batch < 6 * soak; ++batch) {
        std::vector<Child> children;
        for (int i = 0; i < 4; ++i) children.push_back(start(updater, i % 2 ? L"u --x" : mark, env, dir));
        for (int i = 0; i < 4; ++i) {
            const Result result = children[i].finish();
            EXPECT_EQ(result.exit, i % 2 ? 1u : 0u);
            EXPECT_EQ(result.err, i % 2 ? error_line(error) : "");
        }
    }
    done = true;
    reader.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, std::vector<std::string>{});
}

TEST(Hardening, KilledRunsLeaveTheOldOrTheNewRecord) {
    const fs::path dir = test_dir(), state = dir / L"Tevra Remote\\update_state.json";
    const Env env{{L"LOCALAPPDATA", dir}};
    Rec now{"healthy", "1.0", "2.0", "C:\\staged.msi", {}, "0.9", "77"};
    write_file(state, now.text());
    const auto began = std::chrono::steady_clock::now();
    start(updater, mark, env, dir).finish();
    now.phase = "awaiting_first_start";
    // Kills fall anywhere in the life of an undisturbed run.
    const auto life = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    std::mt19937 random(20240611);
    std::uniform_int_distribution<DWORD> delay(0, DWORD(life.count()) + 10);
    constexpr UINT killed = 0x7E57;
    for (int run = 0; run < 15 * soak; ++run) {
        Rec next = now;
        next.phase = run % 2 ? "failed" : "awaiting_first_start";
        if (run % 2) next.error = "unknown arg: --killed";
        Child child = start(updater, run % 2 ? L"u --killed" : mark, env, dir);
        ::Sleep(delay(random));
        ::TerminateProcess(child.process, killed);
        const Result result = child.finish();
        const std::optional<std::string> text = read_file(state);
        EXPECT_TRUE(text == now.text() || text == next.text()) << "run " << run << ": " << text.value_or("(absent)");
        if (result.exit != killed) {  // it ended by itself first
            EXPECT_EQ(result.exit, run % 2 ? 1u : 0u);
            EXPECT_EQ(text, next.text()) << "run " << run;
        }
        if (text == next.text()) now = next;
    }
}

}  // namespace
}  // namespace e2e
