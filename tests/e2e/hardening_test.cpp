// Runs that overlap and are killed at random moments: whoever reads the state file finds one complete record.
// TEVRA_SOAK=N runs N times as many for a longer soak; the ordinary run leaves it unset.
#include "harness.hpp"

#include <algorithm>
#include <atomic>
#include <random>
#include <regex>
#include <thread>

namespace e2e {
namespace {

// From no state file on, marking and failing leave the marked or the failed default record, or the mark after a
// failure, which keeps the error.
const std::string possible[] = {
    marked_default, failed_default,
    std::regex_replace(failed_default, std::regex("\"failed\""), "\"awaiting_first_start\"")};

bool whole(const std::optional<std::string>& text) {
    return std::ranges::any_of(possible, [&](const std::string& record) { return !!same_text(text, record); });
}

TEST(Hardening, OverlappingAndKilledRunsLeaveOnlyCompleteRecords) {
    wchar_t factor[16] = {};
    const int soak = ::GetEnvironmentVariableW(L"TEVRA_SOAK", factor, 16) ? std::max(1, _wtoi(factor)) : 1;
    const fs::path dir = test_dir(), state = dir / L"Tevra Remote\\update_state.json";
    set_variable(L"LOCALAPPDATA", dir);
    std::atomic<bool> done{false};
    std::vector<std::string> torn;
    std::thread reader([&] {
        for (; !done; ::Sleep(1))
            if (const auto text = read_file(state); text && !whole(text) && torn.size() < 3) torn.push_back(*text);
    });
    std::mt19937 random(20240611);
    for (int batch = 0; batch < 8 * soak; ++batch) {
        std::vector<Child> children;
        for (int i = 0; i < 4; ++i)
            children.push_back(start(updater(), i % 2 ? L"u" : L"u --mark-awaiting-first-start", dir));
        ::Sleep(random() % 200);  // anywhere in the life of a run
        ::TerminateProcess(children[random() % 4].process.get(), 0x7E57);
        for (Child& child : children) child.finish();
    }
    done = true;
    reader.join();
    EXPECT_TRUE(whole(read_file(state)));
    EXPECT_EQ(torn, std::vector<std::string>{});
}

}  // namespace
}  // namespace e2e
