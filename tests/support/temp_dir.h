// temp_dir.h — a temporary directory that removes itself, for test files.
//
//   tiftest::TempDir dir;                       // made under $TMPDIR or /tmp
//   std::string p = dir.Write("a.tif", bytes);  // full path of the new file
//   std::string q = dir.Path("b.tif");          // a path inside, nothing made
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tiftest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    // Writes `bytes` to a file named `name` in the directory; returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::string path_;
};

// The whole content of a file (empty when it cannot be read).
std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace tiftest
