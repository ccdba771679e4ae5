// The command line, the failure path, the mark, where the state lives and how it is saved, run as the real program.
// The rules are the unit tables'; each row here proves a piece of wiring, or what only a real file system shows.
#include "driver/command_line.hpp"
#include "harness.hpp"
#include "platform.hpp"

namespace e2e {
namespace {

const std::wstring mark = L"u --mark-awaiting-first-start", state = L"%P\\update_state.json",
                   tmp = L"%P\\update_state.json.tmp";
const std::string unreadable = "updater error: the command line holds text that is not valid UTF-16\n";
const std::string marked_stored = R"({
  "phase": "awaiting_first_start",
  "current_version": "1.0",
  "candidate_version": "2.4.0",
  "staged_msi": "C:\\old.msi",
  "last_error": "earlier failure",
  "last_accepted_version": "0.9",
  "updated_unix": 1234
})";

// The stored record, followed by blanks up to `size` bytes.
std::string padded(std::size_t size) { return stored + std::string(size - stored.size(), ' '); }

TEST(Driver, CommandLineMarkLocationAndStore) {
    run_rows({
        {"help", L"u --apply-msi -h", {}, stored, 0, std::string(tevra::usage_text)},
        // Text beyond ASCII reaches standard error as UTF-8; the check comes before help.
        {"unknown argument", L"u \"--vérsion 😀\"", {}, {}, 1, "updater error: unknown arg: --vérsion 😀\n", unchecked},
        {"an unpaired surrogate", L"u --help x\xD800", {}, {}, 2, unreadable, std::nullopt},
        {"a longer stale tmp file", mark, {{Op::text, tmp, std::wstring(512, L'x')}}, stored, 0, "", marked_stored},
        // USERPROFILE is %D: the product directory stays where it was.
        {"the profile when LOCALAPPDATA is not set", mark, {{Op::unset, L"LOCALAPPDATA"}}, {}, 0, "", marked_default},
        // Files that can't be read or trusted give the default record; layouts that can't be written leave the state
        // file as it was, and the run's status is its command's own.
        {"not a record", L"u", {}, "[\"downloaded\",\"1.0\"", 1, missing, failed_default},
        {"a directory", L"u", {{Op::dir, state}}, {}, 1, missing, std::nullopt, failed_default},
        // Read up to 16 MiB, far above any record the updater writes; a larger file is never read.
        {"a record padded to 16 MiB", mark, {}, padded(16 << 20), 0, "", marked_stored},
        {"a record padded a byte further", mark, {}, padded((16 << 20) + 1), 0, "", marked_default},
        {"held open without sharing", mark, {{Op::hold, state}}, stored, 0, "", same, marked_default},
        {"read while held for writing", mark, {{Op::hold_for_writing, state}}, stored, 0, "", same, marked_stored},
        {"Updates is a file", mark, {{Op::text, L"%U", L"a file"}}, stored},
        {"tmp file held", L"u", {{Op::text, tmp, L"old"}, {Op::hold, tmp}}, stored, 1, missing, same, "old"},
        {"tmp a hard link to a file elsewhere",
         mark,
         {{Op::text, L"%D\\elsewhere", L"kept"},
          {Op::hard_link, tmp, L"%D\\elsewhere"},
          {Op::expect, L"%D\\elsewhere", L"kept"}},
         stored,
         0,
         "",
         marked_stored},
        // The product's own writer may hold it so for a moment.
        {"held briefly without sharing", mark, {{Op::hold_briefly, state}}, stored, 0, "", marked_stored},
        // A save waits for whatever holds its way for a moment, and nothing that others hold loses a record.
        {"a reader without delete sharing, briefly", mark, {{Op::read_briefly, state}}, stored, 0, "", marked_stored},
        {"tmp another save's, briefly",
         mark,
         {{Op::text, tmp, L"old"}, {Op::hold_briefly, tmp}},
         stored,
         0,
         "",
         marked_stored},
        {"a stale tmp a scanner holds",
         mark,
         {{Op::text, tmp, L"old"}, {Op::hold_sharing_all, tmp}},
         stored,
         0,
         "",
         marked_stored},
        // A relative product directory, in the working directory %D; USERPROFILE is %D too, but not consulted.
        {"LOCALAPPDATA defined but empty",
         mark,
         {{Op::set, L"LOCALAPPDATA", L""},
          {Op::expect, L"%D\\Tevra Remote\\update_state.json", {marked_default.begin(), marked_default.end()}}},
         {},
         0,
         "",
         std::nullopt},
    });
}

// A stale tmp that is a symbolic link: Wine follows it even when asked to open the link itself, so the save leaves it,
// and what it points to, alone, and fails. Windows opens the link itself, and the save removes it.
TEST(Driver, SaveOverATmpLink) {
    const bool wine = expects_wine();
    run_rows({
        {"to the state file",
         mark,
         {{Op::link, tmp, state}},
         stored,
         0,
         "",
         wine ? same : marked_stored,
         wine ? std::optional(stored) : std::nullopt},
        {"to a file elsewhere",
         mark,
         {{Op::text, L"%D\\elsewhere", L"kept"},
          {Op::link, tmp, L"%D\\elsewhere"},
          {Op::expect, L"%D\\elsewhere", L"kept"}},
         stored,
         0,
         "",
         wine ? same : marked_stored,
         wine ? std::optional<std::string>("kept") : std::nullopt},
    });
}

// Replacing a file that a reader holds, even with delete sharing, is refused; Windows then renames with POSIX
// semantics, which Wine lacks: there the save gives up after its wait and leaves its temporary file.
TEST(Driver, SaveOverAReaderSharingEverything) {
    Row row{"a reader sharing everything", mark, {{Op::hold_sharing_all, state}}, stored, 0, "", marked_stored};
    if (expects_wine()) row.after = same, row.tmp = marked_stored;
    run_rows({row});
}

}  // namespace
}  // namespace e2e
