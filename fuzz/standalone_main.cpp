// standalone_main.cpp — runs a fuzz target's entry point over files without
// libFuzzer: each argument is a file or a directory (searched recursively, in
// name order). A crash, sanitizer report, or an input that takes longer than
// FUZZ_INPUT_SECONDS (default 10; libFuzzer's -timeout in the fuzzing runs)
// fails the ctest that runs it: a small input must never make the library work
// for long.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        fs::path p(argv[i]);
        if (fs::is_directory(p, ec)) {
            for (const auto& e : fs::recursive_directory_iterator(p, ec))
                if (e.is_regular_file())
                    files.push_back(e.path());
        } else if (fs::is_regular_file(p, ec)) {
            files.push_back(p);
        }
    }
    std::sort(files.begin(), files.end());
    const char* limitText = std::getenv("FUZZ_INPUT_SECONDS");
    const double limit = limitText != nullptr && std::atof(limitText) > 0 ? std::atof(limitText) : 10.0;
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // An empty vector's data() may be null; libFuzzer never passes null.
        static const uint8_t none = 0;
        const auto start = std::chrono::steady_clock::now();
        LLVMFuzzerTestOneInput(data.empty() ? &none : data.data(), data.size());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds > limit) {
            std::fprintf(stderr, "%s: %.1f s, over the %.0f s allowed for one input\n", f.string().c_str(), seconds,
                         limit);
            return 1;
        }
    }
    std::printf("%lu inputs run\n", static_cast<unsigned long>(files.size()));
    return 0;
}
