// png_command.h — `vxtiff topng IN OUT.png [--page N]`: any page the library
// reads, written as PNG so that a user can look at what it reads.
#pragma once

// Runs the command on the arguments after its name; the exit status
// (tool_common.h).
int ToPngCommand(int argc, char** argv);
