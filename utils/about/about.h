// What every tool of the kit answers to --version: one shared text, so the
// five tools never disagree on the kit's version or its licence.
#pragma once

#include <cstdio>

namespace about {

// The kit's version, as the build gives it ("1.0.0").
const char* Version();

// The line under the version: the licence.
extern const char kLicenceLine[];

// Prints "TOOL (KRF tools) VERSION" and the licence line.
void PrintVersion(std::FILE* out, const char* tool);

// The first of "--help" and "--version" among argv[1..argc-1], or null.
// For the legacy command lines, where no other word starts with two dashes.
const char* LongQuery(int argc, const char* const* argv);

}  // namespace about
