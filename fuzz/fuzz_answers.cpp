// Typed answers: every reader must give a value or a clean "unreadable", never
// read past the line or overflow while converting, and whatever it does read
// must be the value a plain reading of the field gives; a step of a series
// read is one that reads back from its own text.
#include "fuzz/fuzz_reference.h"
#include "series/series.h"
#include "window/answer.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace {

using korax::fuzz::require;

// The field as the operator meant it: its first `width` characters, up to a
// comma, without blanks or tabs.
std::string field_of(std::string_view line, int width) {
    line = line.substr(0, static_cast<std::size_t>(width));
    line = line.substr(0, line.find(','));
    std::string out;
    for (char c : line)
        if (c != ' ' && c != '\t') out.push_back(c);
    return out;
}

// An optional sign and at least one digit, within [min, max].
std::optional<long long> reference_integer(std::string_view line, int width, long long min,
                                           long long max) {
    std::string field = field_of(line, width);
    if (field.empty()) return 0;
    const std::size_t digits_from = field[0] == '+' || field[0] == '-' ? 1 : 0;
    if (field.size() == digits_from) return std::nullopt;
    for (std::size_t i = digits_from; i < field.size(); ++i)
        if (field[i] < '0' || field[i] > '9') return std::nullopt;
    // from_chars takes a minus sign but no plus.
    if (field[0] == '+') field.erase(0, 1);
    long long v = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (ec != std::errc{} || end != field.data() + field.size()) return std::nullopt;
    if (v < min || v > max) return std::nullopt;
    return v;
}

void check_integer(std::string_view line, int width, long long min, long long max) {
    const auto mine = korax::read_integer(line, width, min, max);
    const auto reference = reference_integer(line, width, min, max);
    require(mine.has_value() == reference.has_value(), "an integer accepted or refused wrongly");
    if (mine) require(*mine == *reference, "an integer read with the wrong value");
}

void check_real(std::string_view line, int width) {
    const auto mine = korax::read_real(line, width);
    const std::string field = field_of(line, width);
    if (mine) {
        require(std::isfinite(*mine), "a real that is not finite");
        if (!field.empty()) {
            const auto reference = korax::fuzz::c_library_value<double>(field);
            require(korax::fuzz::plain_decimal(field) && reference.has_value(),
                    "a real the C library does not read");
            require(korax::fuzz::same_value(*mine, *reference), "a real read with the wrong value");
        }
    } else if (korax::fuzz::plain_decimal(field)) {
        const auto reference = korax::fuzz::c_library_value<double>(field);
        require(!reference || !std::isfinite(*reference), "a plain real refused");
    }
    // The 32-bit reading is the 64-bit one rounded once, when that stays finite.
    const auto narrow = korax::read_real32(line, width);
    if (narrow) {
        require(mine.has_value() && *narrow == static_cast<float>(*mine),
                "a 32-bit real unlike the rounded 64-bit one");
    } else if (mine) {
        require(!std::isfinite(static_cast<float>(*mine)),
                "a 32-bit real refused although it fits");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    for (int width : {2, 5, 15, 20, 30}) {
        check_integer(line, width, std::numeric_limits<std::int16_t>::min(),
                      std::numeric_limits<std::int16_t>::max());
        check_integer(line, width, std::numeric_limits<std::int32_t>::min(),
                      std::numeric_limits<std::int32_t>::max());
        check_integer(line, width, std::numeric_limits<long long>::min(),
                      std::numeric_limits<long long>::max());
        (void)korax::read_int<std::int16_t>(line, width);
        (void)korax::read_int<std::int32_t>(line, width);
        check_real(line, width);
    }
    for (int n = 0; n <= korax::MAX_QN + 1; ++n)
        if (const auto step = korax::parse_step(line, n)) {
            require(step->n == n, "a step of another count of numbers");
            bool moves = false;
            for (int k = 0; k < 2 * korax::MAX_QN; ++k) {
                const int v = step->fields[static_cast<std::size_t>(k)];
                require(v >= -1 && v <= 1 && (k < 2 * n || v == 0), "a step field out of range");
                moves = moves || v != 0;
            }
            require(moves, "a step that moves nothing");
            require(korax::parse_step(korax::step_text(*step), n) == step,
                    "a step that does not read back from its text");
        }
    bool empty = false;
    for (int count : {1, 2}) {
        const auto reals = korax::read_free_reals(line, count, &empty);
        if (reals) {
            require(reals->count == count, "fewer free reals than asked for");
            for (int i = 0; i < count; ++i)
                require(std::isfinite(reals->values[i]), "a free real that is not finite");
        }
    }
    return 0;
}
