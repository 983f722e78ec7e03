// Number reading for bend and tempo texts (see bend_numbers.h).
#include "pitchcodec/bend_numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace kelmotra {

namespace {

bool is_blank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Skips blanks and one sign from pos; returns the index after them and
// whether the sign was a minus.
std::size_t skip_blanks_and_sign(std::u16string_view text, std::size_t pos, bool& negative) {
    negative = false;
    while (pos < text.size() && is_blank(text[pos])) ++pos;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    return pos;
}

// For a number that from_chars found out of range: true when its magnitude
// is huge (overflow), false when it is tiny (underflow). Decided from the
// position of the first significant digit and the exponent.
bool overflows(std::string_view number) {
    std::int64_t int_digits = 0, frac_zeros = 0, exponent = 0;
    bool significant = false, after_point = false;
    std::size_t i = 0;
    for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
        char c = number[i];
        if (c == '.') {
            after_point = true;
        } else if (!after_point) {
            if (significant || c != '0') {
                significant = true;
                ++int_digits;
            }
        } else if (!significant) {
            if (c == '0') ++frac_zeros;
            else significant = true;
        }
    }
    if (i < number.size()) {
        ++i;
        bool negative = false;
        if (i < number.size() && (number[i] == '+' || number[i] == '-')) negative = number[i++] == '-';
        for (; i < number.size(); ++i) {
            if (exponent < 1000000000) exponent = exponent * 10 + (number[i] - '0');
        }
        if (negative) exponent = -exponent;
    }
    std::int64_t position = (int_digits > 0 ? int_digits : -frac_zeros) + exponent;
    return position > 0;
}

}  // namespace

TextNumber readlong(std::u16string_view text, std::size_t pos) {
    TextNumber result;
    result.end = pos;
    if (pos >= text.size()) return result;
    bool negative = false;
    std::size_t i = skip_blanks_and_sign(text, pos, negative);
    if (i >= text.size() || !is_digit(text[i])) return result;
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        if (magnitude <= limit) magnitude = magnitude * 10 + (text[i] - u'0');
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) value = std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) value = std::numeric_limits<std::int32_t>::min();
    result.value = value;
    result.end = i;
    return result;
}

TextDouble readdouble(std::u16string_view text, std::size_t pos) {
    TextDouble result;
    result.end = pos;
    if (pos >= text.size()) return result;
    bool negative = false;
    std::size_t start = skip_blanks_and_sign(text, pos, negative);
    // from_chars would take a second sign; a number never has one.
    if (start >= text.size() || text[start] == u'-' || text[start] == u'+') return result;
    std::string narrow;
    for (std::size_t i = start; i < text.size() && text[i] < 0x80; ++i) {
        narrow.push_back(static_cast<char>(text[i]));
    }
    double value = 0;
    const char* first = narrow.data();
    auto [ptr, ec] = std::from_chars(first, first + narrow.size(), value, std::chars_format::general);
    if (ec == std::errc::invalid_argument) return result;
    std::size_t used = static_cast<std::size_t>(ptr - first);
    if (ec == std::errc::result_out_of_range) {
        value = overflows(std::string_view(first, used)) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    result.value = negative ? -value : value;
    result.end = start + used;
    return result;
}

std::int16_t saturate16(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 32767.0) return 32767;
    if (x <= -32768.0) return -32768;
    return static_cast<std::int16_t>(std::trunc(x));
}

}  // namespace kelmotra
