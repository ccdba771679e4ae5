// Fault and load tests of the real updater: saves from many processes at once, runs killed at
// random moments, hostile and unwritable state layouts, and package paths that try to leave the
// staging directory.
#include "harness.hpp"

#include "common/utf.hpp"
#include "state/state_codec.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tevra::test {
namespace {

std::uint64_t now_unix() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

std::u16string number(int value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

fs::path product_dir(const fs::path& local_app_data) { return local_app_data / L"Tevra Remote"; }
fs::path state_path(const fs::path& local_app_data) { return product_dir(local_app_data) / L"update_state.json"; }
fs::path temporary_path(const fs::path& local_app_data) {
    return product_dir(local_app_data) / L"update_state.json.tmp";
}

// One operation of the updater and how its run must end.
struct Command {
    std::string name;
    std::u16string line;
    std::optional<std::string> failure;  // the printed and recorded text; none for the mark
};

Command mark() { return {"mark", u"TevraRemoteUpdater.exe --mark-awaiting-first-start", std::nullopt}; }

Command failing(const std::u16string& tag) {
    return {"failing command line", u"TevraRemoteUpdater.exe --bogus-" + tag,
            "unknown arg: --bogus-" + utf16_to_utf8_lossy(tag)};
}

// The record that a run of `command` saves after loading `loaded`.
UpdateStateFile after(UpdateStateFile loaded, const Command& command) {
    if (command.failure) {
        loaded.phase = UpdatePhase::failed;
        loaded.last_error = *command.failure;
    } else {
        loaded.phase = UpdatePhase::awaiting_first_start;
    }
    return loaded;
}

RunOptions options_in(const fs::path& local_app_data, const Command& command) {
    RunOptions options;
    options.command_line = command.line;
    options.environment = {{u"LOCALAPPDATA", u16(local_app_data)}};
    options.working_dir = local_app_data;
    return options;
}

// The status and the standard error that the command requires, whatever became of its save.
void expect_status(const RunResult& result, const Command& command, const std::string& context) {
    if (command.failure) {
        EXPECT_EQ(result.exit_code, 1u) << context;
        EXPECT_EQ(result.stderr_bytes, "updater error: " + *command.failure + "\n") << context;
    } else {
        EXPECT_EQ(result.exit_code, 0u) << context;
        EXPECT_EQ(result.stderr_bytes, "") << context;
    }
    EXPECT_EQ(result.stdout_bytes, "") << context;
}

// The file as any other reader sees it: opened with full sharing and read to its end.
struct SharedRead {
    bool opened = false;
    bool read_failed = false;
    std::string bytes;
};

SharedRead read_shared(const fs::path& path) {
    SharedRead result;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return result;
    result.opened = true;
    char chunk[65536];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, chunk, sizeof chunk, &read, nullptr)) {
            result.read_failed = true;
            break;
        }
        if (read == 0) break;
        result.bytes.append(chunk, read);
    }
    ::CloseHandle(file);
    return result;
}

// A complete record: the reader accepts the text, and it is exactly what the writer makes of it.
std::optional<UpdateStateFile> complete_record(std::string_view bytes) {
    auto parsed = state_from_json(bytes);
    if (!parsed || state_to_json(*parsed) != bytes) return std::nullopt;
    return *parsed;
}

// The default record that `command` saves, when `saved` is stamped within [earliest, latest].
void expect_default_record_after(const std::optional<std::string>& saved, const Command& command,
                                 std::uint64_t earliest, std::uint64_t latest, const std::string& context) {
    ASSERT_TRUE(saved.has_value()) << context << ": nothing saved";
    auto record = complete_record(*saved);
    ASSERT_TRUE(record.has_value()) << context << ": not one complete record: " << saved->substr(0, 200);
    EXPECT_GE(record->updated_unix, earliest) << context;
    EXPECT_LE(record->updated_unix, latest) << context;
    EXPECT_EQ(*record, after(default_state_at(record->updated_unix), command)) << context;
}

void write_repeated(const fs::path& path, char byte, std::uint64_t size) {
    fs::create_directories(path.parent_path());
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::string chunk(16 << 20, byte);
    for (std::uint64_t left = size; left > 0;) {
        DWORD part = static_cast<DWORD>(left < chunk.size() ? left : chunk.size());
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file, chunk.data(), part, &written, nullptr) && written == part);
        left -= part;
    }
    ::CloseHandle(file);
}

