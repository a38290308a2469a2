// Black-box tests of the built `brindleaf` program, run in an isolated home:
// the user database (through nss_wrapper) and XDG_CONFIG_HOME both point into
// a temporary folder.
#include "services/BuildInfo.hpp"
#include "tests/support/BuildDirectory.hpp"
#include "tests/support/LockHolder.hpp"
#include "tests/support/ProgramRun.hpp"
#include "tests/support/TempDir.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <unistd.h>

using namespace brindleaf::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::filesystem::path brindleafBinary() { return brindleaf::testing::buildDirectory() / "app" / "brindleaf"; }

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) out.push_back(line);
    return out;
}

std::string isoTimestamp(double secondsAgo) {
    using namespace std::chrono;
    auto now = system_clock::now() - duration_cast<system_clock::duration>(duration<double>(secondsAgo));
    std::time_t seconds = system_clock::to_time_t(now);
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &utc);
    char full[80];
    std::snprintf(full, sizeof full, "%s.%03lldZ", buffer, static_cast<long long>(millis));
    return full;
}

// A home directory and config folder of our own, seen by the program as the
// current user's.
class IsolatedHome {
public:
    IsolatedHome() {
        std::filesystem::create_directories(home());
        std::filesystem::create_directories(config());
        const auto uid = ::getuid();
        const auto gid = ::getgid();
        writeFile(root_ / "passwd", "tester:x:" + std::to_string(uid) + ":" + std::to_string(gid) +
                                        ":Tester:" + home().string() + ":/bin/sh\n");
        writeFile(root_ / "group", "testers:x:" + std::to_string(gid) + ":\n");
    }

    std::filesystem::path home() const { return root_ / "home"; }
    std::filesystem::path config() const { return root_ / "config"; }
    std::filesystem::path settingsFolder() const { return config() / "brindleaf"; }

    std::vector<std::string> environment() const {
        std::vector<std::string> env = {
            "PATH=/usr/bin:/bin",
            // A different HOME shows that the user database decides.
            "HOME=" + (root_ / "not-the-home").string(),
            "XDG_CONFIG_HOME=" + config().string(),
            "LD_PRELOAD=libnss_wrapper.so",
            "NSS_WRAPPER_PASSWD=" + (root_ / "passwd").string(),
            "NSS_WRAPPER_GROUP=" + (root_ / "group").string(),
        };
        // Under the sanitizers the preloaded library would come before the runtime.
        std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
        if (const char* inherited = std::getenv("ASAN_OPTIONS")) asan += std::string(":") + inherited;
        env.push_back(asan);
        for (const char* name : {"UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
            if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
        }
        return env;
    }

    ProgramRun run(std::vector<std::string> arguments, std::vector<std::string> extraEnvironment = {}) const {
        auto env = environment();
        for (const auto& entry : extraEnvironment) {
            const auto name = entry.substr(0, entry.find('=') + 1);
            std::erase_if(env, [&](const std::string& existing) { return existing.rfind(name, 0) == 0; });
            env.push_back(entry);
        }
        return runProgram(brindleafBinary(), arguments, env);
    }

    std::vector<std::string> settingsFiles() const {
        std::vector<std::string> names;
        if (!std::filesystem::exists(settingsFolder())) return names;
        for (const auto& entry : std::filesystem::directory_iterator(settingsFolder())) {
            names.push_back(entry.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // A Claude Code transcript whose assistant turn is waiting on a tool (a
    // sub-agent launch when `subagentType` is given), written just now.
    void writeClaudeTranscript(const std::string& project, const std::string& sessionID, const std::string& cwd,
                               const std::string& title, const std::string& subagentType = "") const {
        const std::string prompt = isoTimestamp(3);
        const std::string reply = isoTimestamp(1);
        std::string tool =
            subagentType.empty()
                ? R"({"type":"tool_use","id":"toolu_)" + sessionID + R"(","name":"Bash","input":{"command":"make"}})"
                : R"({"type":"tool_use","id":"toolu_)" + sessionID +
                      R"(","name":"Task","input":{"description":"Explore the code","subagent_type":")" + subagentType +
                      R"(","prompt":"look"}})";
        std::string text;
        text += R"({"type":"ai-title","aiTitle":")" + title + R"(","sessionId":")" + sessionID + "\"}\n";
        text += R"({"type":"user","sessionId":")" + sessionID + R"(","cwd":")" + cwd + R"(","timestamp":")" + prompt +
                R"(","message":{"role":"user","content":"Please fix the build"}})"
                "\n";
        text += R"({"type":"assistant","sessionId":")" + sessionID + R"(","cwd":")" + cwd + R"(","timestamp":")" +
                reply + R"(","message":{"role":"assistant","model":"claude-opus-4-1","content":[)" + tool + "]}}\n";
        writeFile(home() / ".claude" / "projects" / project / (sessionID + ".jsonl"), text);
    }

    const std::filesystem::path& rootPath() const { return root_.path(); }

