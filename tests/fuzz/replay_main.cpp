// Runs a fuzz target without libFuzzer over every file named and every file in
// a named folder; fails when nothing was replayed, so a lost corpus cannot pass.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> files{argv[i]};
        std::error_code error;
        if (std::filesystem::is_directory(files[0], error)) {
            files.clear();
            for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
        }
        if (error) {
            std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            const std::vector<char> input((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            // Named before running: a crash then points at its input.
            std::fprintf(stderr, "replay %s (%zu bytes)\n", file.c_str(), input.size());
            std::fflush(stderr);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
            ++replayed;
        }
    }
    if (replayed == 0)
        std::fprintf(stderr, "no inputs replayed\n");
    return replayed == 0;
}
