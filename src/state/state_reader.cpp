// The state file's reader: the record's schema over the JSON scanner. The text holds the object
// that the writer produces (members in any order, unknown ones skipped) or the array of the seven
// values in field order. Any breach gives one error, never a partial record.
#include "state/json_scanner.hpp"
#include "state/state_codec.hpp"

#include <array>
#include <optional>

namespace tevra {

namespace {

std::optional<Field> field_from_key(std::string_view key) {
    for (const Field field : fields_in_order)
        if (field_key(field) == key) return field;
    return std::nullopt;
}

// The members that the object form must hold; the optional texts may be left out.
constexpr bool is_required(Field field) {
    return field == Field::phase || field == Field::current_version || field == Field::updated_unix;
}

std::string_view time_error(IntegerProblem problem) {
    switch (problem) {
        case IntegerProblem::negative: return "updated_unix must not be negative";
        case IntegerProblem::not_a_number: return "updated_unix must be an integer";
        case IntegerProblem::leading_zero: return "leading zero in number";
        case IntegerProblem::too_large: return "updated_unix is too large";
        case IntegerProblem::not_whole: return "updated_unix must be a whole number without exponent";
    }
    return "invalid number";
}

// The phase name as a string, or an object whose single member has the name as its key and null
// as its value.
bool read_phase(JsonScanner& json, UpdatePhase& phase) {
    const bool object_form = json.at('{');
    if (object_form) {
        json.advance();
        json.skip_whitespace();
    }
    if (!json.at('"')) return json.fail("phase must be a phase name");
    const std::size_t name_at = json.offset();
    std::string name;
    if (!json.read_string(name)) return false;
    const auto named = phase_from_name(name);
    if (!named) return json.fail_at(name_at, "unknown phase");
    if (object_form) {
        if (!json.expect_colon()) return false;
        if (!json.at('n') || !json.expect_literal("null")) return json.fail("phase member value must be null");
        json.skip_whitespace();
        if (!json.expect('}', "phase object must have exactly one member")) return false;
    }
    phase = *named;
    return true;
}

bool read_optional_text(JsonScanner& json, std::optional<std::string>& text) {
    if (json.at('"')) return json.read_string(text.emplace());
    if (json.at('n')) {
        text.reset();
        return json.expect_literal("null");
    }
    return json.fail("expected a string or null");
}

bool read_field(JsonScanner& json, Field field, UpdateStateFile& state) {
    switch (field) {
        case Field::phase: return read_phase(json, state.phase);
        case Field::current_version:
            if (!json.at('"')) return json.fail("current_version must be a string");
            return json.read_string(state.current_version);
        case Field::candidate_version: return read_optional_text(json, state.candidate_version);
        case Field::staged_msi: return read_optional_text(json, state.staged_msi);
        case Field::last_error: return read_optional_text(json, state.last_error);
        case Field::last_accepted_version: return read_optional_text(json, state.last_accepted_version);
        case Field::updated_unix: {
            const auto time = json.read_u64();
            if (!time) return json.fail(time_error(time.error()));
            state.updated_unix = *time;
            return true;
        }
    }
    return json.fail("unknown field");
}

bool read_object_form(JsonScanner& json, UpdateStateFile& state) {
    std::array<bool, field_count> seen{};
    std::string key;
    json.advance();
    json.skip_whitespace();
    if (json.at('}')) {
        json.advance();
    } else {
        for (;;) {
            const std::size_t key_at = json.offset();
            if (!json.read_member_name(key)) return false;
            if (const auto field = field_from_key(key)) {
                bool& repeated = seen[static_cast<std::size_t>(*field)];
                if (repeated) return json.fail_at(key_at, "repeated member");
                repeated = true;
                if (!read_field(json, *field, state)) return false;
            } else if (!json.skip_value()) {
                return false;
            }
            json.skip_whitespace();
            if (json.at(',')) {
                json.advance();
                json.skip_whitespace();
                continue;
            }
            if (!json.expect('}', "expected ',' or '}'")) return false;
            break;
        }
    }
    for (const Field field : fields_in_order)
        if (is_required(field) && !seen[static_cast<std::size_t>(field)])
            return json.fail("missing " + std::string(field_key(field)));
    return true;
}

bool read_array_form(JsonScanner& json, UpdateStateFile& state) {
    json.advance();
    json.skip_whitespace();
    for (const Field field : fields_in_order) {
        if (field != fields_in_order.front()) {
            if (!json.expect(',', "array form must have seven elements")) return false;
            json.skip_whitespace();
        }
        if (!read_field(json, field, state)) return false;
        json.skip_whitespace();
    }
    return json.expect(']', "array form must have seven elements");
}

}  // namespace

std::expected<UpdateStateFile, std::string> state_from_json(std::string_view bytes) {
    JsonScanner json(bytes);
    UpdateStateFile state;
    json.skip_whitespace();
    bool ok = false;
    if (json.at_end())
        ok = json.fail("empty text");
    else if (json.at('{'))
        ok = read_object_form(json, state);
    else if (json.at('['))
        ok = read_array_form(json, state);
    else
        ok = json.fail("expected an object or an array");
    if (ok) {
        json.skip_whitespace();
        if (!json.at_end()) ok = json.fail("unexpected text after the value");
    }
    if (!ok) return std::unexpected(json.take_error());
    return state;
}

}  // namespace tevra
