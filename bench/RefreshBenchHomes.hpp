#pragma once

#include "bench/generator/HomeGenerator.hpp"
#include "bench/generator/LiveProcessSet.hpp"
#include "core/ProcessResourceSample.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace brindleaf::bench {

// A generated home with its processes running, shared by every benchmark of
// one program run.
struct BenchHome {
    GeneratedHome home;
    std::unique_ptr<LiveProcessSet> processes;
    // The process table sampled once after the processes started: what a
    // refresh that reuses the cached process snapshot sees.
    std::vector<ProcessResourceSample> samples;

    std::string root() const { return home.root.string(); }
};

// The folder that holds one home per size: $BRINDLEAF_BENCH_HOMES, else
// "bench-homes" next to the benchmark program.
std::filesystem::path benchHomesDirectory();

// The home of that size, written when missing or older than 15 minutes (its
// sessions are only "active" for a while after it is written), with its
// processes started on first use.
BenchHome& benchHome(HomeSize size);

// Writes the home of that size afresh (used once at the start of `make bench`).
GeneratedHome regenerateBenchHome(HomeSize size);

} // namespace brindleaf::bench
