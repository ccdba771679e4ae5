// The state file reader on any bytes: it never crashes, hangs or leaks; every error names a line
// and a column; every accepted record holds a known phase and valid UTF-8, and survives writing and
// reading back, with the second writing giving the same bytes.
#include "common/utf.hpp"
#include "state/state_codec.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Valid UTF-8 is exactly the text that survives a trip through UTF-16 unchanged.
bool is_valid_utf8(const std::string& text) { return tevra::utf16_to_utf8(tevra::utf8_to_utf16(text)) == text; }

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
    for (const auto* text :
         {&record->candidate_version, &record->staged_msi, &record->last_error, &record->last_accepted_version}) {
        require(!*text || is_valid_utf8(**text), "texts are valid UTF-8");
    }

    const auto written = tevra::state_to_json(*record);
    require(written.has_value(), "an accepted record is written");
    const std::string& text = *written;
    const auto again = tevra::state_from_json(text);
    require(again.has_value(), "the written text is read back");
    require(*again == *record, "reading back gives the same record");
    require(tevra::state_to_json(*again) == text, "writing again gives the same bytes");

    return 0;
}
