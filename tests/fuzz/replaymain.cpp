// Corpus replay: runs every file of the folders named on the command line
// once through the target's LLVMFuzzerTestOneInput (a single input: run the
// libFuzzer program on it, or give it a folder of its own). Built without
// libFuzzer, so the seed corpora run as ordinary tests in every build.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzzsupport.h"

#if defined(__SANITIZE_THREAD__)
#define ZV_REPLAY_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZV_REPLAY_TSAN 1
#endif
#endif

#ifdef ZV_REPLAY_TSAN
#include <atomic>

// ThreadSanitizer reports and goes on; the exit status that says so comes
// from its exit handler, which the _Exit() below skips. Its hook counts them.
static std::atomic<int> raceReports{0};
extern "C" void __tsan_on_report(const void *)
{
    ++raceReports;
}
#endif

int main(int argc, char **argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    std::error_code error; // not a folder: no inputs from it
    for (int i = 1; i < argc; ++i) {
        for (const auto &entry : fs::directory_iterator(argv[i], error))
            inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s <corpus folder>...: no inputs found\n", argv[0]);
        return 2;
    }
    for (const fs::path &path : inputs) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 2;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        // Named first, so a failing input is the last one named.
        std::printf("%s (%zu bytes)\n", path.filename().c_str(), bytes.size());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs replayed, none failed\n", inputs.size());
    std::fflush(stdout);
#ifdef ZV_REPLAY_TSAN
    if (raceReports) {
        std::fprintf(stderr, "ThreadSanitizer made %d reports\n", raceReports.load());
        std::_Exit(66);
    }
#endif
    // The targets keep their peer, controller and worker thread for the whole
    // process; leave without tearing them down under a running thread.
    std::_Exit(0);
}
