#include "bench/tray/TrayLatencyRun.hpp"

#include "app/shell/TrayShell.hpp"
#include "bench/ClaudeBenchTranscripts.hpp"
#include "core/Date.hpp"
#include "platform/Logger.hpp"
#include "platform/TimedLogSink.hpp"
#include "platform/UserDefaults.hpp"
#include "presentation/QtMainQueue.hpp"

#include <QApplication>

#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

namespace brindleaf::bench {

namespace {

double monotonicNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Timings {
    std::optional<double> nextRender;
    std::optional<double> changeRendered;
    std::string route;
};

// Reads the lines logged since the write at `writtenAt`.
Timings timingsAfter(const std::vector<TimedLogSink::Line>& lines, double writtenAt) {
    Timings found;
    std::optional<double> requestedAt;
    bool startedAfterRequest = false;
    for (const auto& line : lines) {
        if (line.monotonicTime < writtenAt) continue;
        const auto& message = line.record.message;
        if (message.starts_with("render.applied ")) {
            if (!found.nextRender) found.nextRender = line.monotonicTime;
            if (startedAfterRequest) {
                found.changeRendered = line.monotonicTime;
                return found;
            }
        } else if (!requestedAt && message.starts_with("refresh.requested reason=")) {
            const std::string reason = message.substr(std::string("refresh.requested reason=").size());
            // Nothing else below the home changes while the bench runs.
            for (const char* route : {"session-activity", "file-change"})
                if (reason.starts_with(std::string(route) + ":")) {
                    requestedAt = line.monotonicTime;
                    found.route = route;
                }
        } else if (requestedAt && message.starts_with("refresh.started ")) {
            startedAfterRequest = true;
        }
    }
    return found;
}

} // namespace

TrayLatencyRun::Result TrayLatencyRun::run() const {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "brindleaf-tray-bench";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    auto sink = std::make_shared<TimedLogSink>();
    Logger::setSink(sink);
    Result result;
    {
        auto mainQueue = std::make_shared<QtMainQueue>();
        TrayShell::Options options;
        options.mainQueue = mainQueue;
        options.defaults = UserDefaults::inMemory("com.quorvale.Brindleaf");
        options.defaults->set("welcomeShown.v1", true);
        options.environment = environment;
        options.home = home;
        options.keyGrabs = false;
        TrayShell shell(std::move(options));

        std::thread driver([&] {
            auto rendered = [&] { return !sink->messagesStartingWith("render.applied ").empty(); };
            for (int i = 0; i < 600 && !rendered(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            // The start-up scans are done and the session watches armed.
            std::this_thread::sleep_for(std::chrono::seconds(5));
            for (int i = 0; i < appends; ++i) {
                sink->clear();
                const double writtenAt = monotonicNow();
                std::ofstream(transcript, std::ios::app)
                    << R"({"type":"user","message":{"role":"user","content":"bench )" << i << R"("},"timestamp":")"
                    << claudebench::isoTime(currentDate()) << "\"}\n";
                Timings timings;
                while (monotonicNow() - writtenAt < spacingSeconds * 2.5) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    timings = timingsAfter(sink->lines(), writtenAt);
                    if (timings.changeRendered) break;
                }
                if (timings.nextRender) result.nextRender.push_back(*timings.nextRender - writtenAt);
                if (timings.changeRendered)
                    result.changeRendered.push_back(*timings.changeRendered - writtenAt);
                else
                    ++result.missed;
                ++result.routes[timings.route.empty() ? "none" : timings.route];
                const double next = writtenAt + spacingSeconds;
                while (monotonicNow() < next) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            auto renders = sink->messagesStartingWith("render.applied ");
            if (!renders.empty()) result.lastRenderLine = renders.back();
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
        });
        QApplication::exec();
        driver.join();
    }
    Logger::setSink(nullptr);
    return result;
}

} // namespace brindleaf::bench
