// Black-box runs of the built program's payload and cloud modes, in an
// isolated home (nss_wrapper), settings folder and data folder.
#include "platform/DeviceName.hpp"
#include "sync/StatusPayloadCodec.hpp"
#include "tests/support/BuildDirectory.hpp"
#include "tests/support/ProgramRun.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

const std::string missingEntitlement =
    "cloud status command failed: Brindleaf has no valid entitlement for the status record store.\n"
    "Put the brindleaf.entitlements file that the build writes beside the program, or in <prefix>/share/brindleaf "
    "with cmake --install, then run the command again.\n";

std::filesystem::path builtBinary() { return brindleaf::testing::buildDirectory() / "app" / "brindleaf"; }

std::string nowISO(double secondsAgo) {
    auto now = std::chrono::system_clock::now() - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                                      std::chrono::duration<double>(secondsAgo));
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
    return buffer;
}

class CloudModesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root.path() / "home");
        writeFile(root / "passwd", "tester:x:" + std::to_string(getuid()) + ":" + std::to_string(getgid()) +
                                       ":Tester:" + (root / "home").string() + ":/bin/sh\n");
        writeFile(root / "group", "testers:x:" + std::to_string(getgid()) + ":\n");
    }

    std::filesystem::path dataHome() const { return root / "data"; }
    std::filesystem::path databaseFolder() const {
        return dataHome() / "brindleaf" / "cloud" / "iCloud.com.quorvale.Brindleaf" / "private";
    }

    ProgramRun run(const std::string& flag, const std::filesystem::path& binary = builtBinary()) const {
        std::vector<std::string> env = {
            "PATH=/usr/bin:/bin",
            "HOME=" + (root / "home").string(),
            "XDG_CONFIG_HOME=" + (root / "config").string(),
            "XDG_DATA_HOME=" + dataHome().string(),
            "LD_PRELOAD=libnss_wrapper.so",
            "NSS_WRAPPER_PASSWD=" + (root / "passwd").string(),
            "NSS_WRAPPER_GROUP=" + (root / "group").string(),
            // The sanitizer runtime refuses libraries loaded with RTLD_DEEPBIND.
            "NSS_WRAPPER_DISABLE_DEEPBIND=1",
        };
        std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
        if (const char* inherited = std::getenv("ASAN_OPTIONS")) asan += std::string(":") + inherited;
        env.push_back(asan);
        for (const char* name : {"UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
            if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
        }
        return runProgram(binary, {binary.string(), flag}, env);
    }

    // A Claude Code session waiting on a shell command, written just now.
    void writeClaudeSession(const std::string& id, const std::string& title) const {
        std::string cwd = (root / "home" / "project").string();
        std::string text;
        text += R"({"type":"ai-title","aiTitle":")" + title + R"(","sessionId":")" + id + "\"}\n";
        text += R"({"type":"user","sessionId":")" + id + R"(","cwd":")" + cwd + R"(","timestamp":")" + nowISO(3) +
                R"(","message":{"role":"user","content":"Please fix the build"}})"
                "\n";
        text +=
            R"({"type":"assistant","sessionId":")" + id + R"(","cwd":")" + cwd + R"(","timestamp":")" + nowISO(1) +
            R"(","message":{"role":"assistant","model":"claude-opus-4-1","content":[{"type":"tool_use","id":"toolu_1","name":"Bash","input":{"command":"make"}}]}})"
            "\n";
        writeFile(root / "home" / ".claude" / "projects" / "-project" / (id + ".jsonl"), text);
    }

    static std::string expectedDeviceID() {
        std::string name = DeviceName::current();
        return name.empty() ? "mac" : name;
    }

    TempDir root;
};

} // namespace

TEST_F(CloudModesTest, DumpStatusJSONPrintsTheCanonicalPayloadLine) {
    auto result = run("--dump-status-json");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "");
    ASSERT_FALSE(result.standardOutput.empty());
    ASSERT_EQ(result.standardOutput.back(), '\n');
    std::string line = result.standardOutput.substr(0, result.standardOutput.size() - 1);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    StatusPayload payload = StatusPayloadCodec::decodePayload(line);
    EXPECT_EQ(StatusPayloadCodec::encode(payload), line); // sorted, compact, whole seconds
    EXPECT_EQ(payload.schemaVersion, 1);
    EXPECT_EQ(payload.state, StatusPayloadState::complete);
    EXPECT_EQ(payload.activeCount, 0);
    EXPECT_TRUE(payload.sessions.empty());
    EXPECT_EQ(payload.deviceID, expectedDeviceID());
    EXPECT_NEAR(payload.checkedAt, currentDate(), 60);
    ASSERT_EQ(payload.providers.size(), 3u);
    EXPECT_EQ(payload.providers[0].providerID, "codex");
    EXPECT_EQ(payload.providers[1].providerID, "claude");
    EXPECT_EQ(payload.providers[2].providerID, "hermes");
    EXPECT_FALSE(std::filesystem::exists(dataHome())); // printing touches no store
}

TEST_F(CloudModesTest, DumpStatusJSONCarriesActiveSessions) {
    writeClaudeSession("0f1e2d3c-4b5a-6978-8a9b-aabbccddeeff", "Fix the build");
    auto result = run("--dump-status-json");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "");
    StatusPayload payload = StatusPayloadCodec::decodePayload(result.standardOutput);
    EXPECT_EQ(payload.state, StatusPayloadState::inProgress);
    ASSERT_EQ(payload.sessions.size(), 1u);
    EXPECT_EQ(payload.sessions[0].shortID, "0f1e2d3c");
    EXPECT_EQ(payload.sessions[0].provider, "Claude Code");
    EXPECT_EQ(payload.sessions[0].workspaceLabel, (root / "home" / "project").string());
}