const UpdateStateFile stored_record{UpdatePhase::healthy, "1.0", "2.0", "C:\\staged.msi", "an older failure", "0.9",
                                    77};

// ----------------------------------------------------------------------------------------------
// Several updater processes save to one product directory at once while this test reads the
// state file over and over: every text it gets is one complete record.

// What a reader thread found; checked on the test's own thread (the test library's checks are not
// thread-safe here).
struct ReaderFindings {
    int reads_with_text = 0;
    int refused_opens = 0;
    int mark_records = 0;
    int failure_records = 0;
    int torn_reads = 0;
    std::vector<std::string> torn;        // texts that were no complete record (the first few)
    std::vector<std::string> unexpected;  // complete records that no run could have saved (the first few)
};

TEST(ConcurrentSaves, ReadersOnlyEverSeeCompleteRecords) {
    constexpr int total_runs = 300;
    constexpr int at_once = 5;
    const fs::path local_app_data = test_dir();
    const fs::path state = state_path(local_app_data);
    auto command_of = [](int run) { return run % 2 == 0 ? mark() : failing(u"run" + number(run)); };
    std::set<std::string> failure_texts;
    for (int run = 0; run < total_runs; ++run) {
        if (auto failure = command_of(run).failure) failure_texts.insert(*failure);
    }
    const std::uint64_t earliest = now_unix();

    // Every record starts from the default one, and each run changes the phase and perhaps the error.
    auto examine = [&](const SharedRead& read, ReaderFindings& found) {
        if (!read.opened) {
            ++found.refused_opens;
            return;
        }
        ++found.reads_with_text;
        auto record = read.read_failed ? std::nullopt : complete_record(read.bytes);
        if (!record) {
            ++found.torn_reads;
            if (found.torn.size() < 3) {
                found.torn.push_back(std::to_string(read.bytes.size()) + " bytes" +
                                     (read.read_failed ? " (the read failed)" : "") + ": " + read.bytes.substr(0, 300));
            }
            return;
        }
        UpdateStateFile base = *record;
        base.phase = UpdatePhase::idle;
        base.last_error.reset();
        base.updated_unix = 0;
        bool possible = base == default_state_at(0) && record->updated_unix >= earliest &&
                        (!record->last_error || failure_texts.contains(*record->last_error)) &&
                        (record->phase == UpdatePhase::awaiting_first_start ||
                         (record->phase == UpdatePhase::failed && record->last_error));
        if (!possible) {
            if (found.unexpected.size() < 3) found.unexpected.push_back(read.bytes);
            return;
        }
        ++(record->phase == UpdatePhase::failed ? found.failure_records : found.mark_records);
    };

    ReaderFindings found;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            examine(read_shared(state), found);
            ::Sleep(1);
        }
    });

    struct Slot {
        Child child;
        int run = -1;
    };
    std::vector<Slot> slots(at_once);
    int started = 0;
    int finished = 0;
    std::vector<std::pair<int, RunResult>> results;
    try {
        while (finished < total_runs) {
            for (Slot& slot : slots) {
                if (slot.run >= 0 && slot.child.has_ended()) {
                    results.emplace_back(slot.run, slot.child.finish());
                    slot.run = -1;
                    ++finished;
                }
                if (slot.run < 0 && started < total_runs) {
                    slot.child = start(options_in(local_app_data, command_of(started)));
                    slot.run = started++;
                }
            }
            ::Sleep(2);
        }
    } catch (...) {
        done = true;
        reader.join();
        throw;
    }
    done = true;
    reader.join();

    for (const auto& [run, result] : results) expect_status(result, command_of(run), "run " + std::to_string(run));
    ReaderFindings last;
    examine(read_shared(state), last);
    EXPECT_EQ(last.reads_with_text, 1) << "no state file at the end";
    for (const ReaderFindings* f : {&found, &last}) {
        EXPECT_EQ(f->torn_reads, 0) << "reads that found no complete record";
        for (const std::string& text : f->torn) ADD_FAILURE() << "a reader found no complete record: " << text;
        for (const std::string& text : f->unexpected) ADD_FAILURE() << "no run saves this record: " << text;
    }
    // The reads saw both operations' effects, so the runs did save.
    EXPECT_GT(found.mark_records, 0);
    EXPECT_GT(found.failure_records, 0);
    std::cout << "[ COUNTS   ] " << total_runs << " runs, " << at_once << " at once; " << found.reads_with_text
              << " reads found text (" << found.mark_records << " after a mark, " << found.failure_records
              << " after a failure), " << found.refused_opens << " opens refused\n";
}

