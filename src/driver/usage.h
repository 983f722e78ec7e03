// The informational options of kelmotra: --help (usage) and --version. A
// host never passes them; each is honoured only as the sole argument, so a
// note's thirteen arguments are never taken for one.
#pragma once

#include <cstdio>
#include <vector>

#include "driver/args.h"

namespace kelmotra {

// The program's version, "MAJOR.MINOR.PATCH", fixed by the build.
const char* version_text();

// When argv (argv[0] the program name) is exactly one of --help, -h or
// --version, prints the usage or "kelmotra VERSION" on out and returns true;
// otherwise prints nothing and returns false.
bool print_info_if_asked(const std::vector<CmdArg>& argv, std::FILE* out);

}  // namespace kelmotra
