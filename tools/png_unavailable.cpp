// png_unavailable.cpp — `vxtiff topng` where the build has no libpng (the
// Windows cross build): the command is known but refused.
#include <cstdio>

#include "png_command.h"
#include "tool_common.h"

int ToPngCommand(int, char**)
{
    std::fprintf(stderr, "vxtiff: topng: this build has no PNG writer\n");
    return kExitFailed;
}
