#include <cmath>

#include "host/console.h"
#include "xkrf/actions.h"
#include "xkrf/mask.h"

namespace xkrf {

namespace {

constexpr int kRowsPerPage = 22;
constexpr char kHeads[] =
    "Filename                               Size      Encode      Packed     Saved\n"
    "-----------------------------------------------------------------------------\n";

void WaitForKey(RunState* st) {
  std::fflush(st->out);
  host::WaitForKey();
}

}  // namespace

std::string ListingRow(const krfdir_t& e) {
  const double saved = (1.0 - static_cast<double>(e.Size) / static_cast<double>(e.RawLen)) * 100.0;
  char figure[64];
  // 0 / 0 is the NaN with its sign bit set; print it the same on every host.
  if (std::isnan(saved)) {
    std::snprintf(figure, sizeof figure, "%7s", "-nan");
  } else {
    std::snprintf(figure, sizeof figure, "%7.2f", saved);
  }
  const std::string name = krf::EntryName(e);
  const int n = std::snprintf(nullptr, 0, "%-35s %7d %11s %11d  %s%c\n", name.c_str(), e.RawLen,
                              krf::method(e.Type), e.Size, figure, '%');
  std::string row(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(row.data(), row.size(), "%-35s %7d %11s %11d  %s%c\n", name.c_str(), e.RawLen,
                krf::method(e.Type), e.Size, figure, '%');
  row.resize(static_cast<size_t>(n));
  return row;
}

void list(RunState* st) {
  std::fputs(kHeads, st->out);
  int rows = 0;
  for (const krfdir_t& e : st->dir) {
    if (!yes_mask(st->settings, krf::EntryName(e))) continue;
    if (rows != 0 && rows % kRowsPerPage == 0) {
      WaitForKey(st);
      std::fputs(kHeads, st->out);
    }
    std::fputs(ListingRow(e).c_str(), st->out);
    ++rows;
  }
  for (; rows % kRowsPerPage != 0; ++rows) std::fputs("\n", st->out);
  WaitForKey(st);
}

}  // namespace xkrf
