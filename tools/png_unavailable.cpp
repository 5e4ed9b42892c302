// png_unavailable.cpp — `vxtiff topng` where the build has no libpng (the
// Windows cross build): the command is known but refused.
#include "png_command.h"
#include "tool_common.h"

int ToPng(const std::string&, const std::string&, int, bool)
{
    Say("topng: this build has no PNG writer");
    return kExitFailed;
}
