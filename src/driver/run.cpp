#include "driver/run.h"

#include <cstdio>

namespace kelmotra {

std::wstring decode_argument(const char* bytes) {
    std::wstring out;
    for (const char* p = bytes; *p; ++p) out.push_back(static_cast<unsigned char>(*p));
    return out;
}

int run_resampler(const std::vector<CmdArg>& argv) {
    if (argv.size() <= 1) {
        std::printf("kelmotra! 001 for x%d\n", edition_bits());
        return 0;
    }
    return 1;
}

}  // namespace kelmotra
