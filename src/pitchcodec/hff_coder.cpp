// The "hff" Huffman bend coder (see hff_coder.h).
#include "pitchcodec/hff_coder.h"

#include <algorithm>
#include <limits>
#include <new>
#include <queue>
#include <vector>

#include "pitchcodec/base64_bend.h"
#include "pitchcodec/bend_order.h"
#include "pitchcodec/selection_sort.h"

namespace kelmotra {

namespace {

constexpr std::uint64_t kGolombOverflow = std::numeric_limits<std::uint64_t>::max();

// Longest code the decoder can match; no curve of kMaxBendValues values
// needs more than about 25 bits, so longer codes only occur in broken texts.
constexpr std::uint64_t kMaxCodeLength = 64;

std::uint64_t low_bits_mask(std::uint64_t n) {
    return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// Reads an exponential-Golomb code of order k from a bit source:
// bit(i) for i < size gives bit i.
template <class BitAt>
GolombRead read_golomb(BitAt bit, std::size_t size, std::size_t pos, int k) {
    GolombRead result;
    std::size_t zeros = 0;
    while (pos + zeros < size && bit(pos + zeros) == 0) ++zeros;
    if (pos + zeros >= size) {
        result.next = size;
        return result;
    }
    std::size_t length = 2 * zeros + static_cast<std::size_t>(k) + 1;
    std::size_t significant = zeros + static_cast<std::size_t>(k) + 1;
    if (significant > 64) {
        result.value = kGolombOverflow;
    } else {
        std::uint64_t t = 0;
        for (std::size_t i = pos + zeros; i < pos + length; ++i) {
            t = (t << 1) | (i < size ? bit(i) : 0u);
        }
        result.value = t - (std::uint64_t{1} << k);
    }
    result.next = std::min(pos + length, size);
    return result;
}

std::uint64_t zigzag(std::int16_t v) {
    std::int32_t x = v;
    return x >= 0 ? static_cast<std::uint64_t>(2 * x) : static_cast<std::uint64_t>(-2 * x - 1);
}

// Back from the zigzag mapping, as a 16-bit value (wrapping; only broken
// texts carry numbers beyond 65535).
std::int16_t unzigzag(std::uint64_t z) {
    std::uint64_t half = (z & 1) ? ~(z >> 1) : (z >> 1);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(half & 0xFFFF));
}

// One distinct difference of the curve: a leaf of the Huffman tree.
struct HuffmanLeaf {
    std::int16_t value = 0;
    std::int32_t weight = 0;  // occurrences
    int length = 0;           // code length in bits
};

// Code lengths of the leaves by the merge rule: repeatedly join the two
// lightest parentless nodes, the later-created one first on equal weights.
// Input: leaves in their weight-sorted order. Output: their lengths set.
void assign_lengths(std::vector<HuffmanLeaf>& leaves) {
    const std::size_t m = leaves.size();
    if (m == 1) {
        // A lone leaf has depth 0, which would send no data bits; give it a
        // one-bit code so the data carries the count.
        leaves[0].length = 1;
        return;
    }
    using Node = std::pair<std::int32_t, std::size_t>;  // weight, index
    // Top of the queue: least weight, then highest index.
    auto lower_priority = [](const Node& a, const Node& b) {
        return a.first > b.first || (a.first == b.first && a.second < b.second);
    };
    std::priority_queue<Node, std::vector<Node>, decltype(lower_priority)> open(lower_priority);
    std::vector<std::size_t> parent(2 * m - 1, 0);
    for (std::size_t i = 0; i < m; ++i) open.push({leaves[i].weight, i});
    std::size_t next = m;
    while (open.size() >= 2) {
        Node first = open.top();
        open.pop();
        Node second = open.top();
        open.pop();
        parent[first.second] = next;
        parent[second.second] = next;
        open.push({first.first + second.first, next});
        ++next;
    }
    // Parents always come after their children, so depths can be filled
    // from the root (the last node) down.
    std::vector<int> depth(next, 0);
    for (std::size_t i = next - 1; i-- > 0;) depth[i] = depth[parent[i]] + 1;
    for (std::size_t i = 0; i < m; ++i) leaves[i].length = depth[i];
}

// Packs a bitstring into digits with the three-bit trailer.
std::u16string pack_bits(const std::string& bits) {
    if (bits.empty()) return u"D";
    std::vector<int> digits;
    for (std::size_t i = 0; i < bits.size(); i += 6) {
        int d = 0;
        for (std::size_t j = i; j < i + 6; ++j) d = (d << 1) | (j < bits.size() && bits[j] == '1');
        digits.push_back(d);
    }
    int filler = static_cast<int>((6 - bits.size() % 6) % 6);
    if (filler >= 3) digits.back() += filler - 3;
    else digits.push_back(filler + 3);
    std::u16string out;
    for (int d : digits) out += base64digit(d);
    return out;
}

}  // namespace

std::string bitsof(std::uint64_t value, int n) {
    std::string out;
    for (int i = n - 1; i >= 0; --i) out += (i < 64 && ((value >> i) & 1)) ? '1' : '0';
    return out;
}

std::uint64_t valueof(std::string_view bits, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v = (v << 1) | (i < bits.size() && bits[i] == '1');
    return v;
}

std::string writegolomb(std::uint64_t value, int k) {
    std::uint64_t t = value + (std::uint64_t{1} << k);
    int length = 0;
    while (length < 64 && (t >> length) != 0) ++length;
    return std::string(static_cast<std::size_t>(length - k - 1), '0') + bitsof(t, length);
}

GolombRead readgolomb(std::string_view bits, std::size_t pos, int k) {
    auto bit = [&](std::size_t i) { return bits[i] == '1' ? 1u : 0u; };
    return read_golomb(bit, bits.size(), pos, k);
}

std::optional<std::u16string> enchff(const PitchBend& bend, int order, std::FILE* msg) {
    const std::size_t n = std::min(bend.values.size(), kMaxBendValues);
    if (n == 0) return std::nullopt;
    std::vector<std::int16_t> diffs(n);
    for (std::size_t j = 0; j < n; ++j) diffs[j] = static_cast<std::int16_t>(benddiff(bend.values, j, order));

    // Histogram over lo..hi (lo <= 0, hi >= -1, as the table was always laid out).
    int lo = std::min<int>(0, *std::min_element(diffs.begin(), diffs.end()));
    int hi = std::max<int>(-1, *std::max_element(diffs.begin(), diffs.end()));
    std::vector<std::int32_t> counts;
    try {
        counts.assign(static_cast<std::size_t>(hi - lo + 1), 0);
    } catch (const std::bad_alloc&) {
        if (msg) std::fputs("Alloc err.\n", msg);
        return std::nullopt;
    }
    for (std::int16_t d : diffs) ++counts[static_cast<std::size_t>(d - lo)];

    std::vector<HuffmanLeaf> leaves;
    for (int v = lo; v <= hi; ++v) {
        std::int32_t w = counts[static_cast<std::size_t>(v - lo)];
        if (w > 0) leaves.push_back({static_cast<std::int16_t>(v), w, 0});
    }
    selectionsort(leaves, [](const HuffmanLeaf& a, const HuffmanLeaf& b) { return a.weight > b.weight; });
    assign_lengths(leaves);
    selectionsort(leaves, [](const HuffmanLeaf& a, const HuffmanLeaf& b) { return a.length < b.length; });

    // Header and table; canonical codes in table order.
    std::string bits = writegolomb(leaves.size(), 4);
    std::vector<std::string> code_of(counts.size());
    std::uint64_t code = 0;
    int previous = 0;
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        const HuffmanLeaf& leaf = leaves[i];
        bits += writegolomb(zigzag(leaf.value), 3);
        bits += writegolomb(static_cast<std::uint64_t>(leaf.length - previous), 0);
        if (i > 0 && leaf.length > previous) code <<= (leaf.length - previous);
        code_of[static_cast<std::size_t>(leaf.value - lo)] = bitsof(code, leaf.length);
        ++code;
        previous = leaf.length;
    }
    for (std::int16_t d : diffs) bits += code_of[static_cast<std::size_t>(d - lo)];
    return pack_bits(bits);
}

