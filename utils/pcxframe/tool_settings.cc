#include "pcxframe/tool_settings.h"

namespace pcxframe {

// mipsnap and picsnap report a create failure at the end of the open
// progress line; texsnap's progress lines are already complete, so its
// message is a line of its own.
const ToolSettings kMipsnapSettings = {
    "MIPSNAP Converter Utility",
    "\nThank's for using MIPSNAP !\n",
    "No WAD file specified !\n",
    " !! Could not create PCX file !",
    true,
};

const ToolSettings kTexsnapSettings = {
    "TEXSNAP Converter Utility",
    "\nThank's for using TEXSNAP !\n",
    "",
    "Could not create PCX file !\n",
    true,
};

const ToolSettings kPicsnapSettings = {
    "PICSNAP Converter Utility",
    "\nThank's for using PICSNAP !\n",
    "No LUMP (.lmp) file specified !\n",
    " !! Could not create PCX file !",
    false,
};

}  // namespace pcxframe
