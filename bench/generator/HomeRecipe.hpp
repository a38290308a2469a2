#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindleaf::bench {

enum class HomeSize { small, typical, heavy };

std::string_view toString(HomeSize size);
std::optional<HomeSize> parseHomeSize(std::string_view text);

// How much of each agent's data a synthetic home holds, and how many of its
// sessions get a live process.
struct HomeRecipe {
    HomeSize size = HomeSize::small;

    // Claude Code: transcripts (sub-agent transcripts included) spread over
    // project folders; `claudeBigTranscripts` of them are 8 MiB long.
    std::size_t claudeTranscripts = 10;
    std::size_t claudeProjects = 3;
    std::size_t claudeBigTranscripts = 0;
    std::size_t claudeEngines = 2;          // live engine processes
    std::size_t claudeStaleRegistry = 3;    // registry files of engines long gone

    // Codex: threads in state_5.sqlite, rows in logs_2.sqlite, and how many of
    // the newest threads have a rollout file on disk.
    std::size_t codexThreads = 20;
    std::size_t codexLogRows = 2000;
    std::size_t codexRollouts = 20;
    std::size_t codexAppProcesses = 2;      // live app-server processes

    // Hermes: sessions in state.db, messages per session, the agent log's size.
    std::size_t hermesSessions = 10;
    std::size_t hermesMessagesPerSession = 12;
    std::size_t hermesLogBytes = 64 * 1024;
    std::size_t hermesWorkers = 1;          // live slash workers
    std::size_t hermesChildren = 1;         // live children listed in processes.json

    static HomeRecipe forSize(HomeSize size);
};

} // namespace brindleaf::bench