TEST_F(CloudModesTest, SyncThenFetchRoundTripsThroughTheLocalStore) {
    auto fetchedBefore = run("--fetch-cloud-status-json");
    EXPECT_EQ(fetchedBefore.exitStatus, 1);
    EXPECT_EQ(fetchedBefore.standardOutput, "");
    EXPECT_EQ(fetchedBefore.standardError,
              "cloud status command failed: This computer hasn\u2019t shared a status yet.\n");

    auto synced = run("--sync-status-now");
    EXPECT_EQ(synced.exitStatus, 0);
    EXPECT_EQ(synced.standardError, "");
    // "synced checkedAt=YYYY-MM-DDTHH:MM:SSZ active=0"
    const std::string prefix = "synced checkedAt=";
    ASSERT_EQ(synced.standardOutput.rfind(prefix, 0), 0u) << synced.standardOutput;
    std::string checkedAt = synced.standardOutput.substr(prefix.size(), 20);
    EXPECT_EQ(synced.standardOutput.substr(prefix.size() + 20), " active=0\n");
    const std::string shape = "dddd-dd-ddTdd:dd:ddZ";
    ASSERT_EQ(checkedAt.size(), shape.size());
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd') {
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(checkedAt[i]))) << checkedAt;
        } else {
            EXPECT_EQ(checkedAt[i], shape[i]) << checkedAt;
        }
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(databaseFolder() / "records" / "current.json"));
    EXPECT_TRUE(std::filesystem::is_regular_file(databaseFolder() / "subscriptions" / "current-status-silent.json"));

    auto fetched = run("--fetch-cloud-status-json");
    EXPECT_EQ(fetched.exitStatus, 0);
    EXPECT_EQ(fetched.standardError, "");
    StatusPayload payload = StatusPayloadCodec::decodePayload(fetched.standardOutput);
    EXPECT_EQ(StatusPayloadCodec::encode(payload) + "\n", fetched.standardOutput);
    EXPECT_EQ(StatusPayloadCodec::formatDate(payload.checkedAt), checkedAt);
    EXPECT_EQ(payload.activeCount, 0);
    EXPECT_EQ(payload.deviceID, expectedDeviceID());

    // A second sync updates the same record.
    EXPECT_EQ(run("--sync-status-now").exitStatus, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(databaseFolder() / "records"), {}), 1);
}

TEST_F(CloudModesTest, RecordWithoutPayloadDataFailsTheFetch) {
    writeFile(
        databaseFolder() / "records" / "current.json",
        R"({"recordType":"CurrentStatus","recordName":"current","fields":{"deviceID":{"string":"Desk"},"activeCount":{"int":2}}})");
    auto result = run("--fetch-cloud-status-json");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError,
              "cloud status command failed: The status from this computer is incomplete. It will update shortly.\n");
}

TEST_F(CloudModesTest, UnusableStoreFolderFailsTheSync) {
    // The data folder is a file: the database folder cannot be made.
    writeFile(dataHome(), "");
    auto blocked = run("--sync-status-now");
    EXPECT_EQ(blocked.exitStatus, 1);
    EXPECT_EQ(blocked.standardOutput, "");
    EXPECT_EQ(blocked.standardError,
              "cloud status command failed: cannot create " + databaseFolder().string() + ": Not a directory\n");
    std::filesystem::remove(dataHome());

    if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
    std::filesystem::create_directories(dataHome());
    std::filesystem::permissions(dataHome(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    auto result = run("--sync-status-now");
    std::filesystem::permissions(dataHome(), std::filesystem::perms::owner_all);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError,
              "cloud status command failed: Brindleaf doesn\u2019t have permission to use the status record store.\n");
}

TEST_F(CloudModesTest, WithoutEntitlementsTheCloudModesRefuse) {
    // A copy of the program with no entitlements file beside it.
    std::filesystem::path bare = root / "bin" / "brindleaf";
    std::filesystem::create_directories(bare.parent_path());
    std::filesystem::copy_file(builtBinary(), bare);
    std::filesystem::permissions(bare, std::filesystem::perms::owner_all);
    for (const char* flag : {"--sync-status-now", "--fetch-cloud-status-json"}) {
        auto result = run(flag, bare);
        EXPECT_EQ(result.exitStatus, 1) << flag;
        EXPECT_EQ(result.standardOutput, "") << flag;
        EXPECT_EQ(result.standardError, missingEntitlement) << flag;
    }
    EXPECT_FALSE(std::filesystem::exists(dataHome()));
    auto dumped = run("--dump-status-json", bare);
    EXPECT_EQ(dumped.exitStatus, 0);
    EXPECT_EQ(dumped.standardError, "");

    // Installed as the package installs it: the entitlements in <prefix>/share/brindleaf.
    std::filesystem::create_directories(root / "share" / "brindleaf");
    std::filesystem::copy_file(builtBinary().parent_path() / "brindleaf.entitlements",
                               root / "share" / "brindleaf" / "brindleaf.entitlements");
    auto synced = run("--sync-status-now", bare);
    EXPECT_EQ(synced.exitStatus, 0) << synced.standardError;
    EXPECT_TRUE(std::filesystem::exists(databaseFolder()));
}
