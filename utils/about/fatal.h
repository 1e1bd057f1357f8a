// The kit's one fatal path: deep code throws Fatal, and each tool's entry
// point catches it once, prints its message and ends the run with
// kExitFatal, so destructors close every file, release every lock and
// remove every temporary file on the way out.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "about/about.h"

namespace about {

// A failure that ends the run; the message is printed as it stands.
class Fatal : public std::runtime_error {
 public:
  explicit Fatal(std::string_view message) : std::runtime_error(std::string(message)) {}
};

// The result check of every read, write, remove and rename: a count
// obtained that differs from the count expected ends the run with
// kReadWriteError.
inline void test(int64_t actual, int64_t expected) {
  if (actual != expected) throw Fatal(kReadWriteError);
}
// The same for a call that tells only whether it succeeded.
inline void test(bool ok) { test(ok ? 1 : 0, 1); }

}  // namespace about
