// write_commands.h — `vxtiff convert` and `vxtiff rotate`: a TIFF file written
// anew through CTifFile, line by line or a quarter turn at a time.
#pragma once

#include "convert/tif2bmp.h"

// The usage lines of both commands and their options (for --help).
extern const char kWriteUsage[];

// Run the command on the arguments that follow its name. `progress` (may be
// null) is called with rows written and rows in total when the image is
// large. Returns the exit status (tool_common.h): 0 done; 1 the input cannot be
// read, 4 the output cannot be written (one line on stderr; OUT is then as it
// was before); 2 bad arguments.
int ConvertCommand(int argc, char** argv, VXTiff2BmpProgress progress, void* context);
int RotateCommand(int argc, char** argv, VXTiff2BmpProgress progress, void* context);
