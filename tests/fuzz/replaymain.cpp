// Corpus replay: runs every file of the folders (or the files) named on the
// command line once through the target's LLVMFuzzerTestOneInput. Built
// without libFuzzer, so the seed corpora run as ordinary tests in every build.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzzsupport.h"

int main(int argc, char **argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        if (fs::is_directory(arg)) {
            for (const auto &entry : fs::directory_iterator(arg)) {
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
            }
        } else {
            inputs.push_back(arg);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s <corpus folder or input>...: no inputs found\n", argv[0]);
        return 2;
    }
    for (const fs::path &path : inputs) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 2;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::printf("%s (%zu bytes)", path.filename().c_str(), bytes.size());
        std::fflush(stdout);
        const auto start = std::chrono::steady_clock::now();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
        const auto spent = std::chrono::steady_clock::now() - start;
        std::printf(" %lld ms\n", static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(spent).count()));
    }
    std::printf("%zu inputs replayed, none failed\n", inputs.size());
    std::fflush(stdout);
    // The targets keep their peer, controller and worker thread for the whole
    // process; leave without tearing them down under a running thread.
    std::_Exit(0);
}
