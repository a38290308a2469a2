#pragma once

#include <string>
#include <vector>

namespace brindleaf {

// True when any argument equals "--screenshot-mode".
bool screenshotModeFromArguments(const std::vector<std::string>& arguments);

// The process-wide flag: read once from this process's command line on first
// use and never changed. It hides the sample-data banner and notice; the sample
// sessions themselves still show.
bool isScreenshotMode();

} // namespace brindleaf
