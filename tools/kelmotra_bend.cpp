// kelmotra-bend: writes and reads pitch-bend texts, the thirteenth argument
// of kelmotra, in the standard base64 form and the extended forms.
//
//   kelmotra-bend encode [--form base64|enc|cmp|hff] [--order N] [VALUE ...]
//   kelmotra-bend decode [--form base64|enc|cmp|hff] [--order N] TEXT
//   kelmotra-bend decode --tempo TEMPO TEXT
//
// Exit status: 0 on success, 1 when there is no result (nothing to encode,
// a text without values, an order the coder refuses), 2 for bad usage.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "pitchcodec/bend_layers.h"

namespace {

using namespace kelmotra;

constexpr const char* kHelp =
    "Usage: kelmotra-bend encode [--form base64|enc|cmp|hff] [--order N] [VALUE ...]\n"
    "  or:  kelmotra-bend decode [--form base64|enc|cmp|hff] [--order N] TEXT\n"
    "  or:  kelmotra-bend decode --tempo TEMPO TEXT\n"
    "\n"
    "Writes and reads the pitch-bend text that kelmotra takes as its thirteenth\n"
    "argument: one value per bend step, in cents.\n"
    "\n"
    "Commands:\n"
    "  encode     prints the text of the curve given as VALUEs (numbers, rounded to\n"
    "             integers; negative values such as -100 are values, not options).\n"
    "             With no VALUE the numbers are read from standard input, separated\n"
    "             by white space. At most 32767 values.\n"
    "  decode     prints the values of TEXT separated by single spaces.\n"
    "\n"
    "Options:\n"
    "  --form F   base64 (default): the standard form, two digits per value with\n"
    "             \"#n#\" repeats; values must lie in -2048..2047.\n"
    "             enc, cmp, hff: the extended forms (differences of the chosen\n"
    "             order, coded, then filler runs and back references). enc and cmp\n"
    "             keep differences within -2048..2047; hff keeps any 16-bit curve.\n"
    "  --order N  difference order of the extended forms: 0 to 3 (above 3 acts\n"
    "             as 3; enc refuses 5 and more). Ignored with base64. Default 0.\n"
    "  --tempo T  decode: choose the form and order from kelmotra's tempo argument,\n"
    "             as the resampler does: \"!120\" is base64, \"!120*hff2\" is hff\n"
    "             with order 2, \"!120*cmp1\" cmp, any other tag after \"*\" enc.\n"
    "  --help     prints this text.\n"
    "  --version  prints the version.\n"
    "\n"
    "Examples:\n"
    "  kelmotra-bend encode 0 0 0 0 100   prints AA#3#Bk\n"
    "  kelmotra-bend decode --tempo '!120*enc' '$AFF@kA'   prints 0 0 0 5 5 100\n"
    "\n"
    "Exit status: 0 success, 1 no result (message on standard error), 2 bad usage.\n";

int usage_error(const std::string& message) {
    std::cerr << "kelmotra-bend: " << message << " (see kelmotra-bend --help)\n";
    return 2;
}

int failure(const std::string& message) {
    std::cerr << "kelmotra-bend: " << message << "\n";
    return 1;
}

// UTF-8 bytes to UTF-16; malformed bytes become U+FFFD.
std::u16string from_utf8(std::string_view s) {
    std::u16string out;
    std::size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        std::uint32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1Fu) : extra == 2 ? (b & 0x0Fu) : (b & 0x07u);
        bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < s.size();
        for (int k = 1; ok && k <= extra; ++k) {
            auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((c & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (c & 0x3Fu);
        }
        static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

// UTF-16 to UTF-8 (the codec writes ASCII only; anything else is kept).
std::string to_utf8(std::u16string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00u);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// Command-line options after the command word.
struct Options {
    std::optional<int> mode;  // unset: base64; else kBendMode*
    bool form_given = false;
    std::optional<int> order;
    std::optional<std::string> tempo;
    std::vector<std::string> positional;
};

bool looks_like_number(std::string_view arg) {
    return arg.size() >= 2 && arg[0] == '-' &&
           ((arg[1] >= '0' && arg[1] <= '9') || arg[1] == '.');
}

// Parses the options; returns an error message, or nothing on success.
std::optional<std::string> parse_options(const std::vector<std::string>& args, bool allow_tempo,
                                         Options& opt) {
    bool options_done = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options_done || a.empty() || a[0] != '-' || a == "-" || looks_like_number(a)) {
            opt.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            options_done = true;
            continue;
        }
        std::string name = a, value;
        bool has_value = false;
        if (std::size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            has_value = true;
        }
        if (name != "--form" && name != "--order" && name != "--tempo") return "unknown option " + a;
        if (name == "--tempo" && !allow_tempo) return "--tempo is only for decode";
        if (!has_value) {
            if (i + 1 >= args.size()) return name + " needs a value";
            value = args[++i];
        }
        if (name == "--form") {
            opt.form_given = true;
            if (value == "base64") opt.mode.reset();
            else if (value == "enc") opt.mode = kBendModeEnc;
            else if (value == "cmp") opt.mode = kBendModeCmp;
            else if (value == "hff") opt.mode = kBendModeHff;
            else return "unknown form '" + value + "' (base64, enc, cmp or hff)";
        } else if (name == "--order") {
            int n = 0;
            const char* end = value.data() + value.size();
            auto [ptr, ec] = std::from_chars(value.data(), end, n);
            if (value.empty() || ec != std::errc() || ptr != end) return "bad order '" + value + "'";
            opt.order = n;
        } else {
            opt.tempo = value;
        }
    }
    return std::nullopt;
}

// One VALUE: a number, rounded to the nearest integer (halves up), within
// the 16-bit range.
std::optional<std::int16_t> parse_value(const std::string& text) {
    std::string_view s = text;
    bool plus = !s.empty() && s[0] == '+';
    if (plus) s.remove_prefix(1);
    if (s.empty() || s[0] == '+' || (plus && s[0] == '-')) return std::nullopt;
    double x = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), x);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(x)) return std::nullopt;
    double r = std::floor(x + 0.5);
    if (r < -32768.0 || r > 32767.0) return std::nullopt;
    return static_cast<std::int16_t>(r);
}

