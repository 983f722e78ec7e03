#include "driver/args.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cwctype>

#include "audio/det_math.h"
#include "pitchcodec/bend_layers.h"

namespace kelmotra {

namespace {

bool is_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool is_blank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f';
}

// Argument i of the command line, or nothing when the command line is shorter.
const CmdArg* arg_at(const std::vector<CmdArg>& argv, std::size_t i) {
    return i < argv.size() ? &argv[i] : nullptr;
}

std::u16string to_u16(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        auto u = static_cast<std::uint32_t>(c);
        if (u < 0x10000u) {
            out.push_back(static_cast<char16_t>(u));
        } else if (u <= 0x10FFFFu) {
            u -= 0x10000u;
            out.push_back(static_cast<char16_t>(0xD800u + (u >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00u + (u & 0x3FFu)));
        } else {
            out.push_back(u'\uFFFD');
        }
    }
    return out;
}

// Roughly the decimal exponent of a number written as [-]digits[.digits][e[+-]digits]:
// positive when its size is 10 or more, 0 or less when it is below 1. Only
// its sign is used, to tell an overflow from an underflow.
std::int64_t decimal_magnitude(const std::string& ascii) {
    std::size_t i = 0;
    if (i < ascii.size() && ascii[i] == '-') ++i;
    std::int64_t mag = 0;
    bool seen_nonzero = false;
    bool after_point = false;
    for (; i < ascii.size() && ascii[i] != 'e'; ++i) {
        const char c = ascii[i];
        if (c == '.') {
            after_point = true;
        } else if (!after_point) {
            if (seen_nonzero || c != '0') {
                if (seen_nonzero) ++mag;
                seen_nonzero = true;
            }
        } else if (!seen_nonzero) {
            --mag;
            if (c != '0') seen_nonzero = true;
        }
    }
    if (!seen_nonzero) return 0;
    if (i < ascii.size()) {
        ++i;
        bool negative = false;
        if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) negative = ascii[i++] == '-';
        std::int64_t e = 0;
        for (; i < ascii.size(); ++i) {
            if (e < (std::int64_t{1} << 40)) e = e * 10 + (ascii[i] - '0');
        }
        mag += negative ? -e : e;
    }
    return mag;
}

// The text after the first "/" of an argument, when there is one.
std::size_t slash_at(std::wstring_view text) { return text.find(L'/'); }

}  // namespace

double parse_number(std::wstring_view text, wchar_t alt_sep, std::size_t* end) {
    if (end) *end = 0;
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    std::string ascii;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        if (text[i] == L'-') ascii.push_back('-');
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && is_digit(text[i])) {
        ascii.push_back(static_cast<char>(text[i++]));
        ++digits;
    }
    if (i < text.size() && (text[i] == L'.' || (alt_sep != 0 && text[i] == alt_sep))) {
        std::size_t j = i + 1;
        std::size_t frac = 0;
        std::string tail = ".";
        while (j < text.size() && is_digit(text[j])) {
            tail.push_back(static_cast<char>(text[j++]));
            ++frac;
        }
        if (digits + frac > 0) {
            ascii += tail;
            digits += frac;
            i = j;
        }
    }
    if (digits == 0) return 0.0;
    // Exponent, only when at least one digit follows.
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
        std::size_t j = i + 1;
        std::string tail = "e";
        if (j < text.size() && (text[j] == L'+' || text[j] == L'-')) tail.push_back(static_cast<char>(text[j++]));
        std::size_t exp_digits = 0;
        while (j < text.size() && is_digit(text[j])) {
            tail.push_back(static_cast<char>(text[j++]));
            ++exp_digits;
        }
        if (exp_digits > 0) {
            ascii += tail;
            i = j;
        }
    }
    if (end) *end = i;
    double value = 0.0;
    auto res = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: the largest finite value of the
        // same sign, or zero.
        const bool negative = !ascii.empty() && ascii[0] == '-';
        value = decimal_magnitude(ascii) > 0 ? (negative ? -DBL_MAX : DBL_MAX) : 0.0;
    } else if (res.ec != std::errc()) {
        value = 0.0;
    }
    if (!std::isfinite(value)) value = 0.0;
    return value;
}

