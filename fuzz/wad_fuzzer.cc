// The picture rule and the texture rule on arbitrary bytes as one lump
// (what they accept must lie inside it), then mipsnap on the input as a
// WAD2 file and picsnap on it as a picture lump, writing their PCX files
// into the scratch folder. Every run must end with one of the tools'
// statuses and write nothing outside the folder.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/miptex.h"
#include "formats/pic.h"
#include "fuzz_support.h"
#include "mipsnap/mipsnap.h"
#include "picsnap/picsnap.h"

namespace {

// `offset` is where the accepted image starts in a lump of `size` bytes.
void CheckInside(const char* rule, size_t size, int64_t offset, int64_t width, int64_t height) {
  if (width < 1 || height < 1 || width > 1024 || height > 1024 || offset < 0 ||
      offset + width * height > static_cast<int64_t>(size)) {
    krffuzz::Finding(std::string(rule) + " accepted an image that does not fit the lump");
  }
}

void CheckStatus(const char* tool, int status) {
  if (status < 0 || status > 2) {
    krffuzz::Finding(std::string(tool) + " ended with status " + std::to_string(status));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  krffuzz::EnterScratch(argc, argv);
  krffuzz::WritePalette();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto total = static_cast<int64_t>(size);
  if (const auto pic = formats::ReadPicHeader(data, size, total)) {
    CheckInside("the picture rule", size, formats::kPicHeaderSize, pic->width, pic->height);
  }
  if (const auto mip = formats::ReadMiptexHeader(data, size, total)) {
    CheckInside("the texture rule", size, mip->image_offset, mip->width, mip->height);
  }
  krffuzz::ClearScratch({"palette.lmp"});
  if (mkdir("textures", 0777) != 0) krffuzz::Finding("cannot make textures/");
  krffuzz::WriteInput("in.wad", data, size);
  const char* mipsnap_args[] = {"mipsnap", "in.wad"};
  CheckStatus("mipsnap", mipsnap::RunMipsnap(2, mipsnap_args, krffuzz::NullStream()));
  krffuzz::WriteInput("in.lmp", data, size);
  const char* picsnap_args[] = {"picsnap", "in"};
  CheckStatus("picsnap", picsnap::RunPicsnap(2, picsnap_args, krffuzz::NullStream()));
  return 0;
}
