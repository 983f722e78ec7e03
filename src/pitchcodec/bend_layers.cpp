// The extended bend forms (see bend_layers.h).
#include "pitchcodec/bend_layers.h"

#include <algorithm>
#include <cmath>

#include "pitchcodec/base64_bend.h"
#include "pitchcodec/ref_run.h"
#include "pitchcodec/bend_numbers.h"
#include "pitchcodec/cmp_coder.h"
#include "pitchcodec/enc_coder.h"
#include "pitchcodec/hff_coder.h"

namespace kelmotra {

BendForm selectbend(std::u16string_view tempo_text) {
    BendForm form;
    std::size_t star = tempo_text.find(u'*');
    if (star == std::u16string_view::npos) return form;
    form.extended = true;
    std::u16string_view tag = tempo_text.substr(star + 1, 3);
    if (tag == u"hff") form.mode = kBendModeHff;
    else if (tag == u"cmp") form.mode = kBendModeCmp;
    else if (tag == u"enc") form.mode = kBendModeEnc;
    form.order = static_cast<int>(readlong(tempo_text, star + 4).value);
    return form;
}

PitchBend decpitchx(std::u16string_view text, int order, int mode, std::FILE* msg) {
    std::u16string coded = decrun(decref(text));
    switch (mode) {
        case kBendModeHff:
            return dechff(coded, order, msg);
        case kBendModeCmp:
            return deccmp(coded, order);
        default:
            return decpitch(coded, order);
    }
}

std::optional<std::u16string> encpitchx(const PitchBend& bend, int order, int mode, std::FILE* msg) {
    std::optional<std::u16string> coded;
    switch (mode) {
        case kBendModeHff:
            coded = enchff(bend, order, msg);
            break;
        case kBendModeCmp:
            coded = enccmp(bend, order);
            break;
        default:
            coded = encpitch(bend, order, msg);
            break;
    }
    if (!coded) return std::nullopt;
    return encref(encrun(*coded));
}

PitchBend parsepitchlist(std::u16string_view numbers) {
    PitchBend bend;
    std::size_t pos = 0;
    while (bend.values.size() < kMaxBendValues) {
        TextDouble number = readdouble(numbers, pos);
        if (number.end == pos) break;
        bend.values.push_back(saturate16(std::floor(number.value + 0.5)));
        pos = number.end;
    }
    return bend;
}

namespace {

// Copies text into out with wcsncpy's rules and returns the text's length.
std::size_t copy_out(std::u16string_view text, std::span<char16_t> out) {
    std::size_t n = std::min(text.size(), out.size());
    std::copy_n(text.begin(), n, out.begin());
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), u'\0');
    return text.size();
}

}  // namespace

std::size_t encpitchlist(std::u16string_view numbers, std::span<char16_t> out, int order, int mode,
                         std::FILE* msg) {
    std::optional<std::u16string> text = encpitchx(parsepitchlist(numbers), order, mode, msg);
    return copy_out(text ? std::u16string_view(*text) : std::u16string_view(), out);
}

std::size_t decpitchlist(std::u16string_view text, std::span<char16_t> out, int order, int mode,
                         std::FILE* msg) {
    PitchBend bend = decpitchx(text, order, mode, msg);
    std::u16string list;
    for (std::size_t i = 0; i < bend.values.size(); ++i) {
        if (i > 0) list += u' ';
        for (char c : std::to_string(bend.values[i])) list += static_cast<char16_t>(c);
    }
    return copy_out(list, out);
}

std::optional<PitchBend> readbend(std::u16string_view tempo_text, std::u16string_view bend_text,
                                  std::FILE* msg, std::int16_t* tempo) {
    if (tempo) {
        // The first character ("!" in practice) is not part of the number.
        *tempo = tempo_text.empty() ? 0 : saturate16(readdouble(tempo_text, 1).value);
    }
    BendForm form = selectbend(tempo_text);
    PitchBend bend = form.extended ? decpitchx(bend_text, form.order, form.mode, msg) : decpitch64(bend_text);
    if (bend.values.empty()) return std::nullopt;
    return bend;
}

}  // namespace kelmotra
