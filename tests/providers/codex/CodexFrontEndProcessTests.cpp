#include "core/ProcessResourceSampler.hpp"
#include "platform/FakeProcessTable.hpp"
#include "providers/codex/CodexFrontEndProcesses.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>

using namespace brindleaf;
using brindleaf::testing::ChildProcess;
using brindleaf::testing::TempDir;

namespace {

using Process = CodexFrontEndProcesses::Process;

// A UUIDv7 thread id made at `at`.
std::string threadIDAt(Date at) {
    const uint64_t ms = static_cast<uint64_t>(at * 1000) & uint64_t{0xffffffffffff};
    char text[48];
    std::snprintf(text, sizeof text, "%08" PRIx64 "-%04" PRIx64 "-7abc-8def-0123456789ab", ms >> 16, ms & 0xffff);
    return text;
}

Process frontEnd(int64_t pid, std::string cwd, Date startedAt, std::string resume = {}) {
    return Process{pid, std::move(cwd), true, startedAt, std::move(resume)};
}

Process server(int64_t pid, std::string cwd) { return Process{pid, std::move(cwd), false, std::nullopt, {}}; }

CodexCandidate candidate(std::string id, std::string cwd) {
    CodexCandidate c;
    c.id = std::move(id);
    c.title = c.id;
    c.cwd = std::move(cwd);
    return c;
}

} // namespace

