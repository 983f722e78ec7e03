#include "driver/noise_rng.h"

#include <cstring>

namespace kelmotra {

namespace {

constexpr std::uint64_t kFnvOffset = 0xCBF29CE484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001B3ULL;

// Folds the eight bytes of v (least significant first) into the hash h.
void hash_u64(std::uint64_t& h, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        h ^= (v >> (8 * i)) & 0xFF;
        h *= kFnvPrime;
    }
}

void hash_double(std::uint64_t& h, double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    hash_u64(h, bits);
}

}  // namespace

std::uint64_t note_seed(const ResamplerArgs& args) {
    std::uint64_t h = kFnvOffset;
    for (double v : {args.pitch, args.vel1, args.vel2, args.offset_ms, args.fix1_ms, args.fix2_ms,
                     args.cutoff_ms, args.volume, args.modulation, args.formant, args.peak_exp,
                     args.breath}) {
        hash_double(h, v);
    }
    hash_u64(h, static_cast<std::uint64_t>(static_cast<std::int64_t>(args.outlen)));
    hash_u64(h, args.no_envelope ? 1 : 0);
    hash_u64(h, static_cast<std::uint64_t>(static_cast<std::int64_t>(args.bend_step)));
    for (double v : args.track) hash_double(h, v);
    return h;
}

}  // namespace kelmotra
