// Native microbenchmarks of the portable core: the state reader and writer and the command-line
// splitter, each reporting bytes per second (of CPU time).
//
// BM_ReadOnSmallStack shows that the reader needs no stack that grows with its input: a
// million-deep nesting and 100 MiB skipped members are read on a thread with a 64 KiB stack.
// scripts/bench.sh takes the throughput on the 100 MiB skipped members from the JSON output and
// sets it against the budget.
#include "driver/command_line.hpp"
#include "driver/launch.hpp"
#include "state/state_codec.hpp"

#include <benchmark/benchmark.h>
#include <pthread.h>

#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tevra::state_from_json;
using tevra::state_to_json;

constexpr std::int64_t mib = 1 << 20;

// The three members every record must have, then one member the reader does not know, whose
// value it has to step over.
std::string record_with_unknown_member(std::string_view value) {
    std::string text = "{\n  \"phase\": \"idle\",\n  \"current_version\": \"0.1.1\",\n  \"updated_unix\": 1700000000,\n"
                       "  \"extra\": ";
    text.reserve(text.size() + value.size() + 3);
    text += value;
    text += "\n}";
    return text;
}

// A JSON string of `size` bytes (quotes included) of ordinary text: letters, digits, spaces and
// punctuation, with a two-byte escape every 4 KiB, as a log or a message would hold.
std::string big_string(std::size_t size) {
    static constexpr std::string_view line = "The quick brown fox jumps over the lazy dog; 0123456789 (x=1, y=2). ";
    std::string text = "\"";
    text.reserve(size);
    std::size_t next_escape = 4096;
    while (text.size() + line.size() + 1 <= size) {
        text += line;
        if (text.size() >= next_escape && text.size() + 3 <= size) {
            text += "\\n";
            next_escape += 4096;
        }
    }
    text.append(size - 1 - text.size(), 'x');
    text += '"';
    return text;
}

// A JSON array of `size` bytes or a little more: objects with numbers, literals, strings and a
// nested array, the shape of a structured member.
std::string big_array(std::size_t size) {
    static constexpr std::string_view element =
        "{\"id\": 12345, \"ok\": true, \"ratio\": -0.25e-3, \"tags\": [\"alpha\", \"beta\", null], "
        "\"note\": \"plain text\"}";
    std::string text = "[";
    text.reserve(size + element.size() + 4);
    while (text.size() < size) {
        if (text.size() > 1) text += ", ";
        text += element;
    }
    text += ']';
    return text;
}

// `depth` open arrays, then as many closing ones.
std::string deep_nesting(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// `depth` objects, each the only member's value of the one around it.
std::string deep_objects(std::size_t depth) {
    std::string text;
    text.reserve(depth * 7 + 2);
    for (std::size_t i = 0; i < depth; ++i) text += "{\"a\": ";
    text += "0";
    text.append(depth, '}');
    return text;
}

struct StackCheck {
    const std::string* text;
    bool ok = false;
};

void* read_on_this_thread(void* arg) {
    auto* check = static_cast<StackCheck*>(arg);
    check->ok = state_from_json(*check->text).has_value();
    return nullptr;
}

// Reads `text` on a thread whose whole stack is 64 KiB: a reader whose stack use grew with its
// input would crash here long before a million levels.
bool reads_on_small_stack(const std::string& text) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64 * 1024);
    StackCheck check{&text};
    pthread_t thread;
    if (pthread_create(&thread, &attr, read_on_this_thread, &check) != 0) return false;
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    return check.ok;
}

// Not a speed: runs once and fails when a read does not finish on the small stack (a reader whose
// stack grew with its input would crash the program here).
void BM_ReadOnSmallStack(benchmark::State& state) {
    const std::string texts[] = {
        record_with_unknown_member(deep_nesting(1000000)),
        record_with_unknown_member(deep_objects(1000000)),
        record_with_unknown_member(big_string(100 * mib)),
        record_with_unknown_member(big_array(100 * mib)),
    };
    for (auto _ : state) {
        for (const std::string& text : texts) {
            if (!reads_on_small_stack(text)) {
                state.SkipWithError("a read on a 64 KiB stack failed");
                return;
            }
        }
    }
    state.SetLabel("1e6 nested arrays, 1e6 nested objects, 100 MiB string, 100 MiB array: read on a 64 KiB stack");
}
BENCHMARK(BM_ReadOnSmallStack)->Iterations(1)->Unit(benchmark::kMillisecond);

