// salvage.cpp — see salvage.h.
#include "salvage.h"

std::string DamageWarning(const PageDamage& d, int page)
{
    std::string text = "warning: " + (page > 0 ? "page " + std::to_string(page) + ": " : std::string());
    if (d.lines > 0)
        text += std::to_string(d.lines) + (d.lines == 1 ? " line" : " lines") + " damaged, the first line " +
                std::to_string(d.first + 1) + (d.endsEarly ? " (the data ends early)" : " (damaged data)");
    if (d.claimed > 0)
        text += std::string(d.lines > 0 ? "; " : "") + "the page claims " + std::to_string(d.claimed) +
                " lines, its data can hold " + std::to_string(d.rows) + " at most: cut there";
    return text;
}

int PageToName(const std::string& path, int page)
{
    return CTifFile::CountPages(path.c_str()) > 1 ? page : 0;
}
