// tool_common.h — what every vxtiff command shares: exit statuses, --page,
// and the reason an input could not be opened.
#pragma once

#include <string>

// Exit statuses of every command (listed in --help and the README).
enum {
    kExitOk = 0,       // done
    kExitFailed = 1,   // the input cannot be read or converted; nothing written
    kExitUsage = 2,    // bad command line
    kExitDamaged = 3,  // done, but lines of the input could not be decoded (a warning says how many)
    kExitOutput = 4,   // the output cannot be created or written
};

// Parses the value of --page: pages count from 1. False when it is not a
// whole number from 1 to the page limit.
bool ParsePage(const char* text, int* page);

// Why page `page` (from 1) of `path` did not open, from the library's last
// failure: "not a TIFF file", "no such page (the file has 2)". Call it right
// after the failed open.
std::string OpenFailure(const char* path, int page);
