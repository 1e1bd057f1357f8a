// Exit statuses shared by the three converters.
#pragma once

namespace pcxframe {

inline constexpr int kExitOk = 0;             // every image was written
inline constexpr int kExitFatal = 1;          // the run ended on an error
inline constexpr int kExitPcxNotCreated = 2;  // finished, but some PCX files could not be created

}  // namespace pcxframe
