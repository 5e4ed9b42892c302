// fuzz_temp.h — the one scratch file a file-level fuzz target works on: made
// once per process in $TMPDIR (or /tmp), removed at exit.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace fuzztemp {

inline std::string& Path()
{
    static std::string path;
    return path;
}

inline void Remove() { std::remove(Path().c_str()); }

// The scratch file's path, made on the first call ("" when it cannot be).
inline const std::string& Make(const char* prefix)
{
    if (Path().empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        const int fd = mkstemp(buf.data());
        if (fd >= 0) {
            close(fd);
            Path() = buf.data();
            std::atexit(Remove);
        }
    }
    return Path();
}

}  // namespace fuzztemp
