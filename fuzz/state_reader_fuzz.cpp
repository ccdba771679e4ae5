// The state file reader on any bytes: it never crashes, hangs or leaks; every error names a line
// and a column; and every accepted record survives writing and reading back in all three forms
// (object, array, phase as an object), with the second writing giving the same bytes.
#include "common/utf.hpp"
#include "state/state_codec.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Valid UTF-8 is exactly the text that survives a trip through UTF-16 unchanged.
bool is_valid_utf8(const std::string& text) {
    return tevra::utf16_to_utf8(tevra::utf8_to_utf16(text)) == text;
}

// The member values of the written text, in order. The writer puts each member on its own line
// ("  "key": value" with a comma after all but the last) and escapes every line break inside
// strings, so the lines can be taken apart without a JSON parser.
std::vector<std::string_view> written_values(std::string_view text) {
    std::vector<std::string_view> values;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.starts_with("  \"")) continue;
        std::size_t colon = line.find("\": ");
        require(colon != std::string_view::npos, "a member line has a key");
        std::string_view value = line.substr(colon + 3);
        if (value.ends_with(',')) value.remove_suffix(1);
        values.push_back(value);
    }
    return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto record = tevra::state_from_json(bytes);
    if (!record) {
        require(record.error().find(" at line ") != std::string::npos, "an error names its line");
        require(record.error().find(" column ") != std::string::npos, "an error names its column");
        return 0;
    }
    require(tevra::phase_from_name(tevra::phase_name(record->phase)) == record->phase, "a known phase");
    require(is_valid_utf8(record->current_version), "texts are valid UTF-8");
    for (const auto* text : {&record->candidate_version, &record->staged_msi, &record->last_error,
                             &record->last_accepted_version}) {
        require(!*text || is_valid_utf8(**text), "texts are valid UTF-8");
    }

    const auto written = tevra::state_to_json(*record);
    require(written.has_value(), "an accepted record is written");
    const std::string& text = *written;
    const auto again = tevra::state_from_json(text);
    require(again.has_value(), "the written text is read back");
    require(*again == *record, "reading back gives the same record");
    require(tevra::state_to_json(*again) == text, "writing again gives the same bytes");

    const std::vector<std::string_view> values = written_values(text);
    require(values.size() == 7, "seven members written");
    std::string array = "[";
    std::string phase_object = "[{" + std::string(values[0]) + ":null}";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            array += ',';
            phase_object += ',';
            phase_object += values[i];
        }
        array += values[i];
    }
    array += ']';
    phase_object += ']';
    for (const std::string& form : {array, phase_object}) {
        const auto from_form = tevra::state_from_json(form);
        require(from_form.has_value(), "the array forms are read");
        require(*from_form == *record, "the array forms give the same record");
    }
    return 0;
}
