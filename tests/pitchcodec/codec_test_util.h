// Small helpers for the pitch-bend codec tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "pitchcodec/pitch_bend.h"
#include "support/test_support.h"

namespace codectest {

// ASCII text to UTF-16 and back (bend texts are ASCII).
inline std::u16string u(std::string_view s) { return std::u16string(s.begin(), s.end()); }

inline std::string a(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

inline std::vector<std::int16_t> vals(std::initializer_list<int> v) {
    std::vector<std::int16_t> out;
    for (int x : v) out.push_back(static_cast<std::int16_t>(x));
    return out;
}

inline kelmotra::PitchBend curve(std::initializer_list<int> v) { return kelmotra::PitchBend{vals(v)}; }

// Runs f with a scratch stream for messages and returns what it printed.
inline std::string captured(const std::function<void(std::FILE*)>& f) {
    std::FILE* file = testsupport::temp_stream();
    f(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

}  // namespace codectest
