// The exit statuses of every tool of the kit.
#pragma once

namespace about {

// Everything asked for was done.
inline constexpr int kExitOk = 0;
// A fatal error, console output that could not be written, or (xkrf -test)
// damage found.
inline constexpr int kExitFatal = 1;
// The run finished, but something asked for was skipped, each with its message.
inline constexpr int kExitSkipped = 2;

}  // namespace about