// ----------------------------------------------------------------------------------------------
// Runs ended from outside at a random moment leave the state file as it was, or with the complete
// record of that run; never a part of one.

TEST(KilledRuns, LeaveTheOldOrTheNewCompleteRecord) {
    constexpr int runs = 100;
    constexpr UINT killed = 0x7E57;  // no run of the updater ends with this code by itself
    const fs::path local_app_data = test_dir();
    const fs::path state = state_path(local_app_data);
    const std::uint64_t earliest = now_unix();
    int kept = 0, replaced = 0, ran_to_the_end = 0, killed_while_saving = 0;

    // The save comes last in a run: half of the kills fall anywhere in a run's life, the other
    // half near its end, by the shortest of a few runs that nobody kills.
    // (Measured in a directory of its own: the first kills below start without a state file.)
    const fs::path calibration_dir = test_dir();
    int lifetime_ms = 1000;
    for (int i = 0; i < 3; ++i) {
        Child child = start(options_in(calibration_dir, mark()));
        auto started = std::chrono::steady_clock::now();
        expect_status(child.finish(), mark(), "an undisturbed run");
        auto lifetime =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        lifetime_ms = std::min(lifetime_ms, static_cast<int>(lifetime.count()));
    }
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> anywhere_ms(0, 50);
    std::uniform_int_distribution<int> near_the_end_ms(std::max(0, lifetime_ms - 20), lifetime_ms);

    for (int i = 0; i < runs; ++i) {
        const Command command = i % 2 == 0 ? mark() : failing(u"killed" + number(i));
        const std::string context = "run " + std::to_string(i) + " (" + command.name + ")";
        SharedRead old = read_shared(state);
        bool had_temporary = fs::exists(temporary_path(local_app_data));
        std::optional<UpdateStateFile> old_record = old.opened ? complete_record(old.bytes) : std::nullopt;

        Child child = start(options_in(local_app_data, command));
        ::Sleep(static_cast<DWORD>(i < runs / 2 ? anywhere_ms(random) : near_the_end_ms(random)));
        child.terminate(killed);
        RunResult result = child.finish();
        std::uint64_t latest = now_unix();

        SharedRead now = read_shared(state);
        bool is_old = now.opened == old.opened && now.bytes == old.bytes;
        bool is_new = false;
        if (now.opened) {
            auto record = complete_record(now.bytes);
            ASSERT_TRUE(record.has_value()) << context << ": torn state file of " << now.bytes.size()
                                             << " bytes: " << now.bytes.substr(0, 300);
            if (old_record) {
                is_new = *record == after(*old_record, command);
            } else {
                is_new = record->updated_unix >= earliest && record->updated_unix <= latest &&
                         *record == after(default_state_at(record->updated_unix), command);
            }
        }
        EXPECT_TRUE(is_old || is_new) << context << ": " << now.bytes;

        if (result.exit_code == killed) {
            (is_new && !is_old ? replaced : kept) += 1;
            if (!had_temporary && fs::exists(temporary_path(local_app_data))) ++killed_while_saving;
        } else {
            // It ended before the kill: then it ran completely, and saved.
            expect_status(result, command, context);
            EXPECT_TRUE(is_new) << context;
            ++ran_to_the_end;
        }
    }
    std::cout << "[ COUNTS   ] " << runs << " runs (an undisturbed one took " << lifetime_ms
              << " ms): " << ran_to_the_end << " ended before the kill; killed ones left " << kept << " old and "
              << replaced << " new records; " << killed_while_saving
              << " were killed between writing the temporary file and renaming it\n";
}

