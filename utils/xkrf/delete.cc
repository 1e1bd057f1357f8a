#include "xkrf/actions.h"
#include "xkrf/mask.h"

namespace xkrf {

void del(RunState* st) {
  for (krfdir_t& e : st->dir) {
    if (!yes_mask(st->settings, krf::NameView(e))) continue;
    e.Type &= ~krf::kLive;
    st->need_upd = true;
    st->dir_changed = true;
    ++st->progressed;
  }
}

}  // namespace xkrf
