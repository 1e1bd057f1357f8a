#include <cmath>
#include <cstring>

#include "host/console.h"
#include "xkrf/actions.h"
#include "xkrf/mask.h"

namespace xkrf {

namespace {

constexpr int kRowsPerPage = 22;
constexpr char kHeads[] =
    "Filename                               Size      Encode      Packed     Saved\n"
    "-----------------------------------------------------------------------------\n";

// A key wait between pages, only where someone reads them: the output is a
// terminal (host::WaitForKey also asks standard input and output). Into a
// pipe or a file the listing runs through without flushing per page.
void WaitForKey(RunState* st) {
  if (!st->interactive) return;
  std::fflush(st->out);
  host::WaitForKey();
}

}  // namespace

namespace {

char* PadLeft(char* o, const char* text, size_t length, size_t width) {
  for (size_t i = length; i < width; ++i) *o++ = ' ';
  std::memcpy(o, text, length);
  return o + length;
}

// "%<width>d"
char* PutInt(char* o, int64_t value, size_t width) {
  char digits[24];
  char* d = digits + sizeof digits;
  const bool negative = value < 0;
  uint64_t v = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    *--d = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (negative) *--d = '-';
  return PadLeft(o, d, static_cast<size_t>(digits + sizeof digits - d), width);
}

// "%7.2f" of the saving figure. Printing a double with two decimals rounds
// its exact binary value; where the value lies next to a rounding tie, or
// is not an ordinary percentage, the C library decides.
char* PutFigure(char* o, double value) {
  if (std::isnan(value)) return PadLeft(o, "-nan", 4, 7);  // 0 / 0, sign bit set
  const double scaled = value * 100.0;
  const double floor = std::floor(scaled);
  if (value >= 0.0 && value < 1e6 && std::fabs(scaled - floor - 0.5) > 1e-6) {
    const auto hundredths = static_cast<int64_t>(scaled - floor > 0.5 ? floor + 1 : floor);
    char text[24];
    char* t = text + sizeof text;
    int64_t v = hundredths;
    for (int i = 0; i < 2; ++i) {
      *--t = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    *--t = '.';
    do {
      *--t = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    return PadLeft(o, t, static_cast<size_t>(text + sizeof text - t), 7);
  }
  char text[400];
  const int n = std::snprintf(text, sizeof text, "%7.2f", value);
  std::memcpy(o, text, static_cast<size_t>(n));
  return o + n;
}

// Formats one row, "%-35s %7d %11s %11d  %7.2f%c\n" with the entry's name,
// length, method word, stored size, saving figure and '%', into `out`
// (room for kRowRoom bytes).
constexpr size_t kRowRoom = 512;

size_t FormatRow(const krfdir_t& e, char* out) {
  char* o = out;
  const size_t name_length = krf::NameView(e).size();
  std::memcpy(o, e.Name.data(), name_length);
  o += name_length;
  for (size_t i = name_length; i < 35; ++i) *o++ = ' ';
  *o++ = ' ';
  o = PutInt(o, e.RawLen, 7);
  *o++ = ' ';
  const char* word = krf::method(e.Type);
  o = PadLeft(o, word, std::strlen(word), 11);
  *o++ = ' ';
  o = PutInt(o, e.Size, 11);
  *o++ = ' ';
  *o++ = ' ';
  // The figure is computed in exactly this order: both lengths as doubles,
  // the quotient, its difference from 1, times 100.
  o = PutFigure(o, (1.0 - static_cast<double>(e.Size) / static_cast<double>(e.RawLen)) * 100.0);
  *o++ = '%';
  *o++ = '\n';
  return static_cast<size_t>(o - out);
}

}  // namespace

std::string ListingRow(const krfdir_t& e) {
  char row[kRowRoom];
  return std::string(row, FormatRow(e, row));
}

void list(RunState* st) {
  std::fputs(kHeads, st->out);
  int rows = 0;
  for (const krfdir_t& e : st->dir) {
    if (!yes_mask(st->settings, krf::NameView(e))) continue;
    if (rows != 0 && rows % kRowsPerPage == 0) {
      WaitForKey(st);
      std::fputs(kHeads, st->out);
    }
    char row[kRowRoom];
    std::fwrite(row, 1, FormatRow(e, row), st->out);
    ++rows;
  }
  for (; rows % kRowsPerPage != 0; ++rows) std::fputs("\n", st->out);
  WaitForKey(st);
}

}  // namespace xkrf
