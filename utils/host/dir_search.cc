#include "host/dir_search.h"

#include <algorithm>

#include "about/ascii.h"

namespace host {

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  // Iterative matcher with one backtrack point: linear in practice and never
  // recursive, whatever the pattern.
  size_t p = 0, n = 0;
  size_t star_p = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star_p = p++;
      star_n = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || about::FoldAscii(pattern[p]) == about::FoldAscii(name[n]))) {
      ++p;
      ++n;
    } else if (star_p != std::string_view::npos) {
      p = star_p + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool NameLess(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto fa = static_cast<unsigned char>(about::FoldAscii(a[i]));
    const auto fb = static_cast<unsigned char>(about::FoldAscii(b[i]));
    if (fa != fb) return fa < fb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool SearchDirectory(const std::string& dir, std::string_view pattern, std::vector<DirEntry>* out) {
  if (!ListDirectory(dir, out)) return false;
  std::erase_if(*out, [&](const DirEntry& e) { return !WildcardMatch(pattern, e.name); });
  return true;
}

}  // namespace host
