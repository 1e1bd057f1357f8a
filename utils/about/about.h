// The texts every tool of the kit shares: what it answers to --version, its
// closing lines and its fatal input/output message, written once so that
// the five tools never disagree on them.
#pragma once

#include <cstdio>

namespace about {

// The two lines that end every closing screen, after the tool's thanks.
inline constexpr char kNewsLine[] = "Visit https://krftools.example.org/ for news and updates.\n";
inline constexpr char kBugsLine[] = "Write to krftools@example.org with bugs and wishes.\n";

// A read or write that failed or came up short.
inline constexpr char kReadWriteError[] = "Fatal Read/Write error !\n";

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
