#include "StatusBarControllerFakes.hpp"

#include "platform/FileEventSource.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "services/FileChangeWatcher.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>

using namespace brindleaf;
using namespace brindleaf::testing;

TEST(StatusBarControllerFileWatch, ARuntimeLogBurstGivesOneRefreshNamingTheFirstPath) {
    ControllerRig rig;
    rig.start();
    for (int i = 0; i < 10; ++i) {
        rig.runtimeLogWatcher->report("/h/.codex/logs_2.sqlite-wal#" + std::to_string(i));
        rig.queue->drain();
        rig.queue->advance(0.01);
    }
    EXPECT_EQ(rig.messages("refresh.debounce scheduled"),
              std::vector<std::string>{
                  "refresh.debounce scheduled reason=runtime-log:/h/.codex/logs_2.sqlite-wal#0 delayMs=350"});
    EXPECT_EQ(rig.count("refresh.debounce coalesced reason=runtime-log:"), 9u);
    rig.queue->advance(0.3);
    EXPECT_EQ(
        rig.messages("refresh.requested reason=runtime-log"),
        std::vector<std::string>{
            "refresh.requested reason=runtime-log:/h/.codex/logs_2.sqlite-wal#0 enabled=Claude Code,Codex,Hermes"});
}

TEST(StatusBarControllerFileWatch, RuntimeLogRefreshesAreSpacedAboutThreeQuartersOfASecond) {
    ControllerRig rig;
    rig.start();
    rig.runtimeLogWatcher->report("/l");
    rig.queue->drain();
    rig.queue->advance(0.35); // the first refresh
    rig.queue->advance(0.2);
    rig.runtimeLogWatcher->report("/l");
    rig.queue->drain();
    rig.queue->advance(0.55); // the second refresh
    rig.queue->advance(5);
    rig.runtimeLogWatcher->report("/l");
    rig.queue->drain();
    EXPECT_EQ(rig.messages("refresh.debounce scheduled"),
              (std::vector<std::string>{"refresh.debounce scheduled reason=runtime-log:/l delayMs=350",
                                        "refresh.debounce scheduled reason=runtime-log:/l delayMs=550",
                                        "refresh.debounce scheduled reason=runtime-log:/l delayMs=350"}));
    EXPECT_EQ(rig.count("refresh.requested reason=runtime-log:/l"), 2u);
}

TEST(StatusBarControllerFileWatch, TranscriptWritesRefreshWithoutRebuildNewProjectFoldersRebuildOnce) {
    ControllerRig rig(false, "/h");
    rig.start();
    ASSERT_EQ(rig.fileWatcher->watchCalls(), 1u);
    rig.fileWatcher->report("/h/.claude/projects/p/abc.jsonl");
    rig.queue->drain();
    rig.queue->advance(0.25);
    rig.fileWatcher->report("/h/projects/codex/state_5.sqlite-wal");
    rig.queue->drain();
    rig.queue->advance(2);
    EXPECT_EQ(rig.fileWatcher->watchCalls(), 1u);
    EXPECT_EQ(rig.messages("refresh.requested reason=file-change"),
              std::vector<std::string>{"refresh.requested reason=file-change:/h/projects/codex/state_5.sqlite-wal "
                                       "enabled=Claude Code,Codex,Hermes"});

    rig.fileWatcher->report("/h/.claude/projects/new-project");
    rig.queue->drain();
    rig.queue->advance(0.5);
    rig.fileWatcher->report("/h/.claude/projects");
    rig.queue->drain();
    rig.queue->advance(0.5);
    EXPECT_EQ(rig.fileWatcher->watchCalls(), 2u);
    rig.queue->advance(2);
    EXPECT_EQ(rig.fileWatcher->watchCalls(), 2u);
    EXPECT_EQ(rig.count("refresh.debounce scheduled reason=file-change:/h/.claude/projects/new-project delayMs=350"),
              1u);
}

namespace {

// Whether the kernel watches the file's inode for the inotify instance `descriptor`.
bool kernelWatches(int descriptor, const std::filesystem::path& file) {
    struct stat info {};
    if (descriptor < 0 || ::stat(file.c_str(), &info) != 0) return false;
    std::ifstream in("/proc/self/fdinfo/" + std::to_string(descriptor));
    for (std::string line; std::getline(in, line);) {
        auto at = line.find(" ino:");
        if (line.starts_with("inotify ") && at != std::string::npos &&
            std::stoul(line.substr(at + 5), nullptr, 16) == info.st_ino)
            return true;
    }
    return false;
}

// A file watcher on a real inotify instance, whose watches the kernel shows.
struct InotifyWatcher {
    int descriptor = -1;
    std::shared_ptr<FileChangeWatcher> watcher = std::make_shared<FileChangeWatcher>([this] {
        auto source = InotifyFileEventSource::create();
        if (source) descriptor = source->descriptor();
        return std::unique_ptr<FileEventSource>(std::move(source));
    });

