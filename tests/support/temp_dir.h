// temp_dir.h — a temporary directory that removes itself, for test files.
//
//   tiftest::TempDir dir;                       // made in the temporary folder
//   std::string p = dir.Write("a.tif", bytes);  // full path of the new file
//   std::string q = dir.Path("b.tif");          // a path inside, nothing made
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace tiftest {

class TempDir {
public:
    // Under the system's temporary folder ($TMPDIR, or TMP/TEMP on Windows),
    // named at random and made only if it did not exist: mkdtemp is POSIX only.
    TempDir()
    {
        namespace fs = std::filesystem;
        std::error_code noTemp;
        const fs::path base = fs::temp_directory_path(noTemp);
        std::random_device seed;
        std::mt19937_64 random((uint64_t(seed()) << 32) ^ seed());
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "vxtiff-test-%012llx",
                          static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
            const fs::path p = (noTemp ? fs::path(".") : base) / name;
            std::error_code ec;
            if (fs::create_directory(p, ec) && !ec)
                path_ = p.generic_string();
        }
        if (path_.empty())
            throw std::runtime_error("cannot make a temporary directory");
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    // Writes `bytes` to a file named `name` in the directory; returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
        if (!out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size())))
            throw std::runtime_error("cannot write " + Path(name));
        return Path(name);
    }

private:
    std::string path_;
};

// The whole content of a file (empty when it cannot be read).
inline std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace tiftest
