#include "e2e_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace e2e {

namespace fs = std::filesystem;

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Tests may leave read-only files or directories behind; make them
  // removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink())
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string ScratchDir::operator/(const std::string& relative) const {
  return path_ + "/" + relative;
}

void MakeDirs(const std::string& path) { fs::create_directories(PathOf(path)); }

void WriteFile(const std::string& path, const Bytes& data) {
  const fs::path p = PathOf(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  ASSERT_TRUE(f.good()) << "cannot write " << path;
}

void WriteFile(const std::string& path, const std::string& data) {
  WriteFile(path, Bytes(data.begin(), data.end()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream f(PathOf(path), std::ios::binary);
  EXPECT_TRUE(f.good()) << "cannot read " << path;
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool MakeSymlink(const std::string& target, const std::string& link) {
  std::error_code ec;
  fs::create_symlink(PathOf(target), PathOf(link), ec);
  EXPECT_FALSE(ec) << "cannot link " << link << " to " << target << ": " << ec.message();
  return !ec;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(PathOf(path), ec));
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 7);
  }
  return out;
}

}  // namespace e2e
