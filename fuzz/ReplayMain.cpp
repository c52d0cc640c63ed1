// Runs a fuzz target's LLVMFuzzerTestOneInput over saved inputs without
// libFuzzer (CTest replays the corpus and regression inputs with it): every
// file named and every regular file below every folder named, in a fixed
// order so a failure is repeatable.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc < 2) return std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]), 2;
    std::vector<fs::path> inputs;
    std::error_code ec;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        if (fs::is_directory(path, ec)) {
            for (const auto& entry : fs::recursive_directory_iterator(path, ec))
                if (entry.is_regular_file()) inputs.push_back(entry.path());
        } else if (fs::is_regular_file(path, ec)) {
            inputs.push_back(path);
        } else {
            ec = std::make_error_code(std::errc::no_such_file_or_directory);
        }
        if (ec)
            return std::fprintf(stderr, "%s: cannot read %s: %s\n", argv[0], argv[i], ec.message().c_str()), 2;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!in) return std::fprintf(stderr, "%s: cannot read %s\n", argv[0], input.c_str()), 2;
        std::fprintf(stderr, "replaying %s\n", input.c_str());  // before running: a crash names its input
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
}
