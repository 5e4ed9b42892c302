// tool_common.cpp — see tool_common.h.
#include "tool_common.h"

#include <cerrno>
#include <cstdlib>

#include "tif/tif_file.h"

bool ParsePage(const char* text, int* page)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < 1 || v > TIF_MAX_PAGES)
        return false;
    *page = int(v);
    return true;
}

std::string OpenFailure(const char* path, int page)
{
    const int failure = CTifFile::GetLastFailure();
    std::string why = CTifFile::GetLastFailureText();
    if (failure == VXTIFF_FAIL_NO_PAGE) {
        const int pages = CTifFile::CountPages(path);
        why = "no page " + std::to_string(page) + " (the file has " + std::to_string(pages) +
              (pages == 1 ? " page)" : " pages)");
    }
    return why;
}
