#include "xkrf/mask.h"

#include "about/ascii.h"

namespace xkrf {

namespace {

// The character at `i`, or the terminating zero past the end.
char At(std::string_view s, size_t i) { return i < s.size() ? s[i] : '\0'; }

bool MatchPattern(std::string_view mask, std::string_view str) {
  size_t a = 0, b = 0;
  // Up to the first '*' both sides must agree, terminator included, so a
  // mask without '*' only matches the identical name.
  while (At(mask, a) != '*') {
    if (about::FoldAscii(At(mask, a)) != about::FoldAscii(At(str, b))) return false;
    if (At(mask, a) == '\0') return true;
    ++a;
    ++b;
  }
  const size_t mask_dot = mask.find('.', a + 1);
  if (mask_dot == std::string_view::npos) return true;  // the '*' takes the rest
  const size_t str_dot = str.find('.', b);
  a = mask_dot + 1;
  b = str_dot == std::string_view::npos ? str.size() : str_dot + 1;
  // Behind the dots: the mask's remaining characters, up to its end or its
  // next '*'; whatever the name has beyond them is not examined.
  for (; a < mask.size() && mask[a] != '*'; ++a, ++b) {
    if (about::FoldAscii(mask[a]) != about::FoldAscii(At(str, b))) return false;
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && about::EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace

bool yes_mask(const Settings& settings, std::string_view str) {
  const std::string& mask = settings.name[1];
  const std::string& mask_path = settings.mask_path;
  if (mask.empty()) return true;
  if (about::EqualsIgnoreCase(str, mask)) return true;
  const std::string my_path = PathFromName(std::string(str));
  if (settings.subdirs) {
    // Entries stored from below the mask's folder: their own file name
    // against the mask's file-name pattern.
    if (!StartsWithIgnoreCase(my_path, mask_path)) return false;
    return MatchPattern(std::string_view(mask).substr(mask_path.size()),
                        str.substr(my_path.size()));
  }
  if (!about::EqualsIgnoreCase(my_path, mask_path)) return false;
  return MatchPattern(mask, str);
}

}  // namespace xkrf
