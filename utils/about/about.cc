#include "about/about.h"

#include <cstring>

namespace about {

const char* Version() { return KRF_VERSION; }

const char kLicenceLine[] =
    "Copyright (c) 2026 the KRF tools authors. MIT License: free to use, change and share, "
    "with no warranty.\n";

void PrintVersion(std::FILE* out, const char* tool) {
  std::fprintf(out, "%s (KRF tools) %s\n", tool, KRF_VERSION);
  std::fputs(kLicenceLine, out);
}

const char* LongQuery(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) return "--help";
    if (std::strcmp(argv[i], "--version") == 0) return "--version";
  }
  return nullptr;
}

}  // namespace about
