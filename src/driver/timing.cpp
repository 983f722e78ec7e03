#include "driver/timing.h"

#include <cmath>

namespace kelmotra {

namespace {

// Prints "label=%0.3lf" + tail. A value that is not finite is spelled the
// same way on every platform.
void print_value(std::FILE* log, const char* label, double v, const char* tail) {
    if (std::isnan(v))
        std::fprintf(log, "%s=nan%s", label, tail);
    else if (std::isinf(v))
        std::fprintf(log, "%s=%sinf%s", label, v < 0 ? "-" : "", tail);
    else
        std::fprintf(log, "%s=%0.3lf%s", label, v, tail);
}

}  // namespace

TimingPlan plan_timing(const ResamplerArgs& args, std::uint32_t sample_rate, std::int32_t ssize,
                       std::FILE* log) {
    TimingPlan p;
    const double rate = static_cast<double>(sample_rate);
    const double k = rate * 0.001;  // input frames per millisecond
    p.ssize = ssize;
    p.rate_ratio = rate / 44100.0;
    p.offl = args.offset_ms * k;
    p.fix1 = args.fix1_ms * k;
    p.fix2 = args.fix2_ms * k;
    const double cut = rate * args.cutoff_ms * 0.001;
    // A cutoff counts back from the end of the sample; a negative one is a
    // length counted forward from the offset.
    p.endp = args.cutoff_ms >= 0 ? ssize - cut : p.offl - cut;
    p.outlen = args.outlen != 0 ? args.outlen : ssize;

    const bool verbose = args.verbose && log;
    if (verbose) {
        std::fprintf(log, "ssize=%d\n", static_cast<int>(p.ssize));
        print_value(log, "offl", p.offl, "\n");
        print_value(log, "fix1", p.fix1, "\t");
        print_value(log, "vel1", args.vel1, "\n");
        print_value(log, "fix2", p.fix2, "\t");
        print_value(log, "vel2", args.vel2, "\n");
        print_value(log, "endp", p.endp, "\n");
        std::fprintf(log, "outlen=%d\n", static_cast<int>(p.outlen));
    }

    const double rho = p.rate_ratio;
    p.len0 = p.fix1 / args.vel1 / rho;
    p.len2 = p.fix2 / args.vel2 / rho;
    p.len1 = p.outlen - p.len0 - p.len2;

    if (p.fix2 == 0) {
        // No trailing fixed region: the middle runs at natural speed, slowed
        // down only when the region left for it is too short.
        p.dif0 = rho * args.vel1;
        p.dif2 = rho;
        const double avail = p.endp - p.offl - p.fix1;
        p.dif1 = p.len1 * rho > avail ? avail / p.len1 : rho;
    } else if (p.fix1 == 0) {
        // Only a trailing fixed region: the region is anchored at its end.
        p.offl = p.len1 > 0 ? p.endp - p.fix2 - p.len1 * rho : p.endp - p.fix2;
        p.dif0 = rho;
        p.dif1 = rho;
        p.dif2 = rho * args.vel2;
    } else {
        // Both fixed regions: they give way when the middle would get fewer
        // than 256 output samples; the middle maps exactly onto the input
        // between them.
        if (p.len1 < 256) {
            const double s = (p.outlen - 256) / (p.len0 + p.len2);
            p.len0 = p.len0 * s;
            p.len2 = p.len2 * s;
            p.len1 = 256;
        }
        p.dif0 = p.fix1 / p.len0;
        p.dif2 = p.fix2 / p.len2;
        p.dif1 = (p.endp - p.offl - p.fix1 - p.fix2) / p.len1;
    }

    if (verbose) {
        print_value(log, "len0", p.len0, "\n");
        print_value(log, "len1", p.len1, "\n");
        print_value(log, "len2", p.len2, "\n");
        print_value(log, "dif0", p.dif0, "\n");
        print_value(log, "dif1", p.dif1, "\n");
        print_value(log, "dif2", p.dif2, "\n");
    }
    return p;
}

double source_position(const TimingPlan& p, double ap) {
    if (ap < p.len0) return p.offl + ap * p.dif0;
    if (ap < p.outlen - p.len2) return p.offl + p.fix1 + (ap - p.len0) * p.dif1;
    return p.endp - p.fix2 + (ap - (p.outlen - p.len2)) * p.dif2;
}

}  // namespace kelmotra
