// Runs a fuzz target's LLVMFuzzerTestOneInput over saved inputs, without
// libFuzzer: every file named on the command line, and every regular file
// below every folder named there. CTest uses it to replay the corpus and the
// regression inputs with the ordinary compiler; a crash or a sanitizer report
// fails the run, a clean pass prints how many inputs it replayed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool readFile(const fs::path& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            for (const auto& entry : fs::recursive_directory_iterator(path, ec)) {
                if (entry.is_regular_file()) inputs.push_back(entry.path());
            }
        } else if (fs::is_regular_file(path, ec)) {
            inputs.push_back(path);
        } else {
            std::fprintf(stderr, "%s: no such file or folder: %s\n", argv[0], argv[i]);
            return 2;
        }
        if (ec) {
            std::fprintf(stderr, "%s: cannot read %s: %s\n", argv[0], argv[i],
                         ec.message().c_str());
            return 2;
        }
    }
    // A fixed order makes a failing replay repeatable.
    std::sort(inputs.begin(), inputs.end());

    std::vector<uint8_t> bytes;
    for (const fs::path& input : inputs) {
        if (!readFile(input, bytes)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], input.c_str());
            return 2;
        }
        // Named before running so that a crash shows which input caused it.
        std::fprintf(stderr, "replaying %s\n", input.c_str());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
