// The kit's one ASCII case fold. The archive's names, masks and lookups of
// existing files ignore the case of the letters A-Z and nothing else, as on
// the tools' original home; every case-blind comparison folds through this.
#pragma once

#include <string>
#include <string_view>

namespace about {

// The ASCII letters A-Z folded to lower case; other bytes pass unchanged.
inline char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = FoldAscii(c);
  return out;
}

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

}  // namespace about