void read_or_fail(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto record = state_from_json(text);
        if (!record) {
            state.SkipWithError(record.error().c_str());
            return;
        }
        benchmark::DoNotOptimize(record);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

void BM_ReadDefaultRecord(benchmark::State& state) {
    read_or_fail(state, state_to_json(tevra::default_state_at(1700000000)));
}
BENCHMARK(BM_ReadDefaultRecord);

void BM_ReadFullRecord(benchmark::State& state) {
    tevra::UpdateStateFile record = tevra::default_state_at(1700000000);
    record.phase = tevra::UpdatePhase::failed;
    record.candidate_version = "2.0.0";
    record.staged_msi = "C:\\Users\\user\\AppData\\Local\\Tevra Remote\\Updates\\2.0.0\\TevraRemote-2.0.0.msi";
    record.last_error = "Authenticode check failed (Invalid); refusing apply";
    record.last_accepted_version = "1.9.0";
    read_or_fail(state, state_to_json(record));
}
BENCHMARK(BM_ReadFullRecord);

void BM_ReadSkippedString(benchmark::State& state) {
    const std::string text = record_with_unknown_member(big_string(static_cast<std::size_t>(state.range(0))));
    read_or_fail(state, text);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadSkippedString)
    ->RangeMultiplier(4)
    ->Range(mib, 64 * mib)
    ->Arg(100 * mib)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

void BM_ReadSkippedArray(benchmark::State& state) {
    const std::string text = record_with_unknown_member(big_array(static_cast<std::size_t>(state.range(0))));
    read_or_fail(state, text);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadSkippedArray)
    ->RangeMultiplier(4)
    ->Range(mib, 64 * mib)
    ->Arg(100 * mib)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ReadDeepArrays(benchmark::State& state) {
    const std::string text = record_with_unknown_member(deep_nesting(static_cast<std::size_t>(state.range(0))));
    read_or_fail(state, text);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadDeepArrays)
    ->RangeMultiplier(10)
    ->Range(1000, 1000000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ReadDeepObjects(benchmark::State& state) {
    const std::string text = record_with_unknown_member(deep_objects(static_cast<std::size_t>(state.range(0))));
    read_or_fail(state, text);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadDeepObjects)
    ->RangeMultiplier(10)
    ->Range(1000, 1000000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void write(benchmark::State& state, const tevra::UpdateStateFile& record) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string text = state_to_json(record);
        bytes += text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_WriteDefaultRecord(benchmark::State& state) { write(state, tevra::default_state_at(1700000000)); }
BENCHMARK(BM_WriteDefaultRecord);

// Long texts with quotes, backslashes and control characters to escape.
void BM_WriteEscapedRecord(benchmark::State& state) {
    tevra::UpdateStateFile record = tevra::default_state_at(1700000000);
    record.phase = tevra::UpdatePhase::failed;
    record.candidate_version = "2.0.0";
    std::string path;
    for (int i = 0; i < 64; ++i) path += "C:\\Users\\user\\AppData\\Local\\Tevra Remote\\Updates\\\"x\"\t";
    record.staged_msi = path;
    record.last_error = std::string(static_cast<std::size_t>(state.range(0)), 'e');
    write(state, record);
}
BENCHMARK(BM_WriteEscapedRecord)->Arg(64)->Arg(64 * 1024);

void split(benchmark::State& state, const std::u16string& line) {
    for (auto _ : state) {
        auto args = tevra::split_command_line(line);
        benchmark::DoNotOptimize(args);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(line.size() * sizeof(char16_t)));
}

// What the product's application passes for an apply.
void BM_SplitApplyCommandLine(benchmark::State& state) {
    split(state, u"\"C:\\Program Files\\Tevra Remote\\TevraRemoteUpdater.exe\" --apply-msi "
                 u"\"C:\\Users\\user\\AppData\\Local\\Tevra Remote\\Updates\\2.0.0\\TevraRemote-2.0.0.msi\" "
                 u"--expected-version 2.0.0");
}
BENCHMARK(BM_SplitApplyCommandLine);

// The longest command line the system allows, full of quotes, backslash runs and blanks.
void BM_SplitLongCommandLine(benchmark::State& state) {
    std::u16string line = u"\"C:\\Program Files\\Tevra Remote\\TevraRemoteUpdater.exe\"";
    static constexpr std::u16string_view pieces[] = {u" plain",      u" \"quoted arg\"", u" a\\\\\\\"b",
                                                     u" \"x\"\"y\"", u" C:\\dir\\sub\\", u"\t\"tab\\\\\""};
    for (std::size_t i = 0; line.size() < 32000; ++i) line += pieces[i % std::size(pieces)];
    split(state, line);
}
BENCHMARK(BM_SplitLongCommandLine);

}  // namespace

BENCHMARK_MAIN();
