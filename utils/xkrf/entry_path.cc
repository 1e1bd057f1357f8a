#include "xkrf/entry_path.h"

#include <algorithm>

namespace xkrf {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

EntryPath ResolveEntryPath(std::string_view name) {
  EntryPath path;
  if (name.size() >= 2 && name[1] == ':' && IsLetter(name[0])) {
    name.remove_prefix(2);
    path.rerooted = true;
  }
  if (!name.empty() && IsSeparator(name[0])) path.rerooted = true;
  std::vector<std::string_view> raw;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || IsSeparator(name[i])) {
      raw.push_back(name.substr(start, i - start));
      start = i + 1;
    }
  }
  // The last level is the file itself: a name ending in a separator or a dot
  // level names a folder, which is not a file to write.
  if (raw.back().empty() || raw.back() == ".") return path;
  for (const std::string_view part : raw) {
    if (part == "..") {
      path.parts.clear();
      return path;
    }
    if (!part.empty() && part != ".") path.parts.emplace_back(part);
  }
  return path;
}

std::string StoredName(std::string_view name, std::string* dropped) {
  size_t start = 0;
  if (name.size() >= 2 && name[1] == ':' && IsLetter(name[0])) start = 2;
  size_t level = start;
  for (size_t i = start; i <= name.size(); ++i) {
    if (i < name.size() && !IsSeparator(name[i])) continue;
    if (name.substr(level, i - level) == "..") start = std::min(i + 1, name.size());
    level = i + 1;
  }
  while (start < name.size() && IsSeparator(name[start])) ++start;
  *dropped = std::string(name.substr(0, start));
  return std::string(name.substr(start));
}

std::string EntryPathProblem(std::string_view name) {
  const EntryPath path = ResolveEntryPath(name);
  if (path.parts.empty()) return "name leads outside the working directory or to no file";
  if (path.rerooted) return "name starts at a root or a drive";
  return "";
}

std::string PathFromName(const std::string& name) {
  const size_t slash = name.rfind('\\');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

std::string HostPath(const std::string& archived) {
  std::string out = archived;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

}  // namespace xkrf
