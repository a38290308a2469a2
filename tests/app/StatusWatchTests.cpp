// `brindleaf --watch` as a status bar runs it: the built program with its
// standard output a pipe that this test reads, on homes of their own (the
// user database through nss_wrapper) where Claude Code engines run: processes
// shown as "claude" in the process table, each named with its start time in
// a session registry file whose status the test rewrites.
#include "tests/support/BuildDirectory.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/ProgramRun.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace brindleaf::testing;

namespace {

using Clock = std::chrono::steady_clock;

std::string isoTimestamp(double secondsAgo) {
    using namespace std::chrono;
    const auto now = system_clock::now() - duration_cast<system_clock::duration>(duration<double>(secondsAgo));
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
    return text;
}

// The start time /proc gives the process (clock ticks after boot), as the
// engine writes it into its registry file.
std::string processStartTicks(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
    }
    return field;
}

// A home of its own with Claude Code engines in it.
class EngineHome {
public:
    EngineHome() {
        writeFile(root_ / "passwd", "tester:x:" + std::to_string(::getuid()) + ":" + std::to_string(::getgid()) +
                                        ":Tester:" + home().string() + ":/bin/sh\n");
        writeFile(root_ / "group", "testers:x:" + std::to_string(::getgid()) + ":\n");
        std::filesystem::create_directories(root_ / "config");
    }

    std::filesystem::path home() const { return root_ / "home"; }

