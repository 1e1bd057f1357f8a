// The SSE2 kernels: what every x86-64 processor runs.
#include "host/run_length_sse.h"

namespace host::rle {

const Kernels kSse2Kernels = {"sse2", Encode, Decode, Scan};

}  // namespace host::rle
