// Replays a fuzz target over its committed corpus, so that every build
// (not only the fuzzing one) runs each case that once found a fault.
// Usage: TARGET CORPUS_FOLDER...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    namespace fs = std::filesystem;
    std::size_t cases = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> files;
        for (const auto &entry : fs::directory_iterator(argv[i])) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path &file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                             std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++cases;
        }
    }
    std::printf("replayed %zu cases\n", cases);
    return cases ? 0 : 1;
}
