// The SSE2 kernels: what every x86-64 processor runs.
#include "rle/kernels_sse.h"

namespace rle::kernel {

const Kernels kSse2Kernels = {"sse2", Encode, Decode, Scan};

}  // namespace rle::kernel