private:
    TempDir root_;
};

} // namespace

TEST(BrindleafBinary, EmptyHomeDumpsCompleteWithNoSessions) {
    IsolatedHome isolated;
    auto run = isolated.run({"brindleaf", "--dump-status"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardOutput, "complete\nactive=0\n");
    EXPECT_EQ(run.standardError, "");
    // Loading the settings wrote the standard suite, and nothing else.
    EXPECT_THAT(isolated.settingsFiles(), ElementsAre(".defaults.lock", "com.quorvale.Brindleaf.json"));
    EXPECT_FALSE(std::filesystem::exists(isolated.rootPath() / "not-the-home"));

    // Settings that cannot be stored do not stop the dump.
    writeFile(isolated.config() / "blocked", "a file, not a folder");
    auto blocked =
        isolated.run({"brindleaf", "--dump-status"}, {"XDG_CONFIG_HOME=" + (isolated.config() / "blocked").string()});
    EXPECT_EQ(blocked.exitStatus, 0);
    EXPECT_EQ(blocked.standardOutput, "complete\nactive=0\n");
    EXPECT_EQ(blocked.standardError, "");
}

TEST(BrindleafBinary, SelfTestMigratesAndLeavesNoSuiteBehind) {
    IsolatedHome isolated;
    auto run = isolated.run({"brindleaf", "--self-test-settings-migration"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardOutput, "claude,codex,hermes\n");
    EXPECT_EQ(run.standardError, "");
    for (const auto& name : isolated.settingsFiles()) {
        EXPECT_EQ(name.find(".json"), std::string::npos) << "left behind: " << name;
    }

    // When the settings folder cannot be created the self-test says so and still succeeds.
    writeFile(isolated.config() / "blocked", "a file, not a folder");
    auto blocked = isolated.run({"brindleaf", "--self-test-settings-migration"},
                                {"XDG_CONFIG_HOME=" + (isolated.config() / "blocked").string()});
    EXPECT_EQ(blocked.exitStatus, 0);
    EXPECT_EQ(blocked.standardOutput, "failed\n");
    EXPECT_EQ(blocked.standardError, "");
}

// Another process stopped while it holds the settings lock does not stop the
// headless modes: they finish with the settings kept in memory, and the suite
// is written by the first run after it let go.
TEST(BrindleafBinary, HeadlessModesFinishWhileAnotherProcessHoldsTheSettingsLock) {
    IsolatedHome isolated;
    std::filesystem::create_directories(isolated.settingsFolder());
    LockHolder holder(isolated.settingsFolder() / ".defaults.lock");
    ASSERT_TRUE(holder.waitUntilHeld()) << "the other process never took the lock";

    auto dump = isolated.run({"brindleaf", "--dump-status"});
    auto selfTest = isolated.run({"brindleaf", "--self-test-settings-migration"});
    ASSERT_TRUE(holder.holds()) << "a run waited until the holder gave up after " << LockHolder::giveUpSeconds << " s";
    EXPECT_EQ(dump.exitStatus, 0);
    EXPECT_EQ(dump.standardOutput, "complete\nactive=0\n");
    EXPECT_EQ(selfTest.exitStatus, 0);
    EXPECT_EQ(selfTest.standardOutput, "claude,codex,hermes\n");
    EXPECT_THAT(isolated.settingsFiles(), ElementsAre(".defaults.lock"));

    ASSERT_TRUE(holder.release()) << "the other process did not let go";
    EXPECT_EQ(isolated.run({"brindleaf", "--dump-status"}).standardOutput, "complete\nactive=0\n");
    EXPECT_THAT(isolated.settingsFiles(), ElementsAre(".defaults.lock", "com.quorvale.Brindleaf.json"));
}

TEST(BrindleafBinary, ArgumentsAreMatchedWholeAndInOrder) {
    IsolatedHome isolated;
    // Both dumps named: only the text dump runs.
    auto both = isolated.run({"brindleaf", "--dump-status-json", "--dump-status"});
    EXPECT_EQ(both.exitStatus, 0);
    EXPECT_EQ(both.standardOutput, "complete\nactive=0\n");

    auto selfTestFirst = isolated.run({"brindleaf", "--dump-status", "--self-test-settings-migration"});
    EXPECT_EQ(selfTestFirst.standardOutput, "claude,codex,hermes\n");

    // The status line runs only when no other mode is named.
    auto dumpBeforeWatch = isolated.run({"brindleaf", "--watch=text", "--dump-status"});
    EXPECT_EQ(dumpBeforeWatch.exitStatus, 0);
    EXPECT_EQ(dumpBeforeWatch.standardOutput, "complete\nactive=0\n");

    // Argument 0 is looked at like every other argument.
    auto asArgumentZero = isolated.run({"--dump-status"});
    EXPECT_EQ(asArgumentZero.exitStatus, 0);
    EXPECT_EQ(asArgumentZero.standardOutput, "complete\nactive=0\n");

    for (const char* near : {"--dump-status=1", "--dump-statusx", "--DUMP-STATUS", "-dump-status"}) {
        auto run = isolated.run({"brindleaf", near});
        EXPECT_EQ(run.standardOutput, "") << near << " must not run a headless mode";
        EXPECT_NE(run.exitStatus, 0) << near;
    }
}

TEST(BrindleafBinary, AgentSessionsPrintOneLineEachWithTenTabs) {
    IsolatedHome isolated;
    const std::string cwdA = (isolated.home() / "src" / "alpha").string();
    const std::string cwdB = (isolated.home() / "src" / "beta").string();
    isolated.writeClaudeTranscript("-src-alpha", "11111111-aaaa-4aaa-8aaa-111111111111", cwdA, "Alpha build",
                                   "general-purpose");
    isolated.writeClaudeTranscript("-src-beta", "22222222-bbbb-4bbb-8bbb-222222222222", cwdB, "Beta tests");

    auto run = isolated.run({"brindleaf", "--dump-status"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardError, "");
    auto output = lines(run.standardOutput);
    ASSERT_GE(output.size(), 2u) << run.standardOutput;
    EXPECT_EQ(output[0], "inProgress");
    ASSERT_EQ(output[1], "active=" + std::to_string(output.size() - 2)) << run.standardOutput;
    // Two sessions and the first one's sub-agent.
    ASSERT_EQ(output.size(), 5u) << run.standardOutput;
    bool sawSubagent = false;
    for (std::size_t i = 2; i < output.size(); ++i) {
        const auto& line = output[i];
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 10) << line;
        EXPECT_EQ(line.rfind("Claude Code\t", 0), 0u) << line;
        if (line.find("\tsubagent\t") != std::string::npos) {
            sawSubagent = true;
            // Field 4 is the role alone; field 7 the parent's title.
            EXPECT_THAT(line, HasSubstr("\tgeneral-purpose\tExplore the code\t" + cwdA + "\tAlpha build\t"));
        }
    }
    EXPECT_TRUE(sawSubagent) << run.standardOutput;
    EXPECT_THAT(run.standardOutput, HasSubstr("\tBeta tests\t" + cwdB + "\t"));
    EXPECT_THAT(run.standardOutput, HasSubstr("\tclaude-opus-4-1\t"));
}

TEST(BrindleafBinary, OnlyEnabledProvidersAreScanned) {
    IsolatedHome isolated;
    isolated.writeClaudeTranscript("-src-alpha", "33333333-aaaa-4aaa-8aaa-333333333333",
                                   (isolated.home() / "src" / "alpha").string(), "Alpha");
    writeFile(isolated.settingsFolder() / "com.quorvale.Brindleaf.json",
              R"({"enabledProviderIDs": ["codex"], "knownLiveProviderIDs": ["claude", "codex", "hermes"]})");
    auto run = isolated.run({"brindleaf", "--dump-status"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardOutput, "complete\nactive=0\n");
    EXPECT_EQ(run.standardError, "");
}

// Without a headless mode the first argument that decides wins: the usage, the
// version, or the refusal of an unknown option; else the tray application
// starts, which here (no display) says so and fails.
TEST(BrindleafBinary, CommandLineAnswersBeforeAnythingStarts) {
    IsolatedHome isolated;
    enum class Outcome { usage, version, refused, refusedFormat, started };
    struct Row {
        std::vector<std::string> arguments;
        Outcome outcome;
        std::string refused = {};
    } rows[] = {
        {{"--help"}, Outcome::usage},
        {{"-h"}, Outcome::usage},
        {{"--show-popover", "-platform", "offscreen", "--help", "--foo"}, Outcome::usage},
        {{"--version"}, Outcome::version},
        {{"-style", "fusion", "--version"}, Outcome::version},
        {{"--foo"}, Outcome::refused, "--foo"},
        {{"-x"}, Outcome::refused, "-x"},
        {{"-"}, Outcome::refused, "-"},
        {{"--help=1"}, Outcome::refused, "--help=1"},
        {{"--show-popover=1"}, Outcome::refused, "--show-popover=1"},
        {{"--show-glance", "--foo", "--help"}, Outcome::refused, "--foo"},
        {{"-style", "fusion", "--bogus"}, Outcome::refused, "--bogus"},
        // Beside a mode too, before the mode runs.
        {{"--dump-status", "--bogus"}, Outcome::refused, "--bogus"},
        {{"--bogus", "--self-test-settings-migration"}, Outcome::refused, "--bogus"},
        {{"--help", "--fetch-cloud-status-json", "-stylesheet=x.qss", "-y"}, Outcome::refused, "-y"},
        // --watch takes json or text, and nothing else, before anything runs.
        {{"--watch=foo"}, Outcome::refusedFormat, "--watch=foo"},
        {{"--watch="}, Outcome::refusedFormat, "--watch="},
        {{"--watch=JSON", "--help"}, Outcome::refusedFormat, "--watch=JSON"},
        {{"--dump-status", "--watch=text "}, Outcome::refusedFormat, "--watch=text "},
        {{"--watchful"}, Outcome::refused, "--watchful"},
        {{"-platform"}, Outcome::started},
        {{"-platform", "xcb", "-display", ":9", "-reverse"}, Outcome::started},
        {{"--platform", "xcb", "-style=fusion", "-qwindowtitle", "--foo"}, Outcome::started},
        {{"-stylesheet=x.qss", "--stylesheet", "y.qss"}, Outcome::started},
        {{"--show-settingsX=about", "--sample-data", "word"}, Outcome::started},
    };
    const std::string usageLines[] = {"Usage: brindleaf",
                                      "  --dump-status-json ",
                                      "  --fetch-cloud-status-json ",
                                      "  --watch[=FORMAT] ",
                                      "  --show-settings[=PANE] ",
                                      "general, agents, iCloud (the Sync tab), diagnostics, about\n",
                                      "  --check-for-updates ",
                                      "  --sample-data ",
                                      "  -h, --help ",
                                      "  --version "};
    for (const auto& row : rows) {
        std::vector<std::string> arguments = {"brindleaf"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        SCOPED_TRACE(::testing::PrintToString(row.arguments));
        auto run = isolated.run(arguments);
        switch (row.outcome) {
        case Outcome::usage:
            EXPECT_EQ(run.exitStatus, 0);
            for (const auto& line : usageLines) EXPECT_THAT(run.standardOutput, HasSubstr(line));
            EXPECT_EQ(run.standardError, "");
            break;
        case Outcome::version:
            EXPECT_EQ(run.exitStatus, 0);
            EXPECT_EQ(run.standardOutput, "brindleaf " + std::string(brindleaf::BuildInfo::version()) + "\n");
            EXPECT_EQ(run.standardError, "");
            break;
        case Outcome::refused:
            EXPECT_EQ(run.exitStatus, 2);
            EXPECT_EQ(run.standardOutput, "");
            EXPECT_EQ(run.standardError, "brindleaf: unknown option " + row.refused + " (see brindleaf --help)\n");
            break;
        case Outcome::refusedFormat:
            EXPECT_EQ(run.exitStatus, 2);
            EXPECT_EQ(run.standardOutput, "");
            EXPECT_EQ(run.standardError,
                      "brindleaf: unknown format " + row.refused + " (json or text; see brindleaf --help)\n");
            break;
        case Outcome::started:
            EXPECT_EQ(run.exitStatus, 1);
            EXPECT_THAT(run.standardError, HasSubstr("no display found"));
            break;
        }
    }
    // Nothing was started that reads or writes the settings.
    EXPECT_THAT(isolated.settingsFiles(), ::testing::IsEmpty());
    // A headless mode is looked for first: the usage and the version beside
    // it, Qt's options and launch flags leave it to run.
    auto headless = isolated.run(
        {"brindleaf", "--help", "-style", "fusion", "--self-test-settings-migration", "--version", "--show-glance"});
    EXPECT_EQ(headless.exitStatus, 0);
    EXPECT_EQ(headless.standardOutput, "claude,codex,hermes\n");
    EXPECT_EQ(headless.standardError, "");
}
