#include "texsnap/texsnap.h"

#include "host/dir_search.h"
#include "host/file.h"
#include "texsnap/wal.h"

namespace texsnap {

namespace {

constexpr std::string_view kWalPattern = "*.wal";
constexpr size_t kWalExtensionLength = 4;

std::vector<uint8_t> ReadTexture(const host::DirEntry& entry) {
  host::File file;
  // A file that vanished or cannot be opened is a failed read like a short one.
  pcxframe::test(file.Open(entry.name, host::File::Mode::kRead) ? 1 : 0, 1);
  pcxframe::test(entry.size > 0 ? 1 : 0, 1);
  std::vector<uint8_t> bytes(static_cast<size_t>(entry.size));
  pcxframe::test(file.ReadExactAt(0, bytes.data(), bytes.size()) ? 1 : 0, 1);
  return bytes;
}

}  // namespace

void single_convert_mip(pcxframe::Frame& frame, const std::vector<uint8_t>& mip,
                        const std::string& dest_path, const std::string& name) {
  std::ostream& out = frame.out();
  std::string output_name = dest_path + name + ".pcx";
  miptex_s tex;
  const WalCheck check = ReadWal(mip.data(), mip.size(), &tex);
  out << "texture '" << output_name << "': ";
  switch (check) {
    case WalCheck::kShortHeader:
      out << "file too short for a texture header, skipping !\n";
      return;
    case WalCheck::kBadSize:
      out << "width " << tex.width << ", height " << tex.height
          << ", size not supported, skipping !\n";
      return;
    case WalCheck::kOutside:
      out << "width " << tex.width << ", height " << tex.height
          << ", image outside the file, skipping !\n";
      return;
    case WalCheck::kOk:
      break;
  }
  out << "width " << tex.width << ", height " << tex.height << "\n";
  frame.savePCX(tex.width, tex.height, tex.image, output_name);
}

void LetUsRock(pcxframe::Frame& frame, const std::string& dest_path) {
  std::vector<host::DirEntry> found;
  if (!host::SearchDirectory("", kWalPattern, &found)) return;
  for (const host::DirEntry& entry : found) {
    if (entry.is_dir) continue;
    const std::vector<uint8_t> bytes = ReadTexture(entry);
    const std::string name =
        entry.name.substr(0, entry.name.size() - kWalExtensionLength);
    single_convert_mip(frame, bytes, dest_path, name);
  }
}

int RunTexsnap(int argc, const char* const* argv, std::ostream& out) {
  return pcxframe::RunConverter(
      pcxframe::kTexsnapSettings, argc, out, [&](pcxframe::Frame& frame) {
        const std::string dest_path =
            std::string(argc > 1 ? argv[1] : "") + std::string(kTexturesDir);
        out << "Converting all textures into '" << dest_path << "*.pcx':\n";
        LetUsRock(frame, dest_path);
      });
}

}  // namespace texsnap
