#include "about/about.h"

#include <cstring>

namespace about {

namespace {

// The line under the version.
constexpr char kLicenceLine[] =
    "Copyright (c) 2026 the KRF tools authors. MIT License: free to use, change and share, "
    "with no warranty.\n";

}  // namespace

std::string ClosingScreen(std::string_view shown_name) {
  return "\nThank's for using " + std::string(shown_name) +
         " !\n"
         "Visit https://krftools.example.org/ for news and updates.\n"
         "Write to krftools@example.org with bugs and wishes.\n";
}

std::string EditionNotice(std::string_view system) {
  return "(" + std::string(system) + " edition 1.0)";
}

std::string VersionText(std::string_view tool) {
  return std::string(tool) + " (KRF tools) " + KRF_VERSION + "\n" + kLicenceLine;
}

void PrintVersion(std::FILE* out, const char* tool) { std::fputs(VersionText(tool).c_str(), out); }

std::optional<std::string> AnswerLongQuery(int argc, const char* const* argv, std::string_view tool,
                                           std::string_view help) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) return std::string(help);
    if (std::strcmp(argv[i], "--version") == 0) return VersionText(tool);
  }
  return std::nullopt;
}

}  // namespace about
