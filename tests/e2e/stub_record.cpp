#include "stub_record.hpp"

#include <charconv>
#include <fstream>
#include <iterator>
#include <string_view>

namespace tevra::test {
namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : rest_(text) {}

    bool at_end() const { return rest_.empty(); }

    bool line(std::string_view expected) {
        if (!rest_.starts_with(expected) || rest_.substr(expected.size()).substr(0, 1) != "\n") return false;
        rest_.remove_prefix(expected.size() + 1);
        return true;
    }

    // "<key> <length>:<bytes>\n"; the key is empty when the next line is not an entry.
    bool entry(std::string& key, std::string& value) {
        std::size_t blank = rest_.find(' ');
        std::size_t colon = rest_.find(':');
        if (blank == std::string_view::npos || colon == std::string_view::npos || colon < blank) return false;
        std::size_t length = 0;
        const char* first = rest_.data() + blank + 1;
        const char* last = rest_.data() + colon;
        auto [end, error] = std::from_chars(first, last, length);
        if (error != std::errc() || end != last || first == last) return false;
        std::string_view bytes = rest_.substr(colon + 1);
        if (bytes.size() < length + 1 || bytes[length] != '\n') return false;
        key = rest_.substr(0, blank);
        value = bytes.substr(0, length);
        rest_.remove_prefix(colon + 1 + length + 1);
        return true;
    }

private:
    std::string_view rest_;
};

std::expected<StubRecord, std::string> read_record(Reader& reader) {
    if (!reader.line("start")) return std::unexpected(std::string("a record must open with \"start\""));
    StubRecord record;
    std::string key;
    std::string value;
    const char* order[] = {"program", "cwd", "command_line"};
    std::string* fields[] = {&record.program, &record.cwd, &record.command_line};
    for (std::size_t i = 0; i < std::size(order); ++i) {
        if (!reader.entry(key, value) || key != order[i]) return std::unexpected("missing " + std::string(order[i]));
        *fields[i] = std::move(value);
    }
    while (!reader.line("end")) {
        if (!reader.entry(key, value)) return std::unexpected(std::string("unfinished record"));
        if (key == "snapshot" && record.args.empty()) {
            record.snapshot = std::move(value);
        } else if (key == "arg") {
            record.args.push_back(std::move(value));
        } else {
            return std::unexpected("unexpected " + key);
        }
    }
    return record;
}

}  // namespace

std::expected<std::vector<StubRecord>, std::string> read_stub_records(const std::filesystem::path& path) {
    std::vector<StubRecord> records;
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) return records;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::unexpected("cannot open " + path.string());
    const std::string text(std::istreambuf_iterator<char>(in), {});
    Reader reader(text);
    while (!reader.at_end()) {
        auto record = read_record(reader);
        if (!record) return std::unexpected(std::move(record.error()));
        records.push_back(std::move(*record));
    }
    return records;
}

}  // namespace tevra::test
