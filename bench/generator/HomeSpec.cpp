#include "bench/generator/HomeSpec.hpp"

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

HomeSpec HomeSpec::forSize(HomeSize size) {
    HomeSpec spec;
    spec.size = size;
    switch (size) {
    case HomeSize::small:
        break;
    case HomeSize::typical:
        spec.claudeTranscripts = 300;
        spec.claudeProjects = 40;
        spec.claudeBigTranscripts = 0;
        spec.claudeEngines = 8;
        spec.claudeStaleRegistry = 20;
        spec.codexThreads = 2000;
        spec.codexLogRows = 100000;
        spec.codexRollouts = 400;
        spec.codexAppProcesses = 6;
        spec.hermesSessions = 200;
        spec.hermesMessagesPerSession = 16;
        spec.hermesLogBytes = 1024 * 1024;
        spec.hermesWorkers = 4;
        spec.hermesChildren = 3;
        break;
    case HomeSize::heavy:
        spec.claudeTranscripts = 5000;
        spec.claudeProjects = 300;
        spec.claudeBigTranscripts = 24;
        spec.claudeEngines = 30;
        spec.claudeStaleRegistry = 200;
        spec.codexThreads = 50000;
        spec.codexLogRows = 1000000;
        spec.codexRollouts = 2000;
        spec.codexAppProcesses = 24;
        spec.hermesSessions = 5000;
        spec.hermesMessagesPerSession = 20;
        spec.hermesLogBytes = 5 * 1024 * 1024;
        spec.hermesWorkers = 12;
        spec.hermesChildren = 8;
        break;
    }
    return spec;
}

} // namespace brindleaf::bench
