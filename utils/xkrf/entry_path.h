// Where an archived name leads on the host. Names come from archives made
// anywhere, so both '\' (the archive's separator) and '/' (the host's)
// separate levels here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace xkrf {

struct EntryPath {
  // The levels below the working directory, the file last; empty when the
  // name must not be written at all (a ".." level, or no file name).
  std::vector<std::string> parts;
  // The name began at a root or a drive ("\x", "c:x"), which was dropped.
  bool rerooted = false;
};

EntryPath ResolveEntryPath(std::string_view name);

// The name adding stores for the path `name`: without what would lead out
// of the folder it is extracted into (a drive prefix, everything up to and
// including its last ".." level, then leading separators), as archivers
// drop them. `*dropped` receives the part taken off, "" when none.
std::string StoredName(std::string_view name, std::string* dropped);

// Why a name does not extract to where it says, or "" when it does.
std::string EntryPathProblem(std::string_view name);

// The directory part of `name` up to and including its last backslash, or
// "" when it has none. Only the backslash separates.
std::string PathFromName(const std::string& name);

// '\' to the host's '/'.
std::string HostPath(const std::string& archived);

}  // namespace xkrf
