// The corpora the benchmark runs on, written below a folder the caller
// names. Every writer is deterministic: the same arguments give the same
// tree, byte for byte. Failures (a missing folder, a full disk) throw
// std::runtime_error naming the path.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

// `files` files of 1 to 16 KiB in a tree of `dirs` folders (`root` counts as
// one, nesting at most four deep): palettised pictures with flat areas
// (.lmp), script and configuration text (.cfg, .txt) and random bytes
// (.dat). File i depends only on `seed` and i, so a larger count gives the
// same files plus more.
void WriteManySmall(const std::string& root, int files, int dirs, uint64_t seed);

// `files` text files of 32 to 200 bytes spread evenly over `dirs` folders
// right below `root`: entries for a listing, not data.
void WriteTiny(const std::string& root, int files, int dirs, uint64_t seed);

// Eight files of 64 MiB below `root`: three very runny, two random and three
// image-like.
void WriteFewLarge(const std::string& root, uint64_t seed);

// One image-like file of `bytes` bytes, written in pieces of 1 MiB.
void WriteLarge(const std::string& path, int64_t bytes, uint64_t seed);

// A WAD2 file `wad_dir`/gfx.wad of `count` textures (64 to 512 pixels a side,
// four mip levels each) and the same textures as .wal files in `wal_dir`;
// both folders get the palette.lmp the converters read.
void WriteTextures(const std::string& wad_dir, const std::string& wal_dir, int count,
                   uint64_t seed);

}  // namespace bench
