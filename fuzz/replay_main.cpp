// Replays a fuzz target's corpus without libFuzzer, in the normal build: every file of
// the folders (or the files) named on the command line goes once through the target's
// LLVMFuzzerTestOneInput, in name order. A crash or a broken invariant (the targets
// abort) ends the run; the input's name is on stderr just before. A folder without
// inputs fails too, so a misspelt seed folder cannot pass as an empty one.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Defined by the targets that set something up once (a Qt application, quiet logs).
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <seed folder or file>...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path given = argv[i];
        std::error_code error;
        std::vector<fs::path> found;
        if (fs::is_directory(given, error)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(given, error))
                if (entry.is_regular_file()) found.push_back(entry.path());
        } else if (fs::is_regular_file(given, error)) {
            found.push_back(given);
        }
        if (found.empty()) {
            std::fprintf(stderr, "no inputs in %s\n", given.c_str());
            return 1;
        }
        std::sort(found.begin(), found.end());
        inputs.insert(inputs.end(), found.begin(), found.end());
    }

    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    const auto started = std::chrono::steady_clock::now();
    for (const fs::path& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (!file.good() && !file.eof()) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        // A buffer of exactly the input's size, as libFuzzer gives: a read past it is
        // caught in the sanitizer builds.
        auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), copy.get());
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(copy.get(), bytes.size());
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    std::printf("%zu inputs replayed in %lld ms\n", inputs.size(), static_cast<long long>(ms));
    return 0;
}
