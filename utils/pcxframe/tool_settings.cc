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
    "mipsnap",
    "Usage: mipsnap FILE.wad [PREFIX] [-png]\n"
    "Writes every picture and texture lump of the WAD2 file FILE.wad as\n"
    "PREFIXtextures/<lump>.pcx (.png with -png), coloured with palette.lmp.\n"
    "Exit status: 0 all done, 2 an image could not be written, 1 fatal error.\n"
    "See mipsnap(1).\n",
};

const ToolSettings kTexsnapSettings = {
    "TEXSNAP Converter Utility",
    "\nThank's for using TEXSNAP !\n",
    "",
    "Could not create PCX file !\n",
    true,
    "texsnap",
    "Usage: texsnap [PREFIX] [-png]\n"
    "Writes every *.wal texture of the working folder as PREFIXtextures/<name>.pcx\n"
    "(.png with -png), coloured with palette.lmp.\n"
    "Exit status: 0 all done, 2 a file was skipped, 1 fatal error.\n"
    "See texsnap(1).\n",
};

const ToolSettings kPicsnapSettings = {
    "PICSNAP Converter Utility",
    "\nThank's for using PICSNAP !\n",
    "No LUMP (.lmp) file specified !\n",
    " !! Could not create PCX file !",
    false,
    "picsnap",
    "Usage: picsnap NAME [-png]\n"
    "Writes the picture lump NAME.lmp as NAME.pcx (NAME.png with -png) beside it,\n"
    "coloured with palette.lmp.\n"
    "Exit status: 0 all done, 2 the image could not be written, 1 fatal error.\n"
    "See picsnap(1).\n",
};

}  // namespace pcxframe
