#include "bench/generator/HomeRecipe.hpp"

namespace brindleaf::bench {

std::string_view toString(HomeSize size) {
    switch (size) {
    case HomeSize::small: return "small";
    case HomeSize::typical: return "typical";
    case HomeSize::heavy: return "heavy";
    }
    return "small";
}

std::optional<HomeSize> parseHomeSize(std::string_view text) {
    if (text == "small") return HomeSize::small;
    if (text == "typical") return HomeSize::typical;
    if (text == "heavy") return HomeSize::heavy;
    return std::nullopt;
}

HomeRecipe HomeRecipe::forSize(HomeSize size) {
    HomeRecipe recipe;
    recipe.size = size;
    switch (size) {
    case HomeSize::small:
        break;
    case HomeSize::typical:
        recipe.claudeTranscripts = 300;
        recipe.claudeProjects = 40;
        recipe.claudeBigTranscripts = 0;
        recipe.claudeEngines = 8;
        recipe.claudeStaleRegistry = 20;
        recipe.codexThreads = 2000;
        recipe.codexLogRows = 100000;
        recipe.codexRollouts = 400;
        recipe.codexAppProcesses = 6;
        recipe.hermesSessions = 200;
        recipe.hermesMessagesPerSession = 16;
        recipe.hermesLogBytes = 1024 * 1024;
        recipe.hermesWorkers = 4;
        recipe.hermesChildren = 3;
        break;
    case HomeSize::heavy:
        recipe.claudeTranscripts = 5000;
        recipe.claudeProjects = 300;
        recipe.claudeBigTranscripts = 24;
        recipe.claudeEngines = 30;
        recipe.claudeStaleRegistry = 200;
        recipe.codexThreads = 50000;
        recipe.codexLogRows = 1000000;
        recipe.codexRollouts = 2000;
        recipe.codexAppProcesses = 24;
        recipe.hermesSessions = 5000;
        recipe.hermesMessagesPerSession = 20;
        recipe.hermesLogBytes = 5 * 1024 * 1024;
        recipe.hermesWorkers = 12;
        recipe.hermesChildren = 8;
        break;
    }
    return recipe;
}

} // namespace brindleaf::bench
