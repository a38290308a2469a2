#pragma once

#include "bench/generator/HomeGenerator.hpp"
#include "bench/generator/HomeWriting.hpp"

#include <vector>

// The per-agent writers of HomeGenerator.
namespace brindleaf::bench {

struct HomeWriteContext {
    const HomeRecipe& recipe;
    writing::Random& random;
    const std::filesystem::path& root;  // the user's home folder
    Date now;
    writing::WriteCounter& counter;
    std::vector<LiveProcessPlan>& processes;
};

void writeClaudeHome(HomeWriteContext& context);
void writeCodexHome(HomeWriteContext& context);
void writeHermesHome(HomeWriteContext& context);

// A working folder below the home, created so processes can run in it.
std::string projectWorkingDirectory(const std::filesystem::path& root, std::string_view agent, std::size_t index,
                                    writing::Random& random);

} // namespace brindleaf::bench
