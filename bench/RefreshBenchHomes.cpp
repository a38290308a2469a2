#include "bench/RefreshBenchHomes.hpp"

#include "core/ProcessResourceSampler.hpp"

#include <cstdlib>
#include <map>
#include <mutex>
#include <unistd.h>

namespace brindleaf::bench {

namespace {
constexpr double maximumHomeAge = 900;
}

std::filesystem::path benchHomesDirectory() {
    const char* configured = std::getenv("BRINDLEAF_BENCH_HOMES");
    if (configured && *configured) return configured;
    // Next to the program: two builds (two people benchmarking) never share homes.
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "/tmp/brindleaf-bench-homes";
    return std::filesystem::path(std::string(buffer, std::size_t(n))).parent_path() / "bench-homes";
}

GeneratedHome regenerateBenchHome(HomeSize size) {
    return HomeGenerator(HomeRecipe::forSize(size)).write(benchHomesDirectory() / std::string(toString(size)), currentDate());
}

BenchHome& benchHome(HomeSize size) {
    static std::mutex lock;
    static std::map<HomeSize, std::unique_ptr<BenchHome>> homes;
    std::lock_guard<std::mutex> guard(lock);
    auto& slot = homes[size];
    if (slot) return *slot;
    slot = std::make_unique<BenchHome>();
    auto root = benchHomesDirectory() / std::string(toString(size));
    auto existing = GeneratedHome::loadManifest(root);
    if (existing && currentDate() - existing->generatedAt < maximumHomeAge) {
        slot->home = *existing;
    } else {
        slot->home = regenerateBenchHome(size);
    }
    slot->processes = std::make_unique<LiveProcessSet>(slot->home);
    slot->samples = ProcessResourceSampler::sampleAll();
    return *slot;
}

} // namespace brindleaf::bench