    InotifyWatcher() = default;
    InotifyWatcher(const InotifyWatcher&) = delete;
    InotifyWatcher& operator=(const InotifyWatcher&) = delete;

    // Whether the kernel watches the file, waited for up to 10 s: the
    // watches are bound on the watcher's thread.
    bool watches(const std::filesystem::path& file) const {
        for (int i = 0; i < 1000 && !kernelWatches(descriptor, file); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return kernelWatches(descriptor, file);
    }
};

// Waits up to 10 s until the watcher's thread has put work on the rig's queue.
void waitForQueuedWork(ControllerRig& rig) {
    for (int i = 0; i < 1000 && rig.queue->pendingCount() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
} // namespace

TEST(StatusBarControllerFileWatch, AnAppendToAWatchedTranscriptLeadsToOneAppliedRefresh) {
    TempDir home;
    auto transcript = home.write(".claude/projects/p/session.jsonl", "{}\n");
    ControllerRig rig(false, home.path().string());
    rig.wallClockOffset = currentDate() - rig.queue->now();
    InotifyWatcher inotify;
    rig.dependencies.fileWatcher = inotify.watcher;
    rig.start();
    ASSERT_TRUE(inotify.watches(transcript));
    auto applied = rig.surface->rendered.size();

    std::ofstream(transcript, std::ios::app) << "{\"type\":\"user\"}\n";
    waitForQueuedWork(rig);
    rig.queue->drain();
    rig.queue->advance(0.5);
    EXPECT_EQ(rig.messages("refresh.requested reason=file-change"),
              std::vector<std::string>{"refresh.requested reason=file-change:" + transcript.string() +
                                       " enabled=Claude Code,Codex,Hermes"});
    EXPECT_EQ(rig.surface->rendered.size(), applied + 1);
    rig.controller.reset();
    inotify.watcher->stop();
}

// A Claude Code engine rewrites its registry file in place when it starts
// waiting for the user; that refreshes as a shown transcript's change does,
// and the watch lists are not rebuilt for it.
TEST(StatusBarControllerFileWatch, ARegistryFileRewriteRefreshesAfterTheSessionActivityDelay) {
    TempDir home;
    auto registryFile = home.write(".claude/sessions/4242.json", "{\"pid\":4242,\"status\":\"busy\"}");
    ControllerRig rig(false, home.path().string());
    InotifyWatcher inotify;
    rig.dependencies.sessionActivityFileWatcher = inotify.watcher;
    rig.start();
    ASSERT_TRUE(inotify.watches(home.path() / ".claude/sessions")) << "the registry folder was never watched";
    const auto fileChangesBefore = rig.count("refresh.requested reason=file-change");

    {
        std::fstream file(registryFile, std::ios::in | std::ios::out); // in place, as the engine writes
        file << "{\"pid\":4242,\"status\":\"waiting\"}";
    }
    waitForQueuedWork(rig);
    rig.queue->drain();
    ASSERT_FALSE(rig.messages("refresh.debounce scheduled reason=session-activity").empty())
        << "the rewrite was not reported";
    EXPECT_EQ(rig.messages("refresh.debounce scheduled reason=session-activity").front(),
              "refresh.debounce scheduled reason=session-activity:" + registryFile.string() + " delayMs=200");
    rig.queue->advance(0.21);
    EXPECT_EQ(rig.count("refresh.requested reason=session-activity:" + registryFile.string()), 1u);
    EXPECT_EQ(rig.count("refresh.requested reason=file-change"), fileChangesBefore);
    rig.controller.reset();
    inotify.watcher->stop();
}

TEST(StatusBarControllerFileWatch, AFileChangeRefreshesThreeHundredFiftyMillisecondsAfterItsEvent) {
    ControllerRig rig(false, "/h");
    rig.start();
    rig.fileWatcher->report("/h/.hermes/state.db");
    rig.queue->drain();
    rig.queue->advance(0.34);
    EXPECT_EQ(rig.count("refresh.requested reason=file-change"), 0u);
    rig.queue->advance(0.02);
    EXPECT_EQ(rig.count("refresh.requested reason=file-change:/h/.hermes/state.db"), 1u);
}

TEST(StatusBarControllerFileWatch, SessionActivityRefreshesTwoHundredMillisecondsAfterTheLastEvent) {
    ControllerRig rig;
    rig.codex->setSessions({{"s1", "/r/s1.jsonl"}, {"s2", "/r/s2.jsonl"}});
    rig.start();
    ASSERT_EQ(rig.sessionWatcher->lists, (std::vector<std::vector<std::string>>{
                                             {"/nonexistent-home/.claude/sessions", "/r/s1.jsonl", "/r/s2.jsonl"}}));
    rig.sessionWatcher->report("/r/s1.jsonl");
    rig.queue->drain();
    rig.queue->advance(0.15);
    rig.sessionWatcher->report("/r/s2.jsonl"); // restarts the wait
    rig.queue->drain();
    EXPECT_EQ(rig.messages("refresh.debounce scheduled reason=session-activity"),
              (std::vector<std::string>{"refresh.debounce scheduled reason=session-activity:/r/s1.jsonl delayMs=200",
                                        "refresh.debounce scheduled reason=session-activity:/r/s2.jsonl delayMs=200"}));
    rig.queue->advance(0.19);
    EXPECT_EQ(rig.count("refresh.requested reason=session-activity"), 0u);
    rig.queue->advance(0.02);
    EXPECT_EQ(rig.messages("refresh.requested reason=session-activity"),
              std::vector<std::string>{
                  "refresh.requested reason=session-activity:/r/s2.jsonl enabled=Claude Code,Codex,Hermes"});
}

// The welcome's end lists the agent folders again before it asks for the
// refresh, so the refresh's load runs after the new listing.
TEST(StatusBarControllerFileWatch, WelcomeFinishedRebuildsTheWatchesBeforeItsRefresh) {
    ControllerRig rig(/*held=*/true);
    rig.start();
    rig.heldRunner.runAll();
    rig.queue->drain();
    ASSERT_EQ(rig.fileWatcher->watchCalls(), 1u);
    rig.controller->welcomeFinished();
    EXPECT_EQ(rig.count("refresh.requested reason=welcome-finished"), 1u);
    ASSERT_EQ(rig.heldRunner.jobs.size(), 2u);
    auto first = std::move(rig.heldRunner.jobs.front());
    rig.heldRunner.jobs.pop_front();
    first();
    rig.queue->drain();
    EXPECT_EQ(rig.fileWatcher->watchCalls(), 2u);
    EXPECT_EQ(rig.runtimeLogWatcher->watchCalls(), 2u);
}

namespace {

// An official-status probe that only keeps the change handler it is given.
class HandlerKeepingProbe final : public CodexOfficialStatusProbe {
public:
    std::vector<CodexOfficialThreadStatus> fetchSnapshot(Date) override { return {}; }
    void setChangeHandler(std::function<void()> handler) override { this->handler = std::move(handler); }
    std::function<void()> handler;
};

} // namespace

TEST(StatusBarControllerFileWatch, ADaemonStatusChangeRefreshesSoonOncePerBurst) {
    ControllerRig rig;
    TempDir codexHome;
    auto probe = std::make_shared<HandlerKeepingProbe>();
    auto codex = std::make_shared<CodexStatusProvider>(
        CodexProviderConfig::standard(codexHome.path().string(), std::nullopt), [] { return ProcessSampleList(); },
        probe);
    rig.dependencies.service =
        std::make_shared<AgentStatusService>(std::vector<std::shared_ptr<AgentStatusProvider>>{codex}, 5.0);
    rig.start();
    ASSERT_TRUE(probe->handler) << "the controller does not hear the daemon's changes";

    for (int i = 0; i < 3; ++i) probe->handler(); // as the probe's thread calls it
    rig.queue->drain();
    EXPECT_EQ(rig.messages("refresh.debounce scheduled reason=codex-daemon"),
              std::vector<std::string>{"refresh.debounce scheduled reason=codex-daemon delayMs=100"});
    rig.queue->advance(0.1);
    EXPECT_EQ(rig.count("refresh.requested reason=codex-daemon"), 1u);

    rig.controller.reset();
    EXPECT_FALSE(probe->handler) << "a gone controller is still called";
}
