// The SSSE3 kernels (with POPCNT): the encoder packs its units through
// shuffle tables.
#include "rle/kernels_sse.h"

namespace rle::kernel {

const Kernels kSsse3Kernels = {"ssse3", Encode, Decode, Scan};

}  // namespace rle::kernel
