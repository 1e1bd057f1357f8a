// The SSSE3 kernels (with POPCNT): the encoder packs its units through
// shuffle tables.
#include "host/run_length_sse.h"

namespace host::rle {

const Kernels kSsse3Kernels = {"ssse3", Encode, Decode, Scan};

}  // namespace host::rle
