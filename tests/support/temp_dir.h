// temp_dir.h — a temporary directory that removes itself, for test files.
//
//   tiftest::TempDir dir;                       // made under $TMPDIR or /tmp
//   std::string p = dir.Write("a.tif", bytes);  // full path of the new file
//   std::string q = dir.Path("b.tif");          // a path inside, nothing made
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tiftest {

class TempDir {
public:
    TempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vxtiff-test-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
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