TEST(CodexFrontEndProcesses, ThreadCreationTimeFromItsId) {
    struct Case {
        const char* id;
        std::optional<Date> createdAt;
    };
    const Case cases[] = {
        {"01a262af-2f17-72b0-bfe3-55658024fb67", 1796951977.751}, // a real Codex 0.171.0 thread
        {"01A262AF-2F17-72B0-BFE3-55658024FB67", 1796951977.751},
        {"01a262af-2f17-42b0-bfe3-55658024fb67", std::nullopt}, // version 4: random, no time
        {"01a262af-2f17-72b0-cfe3-55658024fb67", std::nullopt}, // not the RFC variant
        {"01a262af-2f17-72b0-bfe3-55658024fb6", std::nullopt},  // one digit short
        {"01a262af-2f17-72b0-bfe3-55658024fb6g", std::nullopt},
        {"01a262af2f17-72b0-bfe3-55658024fb67-", std::nullopt},
        {"00000000-0000-7000-8000-000000000000", std::nullopt},
        {"thread-a", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const auto createdAt = CodexFrontEndProcesses::threadCreatedAt(c.id);
        ASSERT_EQ(createdAt.has_value(), c.createdAt.has_value());
        if (createdAt) {
            EXPECT_NEAR(*createdAt, *c.createdAt, 1e-6);
        }
    }
}

TEST(CodexFrontEndProcesses, TheOneCodexInTheFolderStartedBeforeTheThread) {
    const Date t = 1796951977.751;
    const std::string id = threadIDAt(t);
    const std::string old = threadIDAt(t - 3600);
    const double late = CodexFrontEndProcesses::startTolerance + 0.5;
    struct Case {
        const char* name;
        std::vector<Process> processes;
        std::string id;
        std::string cwd;
        std::optional<int64_t> pid;
    };
    const Case cases[] = {
        {"one in the folder, started before", {frontEnd(10, "/p", t - 5)}, id, "/p", 10},
        {"started just after (clock rounding)", {frontEnd(10, "/p", t + 1)}, id, "/p", 10},
        {"started after the thread", {frontEnd(10, "/p", t + late)}, id, "/p", std::nullopt},
        {"in another folder", {frontEnd(10, "/q", t - 5)}, id, "/p", std::nullopt},
        {"a folder's parent is another folder", {frontEnd(10, "/p", t - 5)}, id, "/p/sub", std::nullopt},
        {"two in the folder", {frontEnd(10, "/p", t - 9), frontEnd(11, "/p", t - 5)}, id, "/p", std::nullopt},
        {"the second came after the thread", {frontEnd(10, "/p", t - 9), frontEnd(11, "/p", t + late)}, id, "/p", 10},
        {"the other is in another folder", {frontEnd(10, "/p", t - 9), frontEnd(11, "/q", t - 5)}, id, "/p", 10},
        {"an editor's app server in the folder", {frontEnd(10, "/p", t - 9), server(12, "/p")}, id, "/p", std::nullopt},
        {"an app server alone", {server(12, "/p")}, id, "/p", std::nullopt},
        {"an app server elsewhere", {frontEnd(10, "/p", t - 9), server(12, "/")}, id, "/p", 10},
        {"a thread id without a time", {frontEnd(10, "/p", t - 5)}, "thread-a", "/p", std::nullopt},
        {"a thread without a folder", {frontEnd(10, "/p", t - 5)}, id, "", std::nullopt},
        {"an old thread resumed by id", {frontEnd(10, "/q", t - 5, old)}, old, "/p", 10},
        {"resumed by id among others in its folder",
         {frontEnd(10, "/p", t - 5, "--full-auto " + old), frontEnd(11, "/p", t - 7000)},
         old,
         "/p",
         10},
        {"resumed by two", {frontEnd(10, "/p", t - 5, old), frontEnd(11, "/p", t - 4, old)}, old, "/p", std::nullopt},
        {"resuming another thread still makes new ones", {frontEnd(10, "/p", t - 5, old)}, id, "/p", 10},
        {"an old thread nobody resumes", {frontEnd(10, "/p", t - 5, "--last")}, old, "/p", std::nullopt},
        {"nothing runs", {}, id, "/p", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CodexFrontEndProcesses(c.processes).processOf(c.id, c.cwd), c.pid);
    }
}

// Real processes whose argument 0 is a `codex`, as the process table shows
// them: the terminal's Codex, the npm launcher that started it, its daemon and
// the daemon's updater, all in the project folder.
TEST(CodexFrontEndProcesses, RealProcessesTheTerminalsCodexNotItsLauncherOrDaemon) {
    TempDir root;
    const std::filesystem::path project = root / "project";
    std::filesystem::create_directories(project);
    const std::string codex = (root / "vendor/bin/codex").string();
    const std::string daemon = (root / "home/.codex/packages/app-server-daemon/bin/codex").string();
    const auto shell = [](std::string arg0, std::vector<std::string> rest) {
        std::vector<std::string> argv{std::move(arg0), "-c", "sleep 30; :"};
        argv.insert(argv.end(), rest.begin(), rest.end());
        return argv;
    };
    const Date before = currentDate();
    ChildProcess launcher("/bin/sh", shell("node", {(root / "node_modules/.bin/codex").string()}), project);
    ChildProcess tui("/bin/sh", shell(codex, {}), project);
    // The daemon runs from its copy under CODEX_HOME; here from the same
    // program as the terminal's, so that its arguments alone exclude it.
    ChildProcess managed(
        "/bin/sh",
        shell(codex, {"app-server", "--listen", "unix://", "--analytics-default-enabled", "--managed-daemon"}),
        project);
    ChildProcess updater("/bin/sh", shell(daemon, {"app-server", "daemon", "pid-update-loop"}), project);
    // A Codex checks the daemon's copy of the program when it starts.
    ChildProcess check("/bin/sh", shell(daemon, {"--version"}), project);
    ChildProcess version("/bin/sh", shell(codex, {"--version"}), project);
    for (const auto& [child, arg0] : {std::pair{&launcher, std::string("node")},
                                      {&tui, codex},
                                      {&managed, codex},
                                      {&updater, daemon},
                                      {&check, daemon},
                                      {&version, codex}})
        ASSERT_TRUE(brindleaf::testing::waitForExec(child->pid(), arg0)) << arg0 << " never ran";

    const std::string newThread = threadIDAt(currentDate() + 1);
    const std::string oldThread = threadIDAt(before - 600);
    auto samples = ProcessResourceSampler::sampleAll();
    const CodexFrontEndProcesses found = CodexFrontEndProcesses::fromSamples(samples);
    int inProject = 0;
    for (const auto& process : found.processes())
        if (process.cwd == project.string()) ++inProject;
    EXPECT_EQ(inProject, 1) << "only the terminal's Codex counts";
    const auto usage = CodexStatusProvider::sessionResourceUsage(candidate(newThread, project.string()), samples, {});
    ASSERT_TRUE(usage) << "no process for the thread";
    EXPECT_EQ(usage->pid, tui.pid());
    EXPECT_TRUE(CodexStatusProvider::sessionRootPIDs(candidate(oldThread, project.string()), samples, {}).empty())
        << "a thread older than the Codex is not its";

    // `codex resume ID` in another folder names its old thread.
    ChildProcess resumed("/bin/sh", shell(codex, {"resume", oldThread}), root.path());
    ASSERT_TRUE(brindleaf::testing::waitForExec(resumed.pid(), codex));
    samples = ProcessResourceSampler::sampleAll();
    EXPECT_EQ(CodexStatusProvider::sessionRootPIDs(candidate(oldThread, project.string()), samples, {}),
              (std::set<int64_t>{resumed.pid()}));

    // An editor's app server in the project runs threads too; a helper of the
    // Codex app there runs none.
    ChildProcess plugin("/bin/sh", shell((root / "home/.codex/plugins/tool/bin/server").string(), {}), project);
    ASSERT_TRUE(brindleaf::testing::waitForExec(plugin.pid(), (root / "home/.codex/plugins/tool/bin/server").string()));
    samples = ProcessResourceSampler::sampleAll();
    EXPECT_EQ(CodexStatusProvider::sessionRootPIDs(candidate(newThread, project.string()), samples, {}),
              (std::set<int64_t>{tui.pid()}));
    const std::string editorServer = (root / ".vscode/extensions/openai.chatgpt-1.0/bin/linux-x86_64/codex").string();
    ChildProcess editor("/bin/sh", shell(editorServer, {"app-server", "--analytics-default-enabled"}), project);
    ASSERT_TRUE(brindleaf::testing::waitForExec(editor.pid(), editorServer));
    samples = ProcessResourceSampler::sampleAll();
    EXPECT_TRUE(CodexStatusProvider::sessionRootPIDs(candidate(newThread, project.string()), samples, {}).empty());
    editor.kill();
    plugin.kill();

    // A second Codex in the project: a new thread could be either's.
    ChildProcess second("/bin/sh", shell(codex, {}), project);
    ASSERT_TRUE(brindleaf::testing::waitForExec(second.pid(), codex));
    samples = ProcessResourceSampler::sampleAll();
    EXPECT_TRUE(CodexStatusProvider::sessionRootPIDs(candidate(newThread, project.string()), samples, {}).empty());
    EXPECT_FALSE(CodexStatusProvider::sessionResourceUsage(candidate(newThread, project.string()), samples, {}));
}

// The start is read when the view is built, not taken from the sampling: a
// pid the sampling saw as a Codex may belong to a newer process by then.
TEST(CodexFrontEndProcesses, APidTakenAgainAfterTheSampling) {
    auto table = std::make_shared<FakeProcessTable>();
    ProcessResourceSampler::testing::setProcessTable(table);
    struct Restore {
        ~Restore() { ProcessResourceSampler::testing::setProcessTable(nullptr); }
    } restore;
    table->set({.pid = 700, .parentPID = 1, .startTicks = 0});
    const std::optional<Date> bootedAt = CodexFrontEndProcesses::systemStartDate(700);
    ASSERT_TRUE(bootedAt);
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    const auto ticksAt = [&](Date at) { return static_cast<uint64_t>((at - *bootedAt) * ticksPerSecond); };
    const Date t = currentDate();
    const std::string id = threadIDAt(t);
    const std::vector<ProcessResourceSample> samples{{700, 1, 0.0, 100, "/usr/bin/codex", "/p"}};

    table->set({.pid = 700, .parentPID = 1, .startTicks = ticksAt(t - 30)});
    EXPECT_EQ(CodexFrontEndProcesses::fromSamples(samples).processOf(id, "/p"), 700);
    table->set({.pid = 700, .parentPID = 1, .startTicks = ticksAt(t + 30)});
    EXPECT_EQ(CodexFrontEndProcesses::fromSamples(samples).processOf(id, "/p"), std::nullopt);
    table->remove(700);
    EXPECT_TRUE(CodexFrontEndProcesses::fromSamples(samples).processes().empty()) << "a gone process is none";
}
