// Exit statuses shared by the three converters, the same across the kit.
#pragma once

namespace pcxframe {

// Everything asked for was done.
inline constexpr int kExitOk = 0;
// A fatal error, or console output that could not be written.
inline constexpr int kExitFatal = 1;
// The run finished, but something asked for was skipped, each with its message.
inline constexpr int kExitSkipped = 2;

}  // namespace pcxframe
