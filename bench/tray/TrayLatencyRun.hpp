#pragma once

#include <map>
#include <string>
#include <vector>

namespace brindleaf::bench {

// The time from appending a line to a shown session's transcript to the
// status bar controller's "render.applied", measured in this process on the
// composition the tray application runs (TrayShell on the Qt main queue, the
// offscreen platform), with every log line time-stamped on arrival.
struct TrayLatencyRun {
    struct Result {
        // From the write to the first "render.applied" after it.
        std::vector<double> nextRender;
        // From the write to the first "render.applied" of a refresh that
        // started after the file-triggered request: the first render that
        // can show the new line.
        std::vector<double> changeRendered;
        // How the file change reached the controller ("session-activity", "file-change", "none").
        std::map<std::string, int> routes;
        std::string lastRenderLine;
        int missed = 0;
    };

    std::string home;                               // the agents' folders are below it
    std::map<std::string, std::string> environment; // what the shell is told
    std::string transcript;                         // the file appended to
    int appends = 40;
    double spacingSeconds = 2;

    // Needs no QApplication yet: makes one (offscreen) and runs its event loop
    // until the appends are done.
    Result run() const;
};

} // namespace brindleaf::bench
