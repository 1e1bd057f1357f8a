#include "bench/corpus_data.h"

#include <algorithm>
#include <cstring>

namespace bench {

namespace {

uint64_t SplitMix(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

// Words of the scripts and configuration files that ship beside game data.
constexpr const char* kWords[] = {
    "bind",    "set",     "alias", "exec",    "map",     "echo",     "wait",        "toggle",
    "weapon",  "attack",  "jump",  "forward", "back",    "left",     "right",       "use",
    "health",  "armor",   "ammo",  "shells",  "nails",   "rockets",  "cells",       "key",
    "door",    "trigger", "light", "origin",  "angle",   "target",   "delay",       "speed",
    "monster", "player",  "spawn", "think",   "touch",   "damage",   "sound",       "model",
    "texture", "sky",     "water", "lava",    "slime",   "teleport", "secret",      "level",
    "0",       "1",       "100",   "255",     "0.5",     "-1",       "\"+attack\"", "//",
    "{",       "}",       "=",     ";",       "r_gamma", "cl_speed", "sv_gravity",  "800",
};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

}  // namespace

Rng::Rng(uint64_t seed) {
  uint64_t state = seed;
  for (uint64_t& s : s_) s = SplitMix(&state);
}

uint64_t Rng::Next() {
  const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
  const uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = Rotl(s_[3], 45);
  return result;
}

const char* KindName(DataKind kind) {
  switch (kind) {
    case DataKind::kRunny:
      return "runny";
    case DataKind::kRandom:
      return "random";
    case DataKind::kImage:
      return "image";
    case DataKind::kText:
      return "text";
  }
  return "?";
}

void FillRunny(Rng& rng, uint8_t* out, size_t n) {
  size_t pos = 0;
  while (pos < n) {
    // Mostly long runs, now and then a short stretch of single bytes.
    const size_t len =
        std::min<size_t>(n - pos, rng.Below(16) == 0 ? rng.Between(1, 8) : rng.Between(32, 2048));
    std::memset(out + pos, static_cast<int>(rng.Below(256)), len);
    pos += len;
  }
}

void FillRandom(Rng& rng, uint8_t* out, size_t n) {
  size_t pos = 0;
  for (; pos + 8 <= n; pos += 8) {
    const uint64_t v = rng.Next();
    std::memcpy(out + pos, &v, 8);
  }
  if (pos < n) {
    const uint64_t v = rng.Next();
    std::memcpy(out + pos, &v, n - pos);
  }
}

void FillImage(Rng& rng, uint8_t* out, size_t n) {
  size_t pos = 0;
  while (pos < n) {
    const uint32_t pick = rng.Below(100);
    // Colours come in ramps of sixteen shades; a stretch stays on one ramp.
    const auto ramp = static_cast<uint8_t>(rng.Below(16) * 16);
    if (pick < 30) {  // a flat area
      const size_t len = std::min<size_t>(n - pos, rng.Between(4, 160));
      std::memset(out + pos, ramp + static_cast<int>(rng.Below(16)), len);
      pos += len;
    } else if (pick < 75) {  // noisy texture: every pixel one of eight shades
      const size_t end = std::min<size_t>(n, pos + rng.Between(16, 256));
      uint64_t bits = 0;
      int left = 0;
      for (; pos < end; ++pos) {
        if (left == 0) {
          bits = rng.Next();
          left = 21;
        }
        out[pos] = static_cast<uint8_t>(ramp + 4 + (bits & 7));
        bits >>= 3;
        --left;
      }
    } else {  // dithered shading: short runs along the ramp
      const size_t end = std::min<size_t>(n, pos + rng.Between(16, 256));
      while (pos < end) {
        const size_t len = std::min<size_t>(end - pos, rng.Between(1, 6));
        std::memset(out + pos, ramp + static_cast<int>(rng.Below(4)), len);
        pos += len;
      }
    }
  }
}

void FillText(Rng& rng, uint8_t* out, size_t n) {
  size_t pos = 0;
  size_t column = 0;
  auto put = [&](char c) {
    if (pos < n) out[pos++] = static_cast<uint8_t>(c);
  };
  while (pos < n) {
    if (column == 0 && rng.Below(4) == 0) {
      for (uint32_t i = rng.Between(1, 3) * 4; i > 0; --i) put(' ');  // indentation
    }
    const char* word = kWords[rng.Below(kWordCount)];
    for (const char* c = word; *c != '\0'; ++c) put(*c);
    column += std::strlen(word) + 1;
    if (column > 40 + rng.Below(40)) {
      put('\n');
      column = 0;
    } else {
      put(' ');
    }
  }
}

void Fill(DataKind kind, Rng& rng, uint8_t* out, size_t n) {
  switch (kind) {
    case DataKind::kRunny:
      FillRunny(rng, out, n);
      break;
    case DataKind::kRandom:
      FillRandom(rng, out, n);
      break;
    case DataKind::kImage:
      FillImage(rng, out, n);
      break;
    case DataKind::kText:
      FillText(rng, out, n);
      break;
  }
}

void MakePalette(uint8_t* out) {
  // Each ramp runs from dark to light through its own hue.
  static constexpr uint8_t kHues[16][3] = {
      {255, 255, 255}, {160, 120, 80},  {140, 140, 200}, {100, 100, 40},
      {80, 40, 0},     {180, 60, 40},   {160, 120, 20},  {200, 160, 120},
      {160, 80, 140},  {200, 140, 160}, {220, 200, 140}, {100, 160, 100},
      {255, 240, 60},  {60, 60, 255},   {255, 120, 0},   {240, 220, 255},
  };
  for (int ramp = 0; ramp < 16; ++ramp) {
    for (int shade = 0; shade < 16; ++shade) {
      for (int c = 0; c < 3; ++c) {
        out[(ramp * 16 + shade) * 3 + c] = static_cast<uint8_t>(kHues[ramp][c] * (shade + 1) / 16);
      }
    }
  }
}

}  // namespace bench
