// page_reader.h — the input page being read, kept open from one page to the
// next: going through a file in order reads each directory once (NextPage),
// not the whole chain again for every page.
#pragma once

#include <string>

#include "tif/tif_file.h"

class TifPageReader {
public:
    // Makes `file` hold page `page` (from 0) of `path`; false as OpenPage.
    bool Reach(const std::string& path, int page)
    {
        const bool next = file.m_pStream != nullptr && path == path_ && page == page_ + 1;
        if (!next)
            file.Close();
        const bool ok = next ? file.NextPage() == 1 : file.OpenPage(path.c_str(), page) == 1;
        path_ = path;
        page_ = ok ? page : -1;
        return ok;
    }
    CTifFile file;

private:
    std::string path_;
    int page_ = -1;
};