std::int32_t parse_int(std::wstring_view text, std::size_t* end) {
    if (end) *end = 0;
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    std::int64_t v = 0;
    std::size_t digits = 0;
    while (i < text.size() && is_digit(text[i])) {
        if (v < 0x80000000LL) v = v * 10 + (text[i] - L'0');
        ++i;
        ++digits;
    }
    if (digits == 0) return 0;
    if (end) *end = i;
    if (negative) v = -v;
    if (v > 0x7FFFFFFFLL) v = 0x7FFFFFFFLL;
    if (v < -0x80000000LL) v = -0x80000000LL;
    return static_cast<std::int32_t>(v);
}

double flag_value(std::wstring_view flags, wchar_t letter, wchar_t alt_sep) {
    const std::size_t at = flags.find(letter);
    if (at == std::wstring_view::npos) return 0.0;
    return parse_number(flags.substr(at + 1), alt_sep);
}

double note_to_hz(std::wstring_view text) {
    if (text.empty()) return 0.0;
    static constexpr int kSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    wchar_t letter = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(text[0])));
    if (letter < L'A' || letter > L'G') return 0.0;
    double note = kSemitone[letter - L'A'];
    std::size_t i = 1;
    if (i < text.size() && text[i] == L'#') {
        note += 1;
        ++i;
    } else if (i < text.size() && text[i] == L'b') {
        note -= 1;
        ++i;
    }
    std::size_t used = 0;
    const std::int32_t octave = parse_int(text.substr(i), &used);
    i += used;
    note += 12.0 * octave + 12.0;
    double cents = 0.0;
    if (i < text.size()) cents = parse_int(text.substr(i));
    double n = note + cents * 0.01;
    // Single precision as the conversion is defined; absurd octaves are held
    // inside the float range first.
    if (n > 1e30) n = 1e30;
    if (n < -1e30) n = -1e30;
    const float x = static_cast<float>(n) - 69.0f;
    return det_pow(2.0, static_cast<double>(x) * 0.0833333333333333) * 440.0;
}

double velocity_factor(double v) { return det_pow(2.0, v * 0.01 - 1.0); }

std::int32_t bend_step_for_tempo(double tempo) {
    if (tempo < 1.0) return 256;
    return static_cast<std::int32_t>(0.625 / tempo * 44100.0 + 0.5);
}

double tempo_from_text(std::wstring_view text, wchar_t alt_sep) {
    if (text.size() < 2) return 0.0;
    const double written = parse_number(text.substr(1), alt_sep);
    if (written >= kMinDecimalTempo && written <= kMaxDecimalTempo) return written;
    double t = std::trunc(written);
    if (t > 2147483647.0) t = 2147483647.0;
    if (t < -2147483648.0) t = -2147483648.0;
    return static_cast<std::int16_t>(static_cast<std::int32_t>(t));
}

void parse_early_args(const std::vector<CmdArg>& argv, ResamplerArgs& args) {
    if (auto a = arg_at(argv, 10)) args.volume = parse_number(a->text, 0) * 0.01;
    if (auto a = arg_at(argv, 11)) args.modulation = parse_number(a->text, 0) * 0.01;
    if (auto a = arg_at(argv, 7)) {
        const double ms = parse_number(a->text, 0);
        if (ms < 0.0 || ms > kMaxLengthMs) {
            args.length_out_of_range = true;
            args.outlen = 0;
        } else {
            args.outlen = static_cast<std::int32_t>(std::ceil(ms * 44.1));
        }
    }
    if (auto a = arg_at(argv, 6)) args.offset_ms = parse_number(a->text, 0);
    if (auto a = arg_at(argv, 9)) args.cutoff_ms = parse_number(a->text, 0);
}

