#include "app/shell/TrayShell.hpp"

#include "core/ProcessResourceSampler.hpp"
#include "platform/FakeProcessTable.hpp"
#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"
#include "presentation/StatusDashboardModel.hpp"
#include "providers/claude/ClaudeProviderConfig.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "sync/StatusCloudSyncController.hpp"
#include "tests/app/shell/ShellTestSupport.hpp"
#include "tests/support/FontconfigLeakSuppression.hpp"
#include "tests/support/ReadOnlyFolder.hpp"
#include "tests/support/TempDir.hpp"
#include "windows/FloatingStatusWindow.hpp"
#include "windows/FloatingStatusWindowController.hpp"
#include "windows/SettingsWindowController.hpp"
#include "windows/WelcomeWindowController.hpp"

#include <QApplication>
#include <QDialog>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>

namespace brindleaf {
namespace {

// The shell in an empty home of its own, with its settings in memory.
struct ShellFixture {
    testing::TempDir dir;
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory("tray-shell-tests");
    std::unique_ptr<TrayShell> shell;

    explicit ShellFixture(bool welcomeShown = true) {
        testing::shellApplication();
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        if (welcomeShown) defaults->set("welcomeShown.v1", true);
        TrayShell::Options options;
        options.mainQueue = std::make_shared<QtMainQueue>();
        options.defaults = defaults;
        options.home = (dir / "home").string();
        shell = std::make_unique<TrayShell>(std::move(options));
    }
    ~ShellFixture() {
        shell.reset();
        QCoreApplication::processEvents();
    }
};

// The log while the object lives: the lines that begin with a prefix.
struct CapturedLog {
    std::shared_ptr<MemoryLogSink> sink = std::make_shared<MemoryLogSink>();
    CapturedLog() {
        Logger::setSink(sink);
        Logger::setDebugEnabled(true); // the per-refresh lines these tests read
    }
    ~CapturedLog() {
        Logger::setDebugEnabled(false);
        Logger::setSink(nullptr);
    }
    std::vector<std::string> lines(const std::string& prefix, const std::string& part = "") const {
        std::vector<std::string> found;
        for (const auto& message : sink->messages())
            if (message.starts_with(prefix) && message.find(part) != std::string::npos) found.push_back(message);
        return found;
    }
    std::size_t count(const std::string& prefix, const std::string& part = "") const {
        return lines(prefix, part).size();
    }
};

TEST(TrayShellTests, SettingsFromThePopupOpenAfterThePopupClosed) {
    ShellFixture fixture;
    auto& shell = *fixture.shell;
    shell.showPopover();
    ASSERT_TRUE(shell.isPopoverShown());

    shell.dashboardModel().actions.onSettings(SettingsPane::agents);
    EXPECT_FALSE(shell.isPopoverShown());
    EXPECT_EQ(shell.settingsWindow(), nullptr);
    ASSERT_TRUE(
        testing::runUntil([&] { return shell.settingsWindow() && shell.settingsWindow()->window()->isVisible(); }));
    EXPECT_EQ(shell.settingsWindow()->selectedPane(), SettingsPane::agents);
}

TEST(TrayShellTests, FloatingWindowTogglesAndAToggleDuringTheFadeOutShowsItAgain) {
    ShellFixture fixture;
    auto& shell = *fixture.shell;
    shell.toggleFloatingWindow();
    ASSERT_TRUE(shell.isFloatingWindowShown());
    shell.toggleFloatingWindow();
    EXPECT_FALSE(shell.isFloatingWindowShown());
    ASSERT_TRUE(shell.floatingWindow()->isAnimatingOut());

    shell.toggleFloatingWindow();
    EXPECT_TRUE(shell.isFloatingWindowShown());
    // Long after the fade-out would have ended, the window is still there.
    ASSERT_TRUE(testing::runUntil([&] { return !shell.floatingWindow()->isAnimatingOut(); }));
    EXPECT_TRUE(shell.floatingWindow()->window()->isVisible());

    // The launch flag never hides it.
    shell.showFloatingWindow();
    EXPECT_TRUE(shell.isFloatingWindowShown());
}

TEST(TrayShellTests, WelcomeOnAPlainLaunchOnlyUntilItWasShown) {
    for (bool shown : {false, true}) {
        ShellFixture fixture(shown);
        fixture.shell->runLaunchAction({LaunchPlan::LaunchAction::Kind::showWelcomeIfNeeded, std::nullopt, 0});
        auto* welcome = fixture.shell->welcomeWindow();
        EXPECT_EQ(welcome && welcome->window()->isVisible(), !shown) << "welcome shown before: " << shown;
    }
}

TEST(TrayShellTests, LaunchFlagOpensTheSettingsPaneItNames) {
    ShellFixture fixture;
    fixture.shell->runLaunchAction({LaunchPlan::LaunchAction::Kind::showSettings, "diagnostics", 0.8});
    ASSERT_NE(fixture.shell->settingsWindow(), nullptr);
    EXPECT_EQ(fixture.shell->settingsWindow()->selectedPane(), SettingsPane::diagnostics);
    // Closing it hides it: the shell and its settings window stay.
    fixture.shell->settingsWindow()->window()->close();
    QCoreApplication::processEvents();
    fixture.shell->runLaunchAction({LaunchPlan::LaunchAction::Kind::showSettings, std::nullopt, 0.8});
    EXPECT_TRUE(fixture.shell->settingsWindow()->window()->isVisible());
    EXPECT_EQ(fixture.shell->settingsWindow()->selectedPane(), SettingsPane::diagnostics);
}

// The controller renders through the real tray icon; a render is one
// "render.applied" line, however many layers it passes.
TEST(TrayShellTests, EachRenderOfTheTrayIconIsLoggedOnce) {
    CapturedLog log;
    auto count = [&](const std::string& prefix, const std::string& part = "") { return log.count(prefix, part); };

    ShellFixture fixture;
    ASSERT_TRUE(testing::runUntil([&] { return count("refresh.finished ", "applied=true") >= 1; }));
    EXPECT_EQ(count("render.applied "), count("refresh.finished ", "applied=true"));
    const std::size_t before = count("render.applied ");
    fixture.shell->controller().render();
    EXPECT_EQ(count("render.applied "), before + 1);
    EXPECT_EQ(count("render.applied state=complete active=0"), before + 1);

    // The tray icon itself writes neither line, not even for a snapshot that
    // works without sessions.
    AgentStatusSnapshot inconsistent;
    inconsistent.state = AgentRunState::inProgress;
    fixture.shell->statusItem().render(inconsistent);
    EXPECT_EQ(count("render.applied "), before + 1);
    EXPECT_EQ(count("surface.consistency"), 0u);
}

// The settings folder is read-only and holds no lock file (made so by its
// mode, and for a root test run also by giving up the thread's capability to
// override file permissions). The application still follows the stored
// settings: sync off writes no status record, a disabled Codex is not asked,
// and the welcome shown before does not open again. Nothing is written.
TEST(TrayShellTests, SettingsInAReadOnlyFolderWithoutLockFileStillHold) {
    testing::shellApplication();
    CapturedLog log;
    auto count = [&](const std::string& prefix) { return log.count(prefix); };

    testing::TempDir dir;
    const auto folder = dir / "config" / "brindleaf";
    const std::string stored = R"({"cloudSyncEnabled":false,"enabledProviderIDs":["claude","hermes"],)"
                               R"("knownLiveProviderIDs":["claude","codex","hermes"],"welcomeShown.v1":true})"
                               "\n";
    testing::writeFile(folder / (std::string(UserDefaults::standardSuiteName) + ".json"), stored);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    testing::ReadOnlyFolder readOnly(folder);
    ASSERT_TRUE(readOnly.holds()) << "the settings folder could not be made read-only";

    TrayShell::Options options;
    options.mainQueue = std::make_shared<QtMainQueue>();
    options.defaults = UserDefaults::openOrInMemory(std::string(UserDefaults::standardSuiteName));
    options.home = (dir / "home").string();
    auto shell = std::make_unique<TrayShell>(std::move(options));
    ASSERT_TRUE(testing::runUntil([&] { return count("render.applied ") >= 1; })) << "no refresh was applied";

    EXPECT_FALSE(shell->cloudSync().isEnabled());
    EXPECT_EQ(count("refresh.requested reason=unspecified enabled=Claude Code,Hermes"), 1u);
    std::vector<std::string> asked;
    for (const auto& provider : shell->controller().snapshot().providerSnapshots)
        asked.push_back(provider.providerName);
    EXPECT_EQ(asked, (std::vector<std::string>{"Claude Code", "Hermes"}));
    shell->runLaunchAction({LaunchPlan::LaunchAction::Kind::showWelcomeIfNeeded, std::nullopt, 0});
    EXPECT_EQ(shell->welcomeWindow(), nullptr);
    EXPECT_GE(count("defaults.write.failed "), 1u) << "the settings' write-back is kept unsaved";

    shell.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(testing::readFile(folder / (std::string(UserDefaults::standardSuiteName) + ".json")), stored);
    EXPECT_FALSE(std::filesystem::exists(folder / ".defaults.lock"));
}

std::string isoTime(Date date) {
    const auto seconds = static_cast<std::time_t>(date);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
    return text;
}

// A process table without any Claude Code engine, in the sampler's place, and
// the sampler as a freshly started process finds it: nothing sampled yet.
struct EnginesGone {
    std::shared_ptr<FakeProcessTable> table = std::make_shared<FakeProcessTable>();
    EnginesGone() {
        for (const auto& [pid, command] : std::vector<std::pair<int64_t, std::string>>{{1, "init"}, {40, "bash"}}) {
            FakeProcessTable::Process process;
            process.pid = pid;
            process.parentPID = pid == 1 ? 0 : 1;
            process.argumentArea = FakeProcessTable::arguments({command});
            process.workingDirectory = "/";
            table->set(process);
        }
        ProcessResourceSampler::testing::setProcessTable(table);
        ProcessResourceSampler::testing::reset();
        // The first sampling is waited for however busy the machine.
        ProcessResourceSampler::testing::setFirstSampleWait(3600);
    }
    ~EnginesGone() {
        ProcessResourceSampler::testing::setFirstSampleWait(ProcessResourceSampler::firstSampleWait);
        ProcessResourceSampler::testing::reset();
        ProcessResourceSampler::testing::setProcessTable(nullptr);
    }
};

// A Claude Code session whose engine has ended while a tool call was open, a
// minute ago: the first refresh of a freshly built application judges it
// against a real process sample, as a fresh status dump does, and shows no
// session.
TEST(TrayShellTests, TheFirstRefreshShowsNoSessionWhoseEngineIsGone) {
    testing::shellApplication();
    CapturedLog log;
    auto renders = [&] { return log.lines("render.applied "); };

    testing::TempDir dir;
    const auto home = dir / "home";
    const std::string cwd = (home / "shop").string();
    const Date endedAt = std::floor(currentDate()) - 60;
    const std::string id = "7d3c0f52-9a41-4c8e-b2f6-0123456789ab";
    std::string text;
    text += R"({"type":"user","sessionId":")" + id + R"(","cwd":")" + cwd + R"(","timestamp":")" +
            isoTime(endedAt - 2) +
            R"(","message":{"role":"user","content":"Please fix the build"}})"
            "\n";
    text +=
        R"({"type":"assistant","sessionId":")" + id + R"(","cwd":")" + cwd + R"(","timestamp":")" + isoTime(endedAt) +
        R"(","message":{"role":"assistant","content":[{"type":"tool_use","id":"toolu_1","name":"Bash","input":{"command":"make"}}]}})"
        "\n";
    const auto transcript = home / ".claude" / "projects" / "-home-shop" / (id + ".jsonl");
    testing::writeFile(transcript, text);
    testing::setFileTime(transcript, endedAt);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);

    {
        ClaudeStatusProvider unjudged(ClaudeProviderConfig::standard(home.string(), 0),
                                      [] { return ProcessSampleList(); });
        ASSERT_EQ(unjudged.snapshot(currentDate()).activeSessions.size(), 1u)
            << "the transcript is not one that shows while its engine cannot be judged";
    }

    EnginesGone engines;
    auto defaults = UserDefaults::inMemory("first-refresh");
    defaults->set("welcomeShown.v1", true);
    TrayShell::Options options;
    options.mainQueue = std::make_shared<QtMainQueue>();
    options.defaults = defaults;
    options.home = home.string();
    auto shell = std::make_unique<TrayShell>(std::move(options));
    ASSERT_TRUE(testing::runUntil([&] { return !renders().empty(); })) << "no refresh was applied";
    EXPECT_EQ(renders().front(), "render.applied state=complete active=0");
    shell.reset();
    QCoreApplication::processEvents();
}

} // namespace
} // namespace brindleaf
