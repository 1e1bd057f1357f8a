#include "xkrf/actions.h"
#include "xkrf/mask.h"

namespace xkrf {

void del(RunState* st) {
  for (krfdir_t& e : st->dir) {
    const std::string_view name = krf::NameView(e);
    if (!yes_mask(st->settings, name)) continue;
    // The selection rule reaches further than adding's match (`*.pcx` takes
    // `a.pcxx` too): every entry that goes is named, so none goes unseen.
    std::fprintf(st->out, "deleting %.*s...\n", static_cast<int>(name.size()), name.data());
    ShowProgress(st);
    e.Type &= ~krf::kLive;
    st->need_upd = true;
    st->dir_changed = true;
    ++st->progressed;
  }
}

}  // namespace xkrf