namespace {

// The table entries of one code length. Lengths never decrease along the
// table and codes of equal length are consecutive numbers, so an entry is
// found from its code by subtraction.
struct CodeGroup {
    std::uint64_t length = 0;  // code length in bits, 1..kMaxCodeLength
    std::uint64_t first = 0;   // code of the group's first entry
    std::size_t stored = 0;    // entries kept (later duplicates of a code can never match)
    std::size_t offset = 0;    // index of the first entry's value in the value list
};

}  // namespace

PitchBend dechff(std::u16string_view text, int order, std::FILE* msg) {
    PitchBend bend;
    std::vector<std::uint8_t> digits(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        int d = digitval(text[i]);
        digits[i] = static_cast<std::uint8_t>(d < 0 ? 63 : d);
    }
    const std::size_t total = 6 * digits.size();
    if (total < 3) return bend;
    const std::size_t drop = static_cast<std::size_t>(digits.back() & 7) + 3;
    if (drop > total) return bend;
    const std::size_t size = total - drop;
    auto bit = [&](std::size_t i) { return static_cast<unsigned>((digits[i / 6] >> (5 - i % 6)) & 1); };

    GolombRead header = read_golomb(bit, size, 0, 4);
    if (header.value > size) return bend;
    std::size_t pos = header.next;

    std::vector<CodeGroup> groups;
    std::vector<std::int16_t> group_values;
    std::uint64_t length = 0, code = 0;
    std::uint64_t current_length = ~std::uint64_t{0};  // length of the group being filled
    std::size_t current_count = 0;
    for (std::uint64_t e = 0; e < header.value; ++e) {
        // With the payload used up no data is left: the curve is empty.
        if (pos >= size) return bend;
        GolombRead value = read_golomb(bit, size, pos, 3);
        GolombRead step = read_golomb(bit, size, value.next, 0);
        pos = step.next;
        std::uint64_t previous = length;
        length = step.value > kMaxCodeLength ? kMaxCodeLength + 1 : std::min(previous + step.value, kMaxCodeLength + 1);
        if (e > 0 && length > previous) {
            std::uint64_t shift = length - previous;
            code = shift >= 64 ? 0 : code << shift;
        }
        std::uint64_t this_code = code & low_bits_mask(length);
        ++code;
        if (length == 0 || length > kMaxCodeLength) continue;  // never matches
        if (length != current_length) {
            groups.push_back({length, this_code, 0, group_values.size()});
            current_length = length;
            current_count = 0;
        }
        // Codes repeat after 2^length entries; only the first of each can match.
        ++current_count;
        if (length >= 63 || current_count <= (std::uint64_t{1} << length)) {
            group_values.push_back(unzigzag(value.value));
            ++groups.back().stored;
        }
    }

    std::vector<std::int16_t> diffs;
    while (pos < size && diffs.size() < kMaxBendValues) {
        std::uint64_t window = 0, window_length = 0;
        bool matched = false;
        for (const CodeGroup& g : groups) {
            if (g.length > size - pos) break;
            while (window_length < g.length) window = (window << 1) | bit(pos + window_length++);
            std::uint64_t index = (window - g.first) & low_bits_mask(g.length);
            if (index < g.stored) {
                diffs.push_back(group_values[g.offset + index]);
                pos += g.length;
                matched = true;
                break;
            }
        }
        if (!matched) {
            if (msg) std::fputs("[Huffman-Code ist kaputt!]", msg);
            break;
        }
    }
    bend.values.reserve(diffs.size());
    for (std::int16_t d : diffs) bendrebuild(bend.values, d, order);
    return bend;
}

}  // namespace kelmotra
