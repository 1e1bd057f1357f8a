#include "host/temp_file.h"

#include <cerrno>

namespace host {

bool TempFile::CreateInRounds(const File& like, int attempts) {
  for (int i = 0; i < attempts; ++i) {
    bool retry = false;
    if (TryCreate(like, &retry)) return true;
    if (!retry) return false;
  }
  errno = EEXIST;
  return false;
}

}  // namespace host
