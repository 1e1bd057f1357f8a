// snapback's image readers (PCX and PNG) on arbitrary bytes: whatever they
// accept must map to exactly the indices its size says;
// then the whole tool on the input as an image file in the scratch folder,
// which must end with one of its statuses and write nothing outside it.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "snapback/colour_map.h"
#include "snapback/image_file.h"
#include "snapback/snapback.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  krffuzz::EnterScratch(argc, argv);
  krffuzz::WritePalette();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr int kMaxSide = 1024;
  static const uint8_t palette[768] = {};
  static snapback::ColourMap map(palette, 240);
  snapback::MappedImage image;
  std::string error;
  if (snapback::DecodeImage(data, size, kMaxSide, map, size % 2 == 0, &image, &error)) {
    const size_t n = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    if (image.width < 1 || image.height < 1 || image.width > kMaxSide || image.height > kMaxSide ||
        image.indices.size() != n) {
      krffuzz::Finding("DecodeImage accepted an image whose size and pixels disagree");
    }
  } else if (error.empty()) {
    krffuzz::Finding("DecodeImage refused without a reason");
  }
  krffuzz::ClearScratch({"palette.lmp"});
  krffuzz::WriteInput("in.png", data, size);
  char a0[] = "snapback", a1[] = "wal", a2[] = "-q", a3[] = "in.png";
  char* args[] = {a0, a1, a2, a3, nullptr};
  const int status = snapback::RunSnapback(4, args, krffuzz::NullFile(), krffuzz::NullFile());
  if (status < 0 || status > 2)
    krffuzz::Finding("snapback ended with status " + std::to_string(status));
  return 0;
}
