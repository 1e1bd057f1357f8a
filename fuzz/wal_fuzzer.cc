// The WAL reader, with texsnap's limit, on arbitrary bytes: what it accepts
// must lie inside the file and fit a PCX image; then the whole tool on the
// input as a .wal file in the scratch folder, which must end with one of
// its statuses and write nothing outside the folder.
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "formats/wal.h"
#include "fuzz_support.h"
#include "pcx/pcx_format.h"
#include "texsnap/texsnap.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  krffuzz::EnterScratch(argc, argv);
  krffuzz::WritePalette();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  formats::miptex_s mip;
  if (formats::ReadWalHeader(data, size, static_cast<int64_t>(size), pcx::kMaxDimension, &mip) ==
      formats::WalCheck::kOk) {
    const int64_t offset = mip.image_offset;
    if (mip.width < 1 || mip.height < 1 || mip.width > 65535 || mip.height > 65535 || offset < 0 ||
        offset + int64_t{mip.width} * mip.height > static_cast<int64_t>(size)) {
      krffuzz::Finding("ReadWalHeader accepted an image that does not fit the file or a PCX");
    }
  }
  krffuzz::ClearScratch({"palette.lmp"});
  if (mkdir("textures", 0777) != 0) krffuzz::Finding("cannot make textures/");
  krffuzz::WriteInput("in.wal", data, size);
  const char* args[] = {"texsnap"};
  const int status = texsnap::RunTexsnap(1, args, krffuzz::NullStream());
  if (status < 0 || status > 2) {
    krffuzz::Finding("texsnap ended with status " + std::to_string(status));
  }
  return 0;
}
