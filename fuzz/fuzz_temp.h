// fuzz_temp.h — the one scratch file a file-level fuzz target works on: made
// once per process in the system's temporary folder, removed at exit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

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
        // Not mkstemp, which Windows lacks: a random name, made only if new.
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        std::random_device seed;
        std::mt19937_64 random((uint64_t(seed()) << 32) ^ seed());
        for (int attempt = 0; attempt < 100 && Path().empty(); ++attempt) {
            const fs::path p = (ec ? fs::path(".") : base) /
                               (std::string(prefix) + "-" + std::to_string(random() & 0xFFFFFFFFFFFFull));
            std::error_code exists;
            if (fs::exists(p, exists) || exists)
                continue;
            if (std::FILE* f = std::fopen(p.string().c_str(), "wb")) {
                std::fclose(f);
                Path() = p.string();
                std::atexit(Remove);
            }
        }
    }
    return Path();
}

}  // namespace fuzztemp
