// salvage.cpp — see salvage.h.
#include "salvage.h"

std::string DamageWarning(const PageDamage& d, int page)
{
    return "warning: " + (page > 0 ? "page " + std::to_string(page) + ": " : std::string()) +
           std::to_string(d.lines) + (d.lines == 1 ? " line" : " lines") + " damaged, the first line " + std::to_string(d.first + 1) +
           (d.endsEarly ? " (the data ends early)" : " (damaged data)");
}

int PageToName(const std::string& path, int page)
{
    return CTifFile::CountPages(path.c_str()) > 1 ? page : 0;
}