// Codec messages are collected and passed on to standard error as one line.
struct MessageSink {
    std::FILE* file = std::tmpfile();
    ~MessageSink() {
        if (!file) return;
        std::rewind(file);
        std::string text;
        for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
        std::fclose(file);
        if (text.empty()) return;
        if (text.back() != '\n') text += '\n';
        std::cerr << "kelmotra-bend: " << text;
    }
    std::FILE* stream() const { return file ? file : stderr; }
};

int run_encode(const Options& opt) {
    std::vector<std::string> words = opt.positional;
    if (words.empty()) {
        std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        std::istringstream in(input);
        for (std::string w; in >> w;) words.push_back(w);
    }
    if (words.empty()) return failure("no values to encode");
    if (words.size() > kMaxBendValues) return usage_error("too many values (at most 32767)");
    PitchBend bend;
    for (const std::string& w : words) {
        std::optional<std::int16_t> v = parse_value(w);
        if (!v) return usage_error("'" + w + "' is not a value in -32768..32767");
        bend.values.push_back(*v);
    }
    int order = opt.order.value_or(0);
    std::optional<std::u16string> text;
    PitchBend back;
    {
        MessageSink sink;
        if (opt.mode) {
            text = encpitchx(bend, order, *opt.mode, sink.stream());
            if (text) back = decpitchx(*text, order, *opt.mode, nullptr);
        } else {
            text = encpitch64(bend);
            if (text) back = decpitch64(*text);
        }
    }
    if (!text) return failure("the curve cannot be written in this form");
    std::cout << to_utf8(*text) << '\n';
    if (back.values != bend.values) {
        std::cerr << "kelmotra-bend: warning: the text does not give the curve back exactly"
                     " (a value or difference lies outside -2048..2047)\n";
    }
    return 0;
}

int run_decode(const Options& opt) {
    if (opt.positional.size() != 1) return usage_error("decode takes exactly one TEXT");
    if (opt.tempo && (opt.form_given || opt.order)) return usage_error("--tempo replaces --form and --order");
    std::u16string text = from_utf8(opt.positional[0]);
    PitchBend bend;
    {
        MessageSink sink;
        if (opt.tempo) {
            std::optional<PitchBend> b = readbend(from_utf8(*opt.tempo), text, sink.stream());
            if (b) bend = std::move(*b);
        } else if (opt.mode) {
            bend = decpitchx(text, opt.order.value_or(0), *opt.mode, sink.stream());
        } else {
            bend = decpitch64(text);
        }
    }
    if (bend.values.empty()) return failure("the text holds no bend values");
    std::string line;
    for (std::size_t i = 0; i < bend.values.size(); ++i) {
        if (i > 0) line += ' ';
        line += std::to_string(bend.values[i]);
    }
    std::cout << line << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if (a == "--version") {
            std::cout << "kelmotra-bend " << KELMOTRA_VERSION << '\n';
            return 0;
        }
    }
    if (args.empty()) return usage_error("missing command (encode or decode)");
    const std::string command = args[0];
    if (command != "encode" && command != "decode") return usage_error("unknown command '" + command + "'");
    Options opt;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (std::optional<std::string> error = parse_options(rest, command == "decode", opt)) return usage_error(*error);
    return command == "encode" ? run_encode(opt) : run_decode(opt);
}
