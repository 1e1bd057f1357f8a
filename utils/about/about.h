// The texts every tool of the kit shares: what it answers to --version, its
// closing lines and its fatal input/output message, written once so that
// the five tools never disagree on them.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace about {

// The screen that ends every run that got past its command line: the
// thanks to the tool, `shown_name` as its banner spells it ("XKRF"), then
// where to find news and where to write.
std::string ClosingScreen(std::string_view shown_name);

// A read or write that failed or came up short.
inline constexpr char kReadWriteError[] = "Fatal Read/Write error !\n";

// The notice that ends every tool's banner line, naming the system the
// tool was built for: "(Linux edition 1.0)".
std::string EditionNotice(std::string_view system);

// What --version prints: "TOOL (KRF tools) VERSION" and the licence line.
std::string VersionText(std::string_view tool);

// Prints VersionText(tool).
void PrintVersion(std::FILE* out, const char* tool);

// The answer to the first of "--help" and "--version" among
// argv[1..argc-1]: `help`, or VersionText(tool); nothing when neither is
// there. For the legacy command lines, where no other word starts with two
// dashes.
std::optional<std::string> AnswerLongQuery(int argc, const char* const* argv, std::string_view tool,
                                           std::string_view help);

}  // namespace about
