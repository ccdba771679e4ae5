// The state file reader on any bytes: it never crashes, hangs or leaks; every error names a line
// and a column; every accepted record holds a known phase and valid UTF-8, and survives writing and
// reading back, with the second writing giving the same bytes.
#include "require.hpp"
#include "state/state_codec.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// UTF-8 by its definition: the shortest form of a scalar value, none in the surrogate gap, none past U+10FFFF.
bool is_valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&](std::size_t at) { return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u; };
        const unsigned lead = byte(i);
        const std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3 : lead >> 3 == 30 ? 4 : 0;
        if (length == 0) return false;
        std::uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            if (byte(i + k) >> 6 != 2) return false;
            value = value << 6 | (byte(i + k) & 0x3F);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < least[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
        i += length;
    }
    return true;
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
    for (const auto* text :
         {&record->candidate_version, &record->staged_msi, &record->last_error, &record->last_accepted_version})
        require(!*text || is_valid_utf8(**text), "texts are valid UTF-8");

    const std::string written = tevra::state_to_json(*record);
    const auto again = tevra::state_from_json(written);
    require(again.has_value() && *again == *record, "reading back gives the same record");
    require(tevra::state_to_json(*again) == written, "writing again gives the same bytes");
    return 0;
}