    // An engine process with its session's transcript (last written a minute
    // ago, so only the engine keeps it shown) and its registry file.
    void startEngine(const std::string& sessionID, const std::string& title, const std::string& status) {
        const auto cwd = home() / "src" / title;
        std::filesystem::create_directories(cwd);
        const std::string project = "-src-" + title;
        writeFile(home() / ".claude" / "projects" / project / (sessionID + ".jsonl"),
                  R"({"type":"ai-title","aiTitle":")" + title + R"(","sessionId":")" + sessionID + "\"}\n" +
                      R"({"type":"user","sessionId":")" + sessionID + R"(","cwd":")" + cwd.string() +
                      R"(","timestamp":")" + isoTimestamp(62) +
                      R"(","message":{"role":"user","content":"Please fix the build"}})" + "\n");
        auto engine = std::make_unique<ChildProcess>("/bin/sleep", std::vector<std::string>{"claude", "600"}, cwd);
        EXPECT_TRUE(waitForExec(engine->pid(), "claude")) << "the engine process did not start";
        engines_.push_back({sessionID, cwd.string(), std::move(engine)});
        setStatus(sessionID, status);
    }

    // Rewrites the engine's registry file whole (written beside, then renamed
    // over it), as the engine does.
    void setStatus(const std::string& sessionID, const std::string& status) {
        for (const auto& engine : engines_) {
            if (engine.sessionID != sessionID) continue;
            const pid_t pid = engine.process->pid();
            std::string text = R"({"pid":)" + std::to_string(pid) + R"(,"sessionId":")" + sessionID + R"(","cwd":")" +
                               engine.cwd + R"(","procStart":)" + processStartTicks(pid) +
                               R"(,"entrypoint":"cli","status":")" + status + "\"";
            if (status == "waiting") text += R"(,"waitingFor":"permission prompt")";
            text += "}";
            const auto folder = home() / ".claude" / "sessions";
            writeFile(folder / (std::to_string(pid) + ".json.new"), text);
            std::filesystem::rename(folder / (std::to_string(pid) + ".json.new"),
                                    folder / (std::to_string(pid) + ".json"));
        }
    }

    std::vector<std::string> environment() const {
        std::vector<std::string> env = {
            "PATH=/usr/bin:/bin",
            "HOME=" + home().string(),
            "XDG_CONFIG_HOME=" + (root_ / "config").string(),
            "XDG_DATA_HOME=" + (root_ / "data").string(),
            "XDG_CACHE_HOME=" + (root_ / "cache").string(),
            "LD_PRELOAD=libnss_wrapper.so",
            "NSS_WRAPPER_PASSWD=" + (root_ / "passwd").string(),
            "NSS_WRAPPER_GROUP=" + (root_ / "group").string(),
        };
        // Under the sanitizers the preloaded library would come before the runtime.
        std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
        if (const char* inherited = std::getenv("ASAN_OPTIONS")) asan += std::string(":") + inherited;
        env.push_back(asan);
        for (const char* name : {"UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
        return env;
    }

    std::filesystem::path errorLog(const std::string& name) const { return root_ / (name + ".stderr"); }

private:
    struct Engine {
        std::string sessionID;
        std::string cwd;
        std::unique_ptr<ChildProcess> process;
    };
    TempDir root_;
    std::vector<Engine> engines_;
};

// `brindleaf --watch...` with its standard output a pipe read here, its
// standard error a file.
class Watcher {
public:
    Watcher(const EngineHome& home, const std::string& mode, const std::string& name) : errors_(home.errorLog(name)) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        std::vector<std::string> argv = {"brindleaf", mode};
        std::vector<std::string> env = home.environment();
        auto argvPointers = cStringArray(argv);
        auto envPointers = cStringArray(env);
        const std::string program = (buildDirectory() / "app" / "brindleaf").string();
        const int errors = ::open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(errors, STDERR_FILENO);
            const int in = ::open("/dev/null", O_RDONLY);
            ::dup2(in, STDIN_FILENO);
            ::execve(program.c_str(), argvPointers.data(), envPointers.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(errors);
        reader_ = out[0];
    }

    ~Watcher() {
        closeReader();
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // The next line, waiting at most `seconds` for it.
    std::optional<std::string> nextLine(double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (true) {
            const auto newline = buffer_.find('\n');
            if (newline != std::string::npos) {
                std::string line = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return std::nullopt;
            pollfd readable{reader_, POLLIN, 0};
            if (::poll(&readable, 1, int(left)) <= 0) continue;
            char chunk[4096];
            const ssize_t count = ::read(reader_, chunk, sizeof chunk);
            if (count <= 0) return std::nullopt; // the program closed its output
            buffer_.append(chunk, std::size_t(count));
        }
    }

    // The next line whose "text" (JSON) is `text`, passing over others first.
    std::optional<nlohmann::json> lineWithText(const std::string& text, double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (auto line = nextLine(std::chrono::duration<double>(deadline - Clock::now()).count())) {
            auto object = nlohmann::json::parse(*line);
            if (object.at("text") == text) return object;
        }
        return std::nullopt;
    }

    void closeReader() {
        if (reader_ >= 0) ::close(reader_);
        reader_ = -1;
    }
    void signal(int number) { ::kill(pid_, number); }

    // The exit status (128 + signal when a signal ended it) once the program
    // has ended within `seconds`.
    std::optional<int> exitStatus(double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (!status_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else if (Clock::now() >= deadline)
                break;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return status_;
    }

    std::string errors() const { return readFile(errors_); }

private:
    std::filesystem::path errors_;
    pid_t pid_ = -1;
    int reader_ = -1;
    std::string buffer_;
    std::optional<int> status_;
};

constexpr double generous = 20; // seconds a line or an exit may take on a busy machine

const std::string sessionA = "11111111-aaaa-4aaa-8aaa-111111111111";
const std::string sessionB = "22222222-bbbb-4bbb-8bbb-222222222222";

} // namespace

// Three copies side by side, no instance lock between them: `changing`
// follows a home whose engines change their status; `resting` and `plain`
// watch another home that does not change. `resting` must print nothing after
// its first line for 10 s, which it spends beside the changes of `changing`
// (the time is the check: a line would be late by up to a poll interval of
// 1.5 s and the debounces, so a window several times that long is needed).
TEST(StatusWatch, FirstLineThenOneLinePerChangeNoneAtRestAndEndsWhenTheReaderGoes) {
    EngineHome changingHome;
    changingHome.startEngine(sessionA, "alpha", "busy");
    changingHome.startEngine(sessionB, "beta", "idle");
    EngineHome restingHome;
    restingHome.startEngine(sessionA, "gamma", "busy");

    Watcher changing(changingHome, "--watch", "changing");
    Watcher resting(restingHome, "--watch", "resting");
    Watcher plain(restingHome, "--watch=text", "plain");

    // The first line comes at once, whatever it shows before the first
    // process sample names the engines; then the engine's session.
    auto first = changing.nextLine(generous);
    ASSERT_TRUE(first) << "no first line; standard error: " << changing.errors();
    const auto firstObject = nlohmann::ordered_json::parse(*first);
    std::vector<std::string> keys;
    for (const auto& [key, value] : firstObject.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"text", "alt", "tooltip", "class", "percentage"})) << *first;
    auto working = firstObject.at("text") == "1 working" ? nlohmann::json::parse(*first)
                                                         : changing.lineWithText("1 working", generous);
    ASSERT_TRUE(working) << "the busy engine's session was never shown";
    EXPECT_EQ(working->at("class"), "working");
    EXPECT_EQ(working->at("alt"), "working");
    EXPECT_EQ(working->at("percentage"), 100);
    EXPECT_EQ(working->at("tooltip").get<std::string>().rfind("Claude Code: alpha \u2014 ", 0), 0u) << *working;

    auto restingLine = resting.lineWithText("1 working", generous);
    ASSERT_TRUE(restingLine) << "the resting home's session was never shown; " << resting.errors();
    const auto restedFrom = Clock::now();
    std::optional<std::string> plainLine;
    while ((plainLine = plain.nextLine(generous)) && *plainLine != "1 working") {
    }
    EXPECT_EQ(plainLine, "1 working");

    // Each change of the home: exactly one line, the next one.
    struct Change {
        std::string session, status, text, state;
        int percentage;
    } changes[] = {
        {sessionA, "waiting", "1 waiting", "waiting", 0},
        {sessionB, "busy", "1 working \u00B7 1 waiting", "working", 50},
        {sessionA, "idle", "1 working", "working", 100},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.text);
        changingHome.setStatus(change.session, change.status);
        auto line = changing.nextLine(generous);
        ASSERT_TRUE(line) << "no line after the change";
        const auto object = nlohmann::json::parse(*line);
        EXPECT_EQ(object.at("text"), change.text) << *line;
        EXPECT_EQ(object.at("class"), change.state);
        EXPECT_EQ(object.at("percentage"), change.percentage);
    }
    changing.signal(SIGTERM);
    EXPECT_EQ(changing.exitStatus(generous), 0) << changing.errors();
    EXPECT_EQ(changing.errors(), "");

    // Nothing while nothing changes, for 10 s after the resting copy's line.
    const auto restEnd = restedFrom + std::chrono::seconds(10);
    const double left = std::chrono::duration<double>(restEnd - Clock::now()).count();
    EXPECT_EQ(resting.nextLine(left > 0 ? left : 0), std::nullopt) << "a line at rest";
    EXPECT_EQ(plain.nextLine(0), std::nullopt) << "a line at rest";

    // The reader goes while nothing changes: the program notices at once.
    resting.closeReader();
    EXPECT_EQ(resting.exitStatus(2), 0) << "not ended within 2 s of its reader closing the pipe";
    plain.signal(SIGINT);
    EXPECT_EQ(plain.exitStatus(generous), 0);
    EXPECT_EQ(resting.errors(), "");
    EXPECT_EQ(plain.errors(), "");
}