// ----------------------------------------------------------------------------------------------
// State files that no reader should trust: the run uses the default record, and its status is
// the command's own.

using Holder = std::shared_ptr<void>;  // keeps something open for the duration of the run

struct Hostile {
    const char* name;
    std::function<Holder(const fs::path& state)> make;
    bool save_lands;  // else the state path keeps what it was, and the temporary file shows the save
};

TEST(HostileStateFile, IsReadAsTheDefaultRecord) {
    const Hostile cases[] = {
        {"a million nested brackets", [](const fs::path& state) {
             write_repeated(state, '[', 1'000'000);
             return Holder();
         }, true},
        {"200 MB of spaces", [](const fs::path& state) {
             write_repeated(state, ' ', 200ull << 20);
             return Holder();
         }, true},
        {"random bytes", [](const fs::path& state) {
             std::mt19937 random(7);
             std::string bytes(1 << 20, '\0');
             for (char& c : bytes) c = static_cast<char>(random());
             write_file(state, bytes);
             return Holder();
         }, true},
        {"the first half of a record", [](const fs::path& state) {
             std::string text = state_to_json(stored_record).value();
             write_file(state, text.substr(0, text.size() / 2));
             return Holder();
         }, true},
        {"a directory", [](const fs::path& state) {
             fs::create_directories(state);
             return Holder();
         }, false},
        {"held open without sharing", [](const fs::path& state) {
             write_file(state, state_to_json(stored_record).value());
             HANDLE file = ::CreateFileW(state.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
             EXPECT_NE(file, INVALID_HANDLE_VALUE);
             return Holder(file, [](void* handle) { ::CloseHandle(handle); });
         }, false},
    };
    for (const Hostile& c : cases) {
        for (const Command& command : {mark(), failing(u"hostile")}) {
            const std::string context = std::string(c.name) + ", " + command.name;
            const fs::path local_app_data = test_dir();
            const fs::path state = state_path(local_app_data);
            Holder holder = c.make(state);
            std::uint64_t earliest = now_unix();
            RunResult result = run(options_in(local_app_data, command));
            std::uint64_t latest = now_unix();
            holder.reset();

            expect_status(result, command, context);
            if (c.save_lands) {
                expect_default_record_after(read_file(state), command, earliest, latest, context);
                EXPECT_FALSE(fs::exists(temporary_path(local_app_data))) << context;
            } else {
                if (fs::is_directory(state)) {
                    EXPECT_TRUE(fs::is_empty(state)) << context;
                } else {
                    EXPECT_EQ(read_file(state), state_to_json(stored_record)) << context;
                }
                // The save got as far as its rename, with the default record.
                expect_default_record_after(read_file(temporary_path(local_app_data)), command, earliest, latest,
                                            context + ", temporary file");
            }
        }
    }
}

// ----------------------------------------------------------------------------------------------
// Layouts the updater can't write to: the save fails without a trace, and the run's status is the
// command's own.

// A path made immutable with chattr (through Wine, as a Unix program), cleared again on
// destruction. As root under Wine neither the read-only attribute nor the Unix mode stops a write.
class Immutable {
public:
    // Nothing when this system can't do it (no chattr, or a file system without the flag).
    static std::unique_ptr<Immutable> make(const fs::path& path) {
        if (!fs::exists(L"Z:\\usr\\bin\\chattr")) return nullptr;
        auto guard = std::unique_ptr<Immutable>(new Immutable(path));
        if (guard->set(L"+i", false)) return guard;
        return nullptr;  // the guard clears whatever came late
    }

    ~Immutable() {
        if (!set(L"-i", true)) ADD_FAILURE() << "still immutable: " << utf8(path_);
    }

    Immutable(const Immutable&) = delete;
    Immutable& operator=(const Immutable&) = delete;

private:
    explicit Immutable(fs::path path) : path_(std::move(path)) {}

    bool writable() const {
        if (fs::is_directory(path_)) {
            fs::path probe = path_ / L"writability-probe";
            // A probe left behind when the flag came between making and removing it goes first.
            ::RemoveDirectoryW(probe.c_str());
            if (!::CreateDirectoryW(probe.c_str(), nullptr)) return false;
            ::RemoveDirectoryW(probe.c_str());
            return true;
        }
        HANDLE file = ::CreateFileW(path_.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        ::CloseHandle(file);
        return true;
    }

    // Wine does not wait for the Unix program, and under load a start now and then leaves no
    // trace: wait for its effect, and start it again when the effect is slow to come.
    bool set(const wchar_t* flag, bool writable_afterwards) const {
        for (int start = 0; start < 10; ++start) {
            run_unix(L"/usr/bin/chattr", {flag, unix_path(path_)});
            for (int poll = 0; poll < 200; ++poll) {
                if (writable() == writable_afterwards) return true;
                ::Sleep(10);
            }
        }
        return false;
    }

    fs::path path_;
};

struct Unwritable {
    const char* name;
    std::function<void(const fs::path& product)> prepare;
    std::optional<std::wstring> immutable;  // relative to the product directory; "." for itself
    std::optional<std::string> temporary;   // the temporary file's bytes afterwards; none: absent
};

TEST(UnwritableLayout, SaveFailsQuietlyAndTheStateFileKeepsItsText) {
    const Unwritable cases[] = {
        {"Updates is a regular file", [](const fs::path& product) {
             write_file(product / L"Updates", "a file where the staging directory belongs");
         }, std::nullopt, std::nullopt},
        {"immutable temporary file", [](const fs::path& product) {
             fs::create_directories(product / L"Updates" / L"Recovery");
             fs::create_directories(product / L"CrashReports");
             write_file(product / L"update_state.json.tmp", "left by an earlier save");
         }, L"update_state.json.tmp", "left by an earlier save"},
        {"immutable product directory", [](const fs::path& product) {
             fs::create_directories(product / L"Updates" / L"Recovery");
             fs::create_directories(product / L"CrashReports");
         }, L".", std::nullopt},
        {"immutable product directory lacking CrashReports", [](const fs::path& product) {
             fs::create_directories(product / L"Updates" / L"Recovery");
         }, L".", std::nullopt},
    };
    for (const Unwritable& c : cases) {
        for (const Command& command : {mark(), failing(u"unwritable")}) {
            const std::string context = std::string(c.name) + ", " + command.name;
            const fs::path local_app_data = test_dir();
            const fs::path product = product_dir(local_app_data);
            const std::string old_text = state_to_json(stored_record).value();
            write_file(state_path(local_app_data), old_text);
            c.prepare(product);
            std::unique_ptr<Immutable> immutable;
            if (c.immutable) {
                immutable = Immutable::make((product / *c.immutable).lexically_normal());
                if (!immutable) {
                    std::cout << "[ SKIPPED  ] " << context << ": chattr +i is not available here\n";
                    continue;
                }
            }
            RunResult result = run(options_in(local_app_data, command));
            immutable.reset();

            expect_status(result, command, context);
            EXPECT_EQ(read_file(state_path(local_app_data)), old_text) << context;
            EXPECT_EQ(read_file(temporary_path(local_app_data)), c.temporary) << context;
        }
    }
}

// ----------------------------------------------------------------------------------------------
// Package paths that try to leave the staging directory, or name a file inside it in an unusual
// form. Each is refused, or names a file that really lies inside the staging directory, and then
// the installer gets that file's canonical path.

struct Escape {
    std::u16string path;
    std::optional<fs::path> inside;  // the file inside the staging directory it may resolve to
};

struct EscapeCase {
    const char* name;
    std::function<Escape(const Layout&)> make;
};

fs::path outside_package(const Layout& s, const fs::path& relative) {
    fs::path file = s.dir / L"outside" / relative;
    fs::create_directories(file.parent_path());
    fs::copy_file(package_file(L"demo.msi"), file);
    return file;
}

std::u16string drive_relative(const fs::path& path) { return u16(path).substr(2); }  // without "Z:"

// The refusals an apply can give for a path it does not accept.
bool is_refusal_text(const std::string& text) {
    return text == "msi not found" || text == "msi outside update staging" ||
           text == "Authenticode check failed (Invalid); refusing apply" ||
           (text.ends_with(")") && text.find(" (os error ") != std::string::npos);
}

TEST(StagingEscapes, AreRefusedOrResolveInsideUpdates) {
    const EscapeCase cases[] = {
        {"directory link in Updates to a directory outside", [](const Layout& s) {
             fs::path outside = outside_package(s, L"pkg.msi");
             make_symlink(outside.parent_path(), s.staging / L"out");
             return Escape{u16(s.staging / L"out" / L"pkg.msi"), std::nullopt};
         }},
        {"directory link in Updates to the product directory", [](const Layout& s) {
             fs::copy_file(package_file(L"demo.msi"), s.product / L"pkg.msi");
             make_symlink(s.product, s.staging / L"up");
             return Escape{u16(s.staging / L"up" / L"pkg.msi"), std::nullopt};
         }},
        {"directory link in Updates to the root", [](const Layout& s) {
             fs::path outside = outside_package(s, L"pkg.msi");
             make_symlink(L"Z:\\", s.staging / L"root");
             return Escape{u16(s.staging / L"root") + drive_relative(outside), std::nullopt};
         }},
        {"directory link outside to a directory in Updates", [](const Layout& s) {
             fs::path inside = s.stage(L"sub\\pkg.msi");
             make_symlink(inside.parent_path(), s.dir / L"into");
             return Escape{u16(s.dir / L"into" / L"pkg.msi"), inside};
         }},
        {"links leaving Updates and coming back", [](const Layout& s) {
             fs::path inside = s.stage(L"sub\\pkg.msi");
             make_symlink(inside, s.dir / L"hop.msi");
             make_symlink(s.dir / L"hop.msi", s.staging / L"hop.msi");
             return Escape{u16(s.staging / L"hop.msi"), inside};
         }},
        {"dot-dot after a directory link", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             fs::path outside = outside_package(s, L"deeper\\pkg.msi");
             outside_package(s, L"pkg.msi");
             make_symlink(outside.parent_path(), s.staging / L"out");
             return Escape{u16(s.staging / L"out") + u"\\..\\pkg.msi", inside};
         }},
        {"dot-dot out of Updates and back in", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u16(s.staging) + u"\\..\\..\\Tevra Remote\\Updates\\pkg.msi", inside};
         }},
        {"dot-dot above the root", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u"Z:\\..\\..\\.." + drive_relative(inside), inside};
         }},
        {"verbatim path stepping out with dot-dot", [](const Layout& s) {
             fs::copy_file(package_file(L"demo.msi"), s.product / L"pkg.msi");
             return Escape{verbatim(s.staging) + u"\\..\\pkg.msi", std::nullopt};
         }},
        {"verbatim path with dot-dot staying inside", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             fs::create_directories(s.staging / L"sub");
             return Escape{verbatim(s.staging) + u"\\sub\\..\\pkg.msi", inside};
         }},
        {"alternate data stream", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u16(inside) + u":stream", inside};
         }},
        {"unnamed data stream", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u16(inside) + u"::$DATA", inside};
         }},
        {"stream of a file outside", [](const Layout& s) {
             fs::path outside = outside_package(s, L"pkg.msi");
             return Escape{u16(outside) + u"::$DATA", std::nullopt};
         }},
        {"device form inside", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u"\\\\.\\" + u16(inside), inside};
         }},
        {"device form outside", [](const Layout& s) {
             return Escape{u"\\\\.\\" + u16(outside_package(s, L"pkg.msi")), std::nullopt};
         }},
        {"device form stepping out with dot-dot", [](const Layout& s) {
             fs::copy_file(package_file(L"demo.msi"), s.product / L"pkg.msi");
             return Escape{u"\\\\.\\" + u16(s.staging) + u"\\..\\pkg.msi", std::nullopt};
         }},
        {"global root with the DOS devices", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u"\\\\?\\GLOBALROOT\\??\\" + u16(inside), inside};
         }},
        {"global root with DosDevices", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u"\\\\?\\GLOBALROOT\\DosDevices\\" + u16(inside), inside};
         }},
        {"global root outside", [](const Layout& s) {
             return Escape{u"\\\\?\\GLOBALROOT\\??\\" + u16(outside_package(s, L"pkg.msi")), std::nullopt};
         }},
        {"network path to this machine", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u"\\\\localhost\\Z$" + drive_relative(inside), inside};
         }},
        {"verbatim network path to this machine", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u"\\\\?\\UNC\\localhost\\Z$" + drive_relative(inside), inside};
         }},
        {"device name in Updates", [](const Layout& s) { return Escape{u16(s.staging / L"NUL"), std::nullopt}; }},
        {"console device name with an extension", [](const Layout& s) {
             return Escape{u16(s.staging / L"CON.msi"), std::nullopt};
         }},
        {"trailing dots and blanks on the file name", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u16(inside) + u". .", inside};
         }},
        {"trailing dot on the staging directory's name", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             return Escape{u16(s.product) + u"\\Updates.\\pkg.msi", inside};
         }},
        {"hard link in Updates to a file outside", [](const Layout& s) {
             fs::path outside = outside_package(s, L"pkg.msi");
             fs::path link = s.staging / L"hard.msi";
             EXPECT_TRUE(::CreateHardLinkW(link.c_str(), outside.c_str(), nullptr)) << ::GetLastError();
             return Escape{u16(link), link};
         }},
        {"hard link outside to a file in Updates", [](const Layout& s) {
             fs::path inside = s.stage(L"pkg.msi");
             fs::path link = s.dir / L"hard.msi";
             EXPECT_TRUE(::CreateHardLinkW(link.c_str(), inside.c_str(), nullptr)) << ::GetLastError();
             return Escape{u16(link), inside};
         }},
        {"short names", [](const Layout& s) {
             fs::path inside = s.stage(L"a long directory name\\a long package name.msi");
             wchar_t short_form[MAX_PATH];
             DWORD length = ::GetShortPathNameW(inside.c_str(), short_form, MAX_PATH);
             EXPECT_GT(length, 0u);
             EXPECT_LT(length, DWORD{MAX_PATH});
             std::wstring path(short_form, length < MAX_PATH ? length : 0);
             std::cout << "[ SHORT    ] " << utf8(fs::path(path)) << "\n";
             return Escape{u16(fs::path(path)), inside};
         }},
    };
    for (const EscapeCase& c : cases) {
        Layout setup;
        write_file(setup.state, state_to_json(stored_record).value());
        Escape escape = c.make(setup);
        RunResult result = setup.apply(escape.path);
        std::optional<StubRecord> installer = setup.installer_start();
        UpdateStateFile state = setup.saved_state();
        EXPECT_EQ(result.stdout_bytes, "") << c.name;

        if (result.exit_code == 0 && installer) {
            // Accepted: only a file inside the staging directory, under its canonical path.
            std::cout << "[ OUTCOME  ] " << c.name << ": accepted, installer got "
                      << (installer->args.size() > 2 ? installer->args[2] : std::string("?")) << "\n";
            ASSERT_TRUE(escape.inside.has_value()) << c.name << ": accepted a file outside the staging directory";
            ASSERT_EQ(installer->args.size(), 6u) << c.name;
            EXPECT_EQ(installer->args[2], utf8(fs::path(verbatim(*escape.inside)))) << c.name;
            EXPECT_EQ(result.stderr_bytes, "") << c.name;
            EXPECT_EQ(state.phase, UpdatePhase::awaiting_first_start) << c.name;
            EXPECT_EQ(state.last_error, std::nullopt) << c.name;
        } else {
            // Refused: one line, recorded, and no installer.
            std::string text = result.stderr_bytes;
            std::cout << "[ OUTCOME  ] " << c.name << ": refused, exit " << result.exit_code << ", " << text;
            EXPECT_EQ(result.exit_code, 1u) << c.name;
            EXPECT_FALSE(installer.has_value()) << c.name << ": the installer ran";
            ASSERT_TRUE(text.starts_with("updater error: ") && text.ends_with("\n")) << c.name << ": " << text;
            text = text.substr(15, text.size() - 16);
            EXPECT_EQ(text.find('\n'), std::string::npos) << c.name;
            EXPECT_TRUE(is_refusal_text(text)) << c.name << ": " << text;
            UpdateStateFile expected = stored_record;
            expected.phase = UpdatePhase::failed;
            expected.last_error = text;
            EXPECT_EQ(state, expected) << c.name;
        }
    }
}

}  // namespace
}  // namespace tevra::test
