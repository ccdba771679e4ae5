// What the installer stub writes down about each of its starts, and the reader of that file.
//
// The stub appends one record per start to the file named by TEVRA_STUB_RECORD:
//   "start\n", then entries "<key> <byte length>:<UTF-8 bytes>\n", then "end\n".
// Keys, in this order: "program" (its own program file), "cwd" (its current directory),
// "command_line" (GetCommandLineW, raw), "snapshot" (the bytes of the file named by
// TEVRA_STUB_SNAPSHOT, when it exists), then one "arg" per element of CommandLineToArgvW,
// argument 0 included. A record without "end" means the stub did not finish writing it.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tevra::test {

struct StubRecord {
    std::string program;
    std::string cwd;
    std::string command_line;
    std::optional<std::string> snapshot;
    std::vector<std::string> args;  // as CommandLineToArgvW splits the command line, argument 0 included
};

// Every start recorded in the file, oldest first; none when the file does not exist.
// A malformed or unfinished file gives a failure text.
std::expected<std::vector<StubRecord>, std::string> read_stub_records(const std::filesystem::path& path);

}  // namespace tevra::test
