// brindleaf-make-home: writes a synthetic agent home of a given size into a
// folder; with --live it also starts the home's processes and keeps them
// running until interrupted.
#include "bench/generator/HomeGenerator.hpp"
#include "bench/generator/LiveProcessSet.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

using namespace brindleaf;
using namespace brindleaf::bench;

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void requestStop(int) { stopRequested = 1; }

int usage() {
    std::fprintf(stderr, "usage: brindleaf-make-home --size small|typical|heavy --out DIR [--seed N] [--live]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::optional<HomeSize> size;
    std::string out;
    uint64_t seed = 0x5eed;
    bool live = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            size = parseHomeSize(argv[++i]);
            if (!size) return usage();
        } else if (arg == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--live") {
            live = true;
        } else {
            return usage();
        }
    }
    if (!size || out.empty()) return usage();

    double started = monotonicSeconds();
    GeneratedHome home;
    try {
        home = HomeGenerator(HomeRecipe::forSize(*size), seed).write(out, currentDate());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brindleaf-make-home: %s\n", error.what());
        return 1;
    }
    std::printf("home %s (%s): %llu files, %.1f MiB in %.1f s; %zu planned processes\n", home.root.c_str(),
                std::string(toString(home.size)).c_str(), static_cast<unsigned long long>(home.filesWritten),
                double(home.bytesWritten) / (1024.0 * 1024.0), monotonicSeconds() - started, home.processes.size());
    if (!live) return 0;

    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    LiveProcessSet processes(home);
    for (std::size_t i = 0; i < home.processes.size(); ++i) {
        std::printf("  %-15s pid %d  %s\n", home.processes[i].kind.c_str(), processes.pids()[i],
                    home.processes[i].argv.front().c_str());
    }
    std::printf("processes running; interrupt to stop\n");
    std::fflush(stdout);
    while (!stopRequested) pause();
    processes.stop();
    return 0;
}