void parse_late_args(const std::vector<CmdArg>& argv, wchar_t alt_sep, std::FILE* msg,
                     ResamplerArgs& args) {
    if (auto a = arg_at(argv, 1)) args.in_path = a->raw;
    if (auto a = arg_at(argv, 2)) {
        args.out_path = a->raw;
        if (a->raw == path_from_ascii("-")) {
            args.to_stdout = true;
            args.verbose = false;
        }
    }
    if (auto a = arg_at(argv, 3)) {
        const std::wstring& t = a->text;
        if (!t.empty() && t[0] >= L'A' && t[0] <= L'G')
            args.pitch = note_to_hz(t);
        else
            args.pitch = parse_number(t, alt_sep);
    }
    if (auto a = arg_at(argv, 4)) {
        const std::wstring& t = a->text;
        args.vel1 = velocity_factor(parse_number(t, alt_sep));
        const std::size_t slash = slash_at(t);
        args.vel2 = slash != std::wstring::npos
                        ? velocity_factor(parse_number(std::wstring_view(t).substr(slash + 1), alt_sep))
                        : args.vel1;
    }
    if (auto a = arg_at(argv, 5)) {
        const std::wstring_view flags = a->text;
        auto has = [&](wchar_t c) { return flags.find(c) != std::wstring_view::npos; };
        args.formant = det_pow(10.0, flag_value(flags, L'g', alt_sep) * 0.005);
        if (has(L'N')) args.no_envelope = true;
        args.breath = std::clamp(flag_value(flags, L'B', alt_sep), 0.0, 100.0);
        if (has(L'P')) args.peak_exp = flag_value(flags, L'P', alt_sep) * 0.01;
        if (has(L'i')) args.fix2_ms = flag_value(flags, L'i', alt_sep) * 0.01;
        if (has(L'v')) args.vel2 = velocity_factor(flag_value(flags, L'v', alt_sep));
        if (has(L'G')) args.reanalyse = true;
        if (has(L't')) {
            const double t = flag_value(flags, L't', alt_sep);
            if (t >= kMinTransposeCents && t < kEndTransposeCents) args.pitch = args.pitch * det_pow(2.0, t / 1200.0);
        }
        if (has(L'n')) args.verbose = false;
    }
    if (auto a = arg_at(argv, 8)) {
        const std::wstring& t = a->text;
        const std::size_t slash = slash_at(t);
        if (slash != std::wstring::npos)
            args.fix2_ms = parse_number(std::wstring_view(t).substr(slash + 1), alt_sep);
        args.fix1_ms = parse_number(t, alt_sep);
    }
    if (args.volume < 0.0) args.volume = 0.0;
    if (args.volume > 2.0) args.volume = 2.0;

    // The pitch track: only with both the tempo and the bend argument.
    if (argv.size() >= 14) {
        const std::u16string tempo_text = to_u16(argv[12].text);
        const std::u16string bend_text = to_u16(argv[13].text);
        std::optional<PitchBend> bend = readbend(tempo_text, bend_text, msg);
        if (bend && !bend->values.empty()) {
            const double tempo = tempo_from_text(argv[12].text, alt_sep);
            args.bend_step = bend_step_for_tempo(tempo);
            const std::size_t n = bend->values.size();
            args.track.resize(n + 1);
            for (std::size_t i = 0; i < n; ++i)
                args.track[i] = args.pitch * det_pow(2.0, bend->values[i] * 0.0008333333333333334);
            args.track[n] = args.pitch;
            args.track_count = static_cast<std::int32_t>(n);
        }
    }
}

ResamplerArgs parse_args(const std::vector<CmdArg>& argv, std::FILE* msg) {
    ResamplerArgs args;
    parse_early_args(argv, args);
    wchar_t sep = static_cast<wchar_t>(static_cast<unsigned char>(locale_decimal_point()));
    parse_late_args(argv, sep == L'.' ? 0 : sep, msg, args);
    return args;
}

}  // namespace kelmotra
