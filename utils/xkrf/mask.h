// Selecting archived names by the file mask.
#pragma once

#include <string>
#include <string_view>

#include "xkrf/entry_path.h"
#include "xkrf/run_state.h"

namespace xkrf {

// True when the archived name `str` matches the file mask settings.name[1].
// An empty mask matches every name. The name's directory part must equal the
// mask's (with subdirs: begin with it); then the names are compared up to
// the mask's first '*', which stands for everything up to the next dot of
// each side, and onwards from behind the dots until the mask ends or shows a
// further '*'. Letter case is ignored throughout.
bool yes_mask(const Settings& settings, std::string_view str);

}  // namespace xkrf
