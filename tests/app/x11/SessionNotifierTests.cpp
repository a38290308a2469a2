// The desktop notifications of the running program, shown by the real dunst
// on the test's own session bus and read back with dunstctl, while Claude
// Code sessions of the rig's home start and stop waiting and working; some
// of them in real xterms, whose windows the user looks at or is taken to.
#include "platform/Base64.hpp"
#include "platform/ProcFsProcessTable.hpp"
#include "platform/X11WindowActivator.hpp"
#include "sync/StatusCloudSyncController.hpp"
#include "tests/app/x11/TrayRig.hpp"
#include "tests/providers/claude/ClaudeFixtures.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/PrivateSessionBus.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <fcntl.h>

using namespace brindleaf;
using namespace brindleaf::testing;
using brindleaf::claudefixtures::Transcript;
using nlohmann::json;

namespace {

const std::string popoverTitle = "Brindleaf Dashboard";

// Every character that is not an ASCII letter or digit becomes "-", as
// Claude Code names its project folders.
std::string projectKey(std::string path) {
    for (char& c : path)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
    return path;
}

// An xterm whose shell becomes a process named "claude" (as a session's
// engine shows in the process table) in the given folder.
class Terminal {
public:
    explicit Terminal(const std::string& cwd) {
        // The shell is in no tmux of the developer's.
        ::unsetenv("TMUX");
        ::unsetenv("TMUX_PANE");
        const std::string pidFile = cwd + "/.engine.pid";
        xterm_ = std::make_unique<ChildProcess>(
            "/usr/bin/xterm",
            std::vector<std::string>{"xterm", "-T", "agent", "-e", "/bin/bash", "-c",
                                     "echo $$ > \"$0.part\" && mv \"$0.part\" \"$0\" && exec -a claude /bin/sleep 600",
                                     pidFile},
            cwd);
        EXPECT_TRUE(waitUntil([&] {
            std::ifstream in(pidFile);
            return static_cast<bool>(in >> engine_);
        })) << "the shell in the xterm did not start";
        EXPECT_TRUE(engine_ > 0 && waitForExec(engine_, "claude")) << "the xterm's shell did not become \"claude\"";
        std::optional<X11WindowActivator::OwnedWindow> found;
        EXPECT_TRUE(waitUntil([&] { return (found = X11WindowActivator().windowOf({xterm_->pid()})).has_value(); }))
            << "the xterm's window did not appear in _NET_CLIENT_LIST";
        if (found) window_ = found->window;
    }
    ~Terminal() {
        // In a session of the xterm's own: not in the xterm's process group.
        if (engine_ > 0) ::kill(engine_, SIGKILL);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    pid_t engine() const { return engine_; }
    uint32_t window() const { return window_; }

private:
    std::unique_ptr<ChildProcess> xterm_;
    pid_t engine_ = 0;
    uint32_t window_ = 0;
};

// _NET_ACTIVE_WINDOW as xdotool reads it (0 when none).
uint32_t activeWindow() {
    return static_cast<uint32_t>(
        std::strtoul(TrayRig::run("xdotool getactivewindow 2>/dev/null").c_str(), nullptr, 10));
}

// Makes the window the active one, through the window manager.
::testing::AssertionResult focus(uint32_t window) {
    X11WindowActivator().activate(window);
    if (waitUntil([&] { return activeWindow() == window; })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "openbox did not activate window " << window;
}

// One Claude Code session: a process that stands for its engine (its
// arguments start with "claude") in a working folder of its own, its
// transcript and its file in the engines' registry. The engine runs on its
// own, or in a terminal.
struct Session {
    std::string id;
    std::string title;
    std::string cwd;
    std::unique_ptr<ChildProcess> engine;
    std::unique_ptr<Terminal> terminal;
    pid_t pid = 0;
    std::string status = "busy";
    std::optional<std::string> waitingFor;
};

// The dunst of the test on its own bus, in a home of its own.
class NotificationDesk {
public:
    NotificationDesk() {
        bus_.makeSessionBus();
        writeFile(dunstHome_ / "config" / "dunst" / "dunstrc", "[global]\n"
                                                               "    monitor = 0\n"
                                                               "    follow = none\n"
                                                               "    markup = full\n"
                                                               "    stack_duplicates = false\n"
                                                               "    history_length = 100\n"
                                                               "[urgency_low]\n    timeout = 0\n"
                                                               "[urgency_normal]\n    timeout = 0\n"
                                                               "[urgency_critical]\n    timeout = 0\n");
        dunst_ = std::make_unique<ChildProcess>(
            "/usr/bin/env",
            std::vector<std::string>{"env", std::string("HOME=") + (dunstHome_ / "home").string(),
                                     std::string("XDG_CONFIG_HOME=") + (dunstHome_ / "config").string(),
                                     std::string("XDG_DATA_HOME=") + (dunstHome_ / "data").string(), "dunst", "-config",
                                     (dunstHome_ / "config" / "dunst" / "dunstrc").string()});
        ready_ = waitUntil([] { return !TrayRig::run("dunstctl count displayed 2>/dev/null").empty(); });
    }

    bool isReady() const { return bus_.isReady() && ready_; }
    static int displayed() { return count("displayed"); }
    static int history() { return count("history"); }
    // The notifications in dunst's history (closed ones), newest first.
    static std::vector<json> closed() {
        std::vector<json> out;
        const auto text = TrayRig::run("dunstctl history");
        const auto parsed = json::parse(text, nullptr, false);
        if (parsed.is_discarded() || !parsed.contains("data") || parsed["data"].empty()) return out;
        for (const auto& item : parsed["data"][0]) out.push_back(item);
        return out;
    }
    static std::string field(const json& notification, const std::string& name) {
        return notification.contains(name) ? notification[name].value("data", std::string()) : std::string();
    }

private:
    static int count(const std::string& which) {
        const auto text = TrayRig::run(std::string("dunstctl count ") + which + " 2>/dev/null");
        return text.empty() ? -1 : std::atoi(text.c_str());
    }

    PrivateSessionBus bus_;
    TempDir dunstHome_;
    std::unique_ptr<ChildProcess> dunst_;
    bool ready_ = false;
};

// The rig's home with the running program, and the sessions it shows.
class NotificationRig {
public:
    NotificationRig() : rig_(TrayRig::Welcome::alreadyShown) {}

    std::filesystem::path home() const { return rig_.root() / "home"; }
    TrayRig& rig() { return rig_; }

    enum class Where { alone, inTerminal };

    // A session whose last prompt came `promptAge` seconds ago.
    Session& add(const std::string& id, const std::string& title, double promptAge, const std::string& status,
                 std::optional<std::string> waitingFor = std::nullopt, Where where = Where::alone) {
        auto& session = sessions_[id];
        session.id = id;
        session.title = title;
        session.cwd = (home() / "work" / (std::string("project-") + id.substr(0, 4))).string();
        std::filesystem::create_directories(session.cwd);
        if (where == Where::inTerminal) {
            session.terminal = std::make_unique<Terminal>(session.cwd);
            session.pid = session.terminal->engine();
        } else {
            session.engine =
                std::make_unique<ChildProcess>("/bin/sleep", std::vector<std::string>{"claude", "600"}, session.cwd);
            EXPECT_TRUE(waitForExec(session.engine->pid(), "claude"));
            session.pid = session.engine->pid();
        }
        session.status = status;
        session.waitingFor = std::move(waitingFor);
        writeTranscript(session, promptAge);
        return session;
    }
    // The session's transcript: its one prompt (its title) `promptAge` seconds
    // ago; the file's time is that of the prompt unless `touched` (written now).
    void writeTranscript(const Session& session, double promptAge, bool touched = false) const {
        const double now = std::floor(currentDate());
        Transcript transcript(session.id, session.cwd);
        transcript.prompt(session.title, now - promptAge);
        const auto path = home() / ".claude" / "projects" / projectKey(session.cwd) / (session.id + ".jsonl");
        writeFile(path, transcript.text());
        if (!touched) setFileTime(path, now - promptAge);
    }
    void retitle(const std::string& id, const std::string& title) {
        sessions_.at(id).title = title;
        writeTranscript(sessions_.at(id), 3, true);
    }
    void set(const std::string& id, const std::string& status, std::optional<std::string> waitingFor = std::nullopt) {
        sessions_.at(id).status = status;
        sessions_.at(id).waitingFor = std::move(waitingFor);
    }

    // Writes every engine's registry file as it stands into a fresh folder
    // and swaps it with the registry in one step, so that a refresh sees all
    // of the changes or none.
    void publish() {
        const auto claude = home() / ".claude";
        const auto next = claude / "sessions.next";
        std::filesystem::create_directories(next);
        const double now = currentDate();
        for (const auto& [id, session] : sessions_) {
            const pid_t pid = session.pid;
            json file = {{"pid", pid},
                         {"sessionId", id},
                         {"cwd", session.cwd},
                         {"startedAt", static_cast<int64_t>(now * 1000)},
                         {"procStart", std::to_string(ProcFsProcessTable().startTicks(pid).value_or(0))},
                         {"version", "2.1.341"},
                         {"kind", "interactive"},
                         {"entrypoint", "cli"},
                         {"status", session.status},
                         {"updatedAt", static_cast<int64_t>(now * 1000)},
                         {"statusUpdatedAt", static_cast<int64_t>(now * 1000)}};
            if (session.waitingFor) file["waitingFor"] = *session.waitingFor;
            writeFile(next / (std::to_string(pid) + ".json"), file.dump());
        }
        const auto current = claude / "sessions";
        if (!std::filesystem::exists(current)) {
            std::filesystem::rename(next, current);
            return;
        }
        ASSERT_EQ(::renameat2(AT_FDCWD, next.c_str(), AT_FDCWD, current.c_str(), RENAME_EXCHANGE), 0)
            << "the registry folders could not be swapped: " << std::strerror(errno);
        // The folder swapped out stays (a scan may still be reading it).
        std::filesystem::rename(next, claude / (std::string("sessions.") + std::to_string(++generation_)));
    }

    const Session& session(const std::string& id) const { return sessions_.at(id); }

    void start() {
        publish();
        rig_.startApp();
    }

    // The sessions of the status the program saved last (its cloud record),
    // by id; absent before it saved one.
    std::optional<std::map<std::string, json>> savedSessions() const {
        std::ifstream file(rig_.root() / "data" / "brindleaf" / "cloud" / "iCloud.com.quorvale.Brindleaf" / "private" /
                           "records" / "current.json");
        std::stringstream text;
        text << file.rdbuf();
        const auto record = json::parse(text.str(), nullptr, false);
        if (record.is_discarded()) return std::nullopt;
        const auto bytes = record["fields"]["payloadData"].value("bytes", std::string());
        const auto payload = json::parse(Base64::decode(bytes).value_or(""), nullptr, false);
        if (payload.is_discarded()) return std::nullopt;
        std::map<std::string, json> out;
        for (const auto& session : payload["sessions"]) out[session.value("id", std::string())] = session;
        return out;
    }
    // The process the program's saved status names as the session's engine.
    // A status whose sessions are unchanged but for their processes' usage
    // is saved again only after StatusCloudSyncController::minimumSaveInterval:
    // an engine the first sampling missed shows in the saved status that late.
    static constexpr double savedUsageBound = StatusCloudSyncController::minimumSaveInterval + 25;
    int64_t savedEngine(const std::string& id) const {
        const auto saved = savedSessions();
        if (!saved || !saved->count(id)) return 0;
        const auto& session = saved->at(id);
        if (!session.contains("resourceUsage")) return 0;
        return session["resourceUsage"].value("pid", int64_t{0});
    }
    // Waits until the program has committed (and saved) a status whose
    // sessions are these, by id: their titles, with " (waiting)" after the
    // title of one that needs the user.
    ::testing::AssertionResult showsExactly(const std::map<std::string, std::string>& expected) const {
        std::map<std::string, std::string> seen;
        const bool shown = waitUntil([&] {
            const auto saved = savedSessions();
            if (!saved) return false;
            seen.clear();
            for (const auto& [id, session] : *saved)
                seen[id] = session.value("title", std::string()) +
                           (session.value("needsUserAttention", false) ? " (waiting)" : "");
            return seen == expected;
        });
        if (shown) return ::testing::AssertionSuccess();
        std::string text;
        for (const auto& [id, state] : seen) {
            text += ' ';
            text += id.substr(0, 4);
            text += '=';
            text += state;
        }
        return ::testing::AssertionFailure()
               << "the program's saved status never showed those sessions; it shows:" << text;
    }

private:
    TrayRig rig_;
    std::map<std::string, Session> sessions_;
    int generation_ = 0;
};

const std::string idA = "a0000000-0000-4000-8000-000000000001";
const std::string idB = "b0000000-0000-4000-8000-000000000002";
const std::string idC = "c0000000-0000-4000-8000-000000000003";
const std::string idD = "d0000000-0000-4000-8000-000000000004";

} // namespace

TEST(SessionNotifierTests, AWaitIsToldOnceAndClosedWhenAnswered) {
    NotificationDesk desk;
    ASSERT_TRUE(desk.isReady()) << "dunst did not come up on the test's bus";
    NotificationRig home;
    // Waiting when the program starts: never told.
    home.add(idA, "tidy the imports", 3, "waiting", "permission prompt");
    home.start();
    ASSERT_TRUE(home.showsExactly({{idA, "tidy the imports (waiting)"}}));

    // A title with markup in it is shown as it stands: escaped for a server
    // that reads markup, as this dunst does (its history keeps the text as
    // it came).
    home.add(idB, "fix the <b>totals</b> & tax", 3, "waiting", "permission prompt");
    home.publish();
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::displayed() >= 1; })) << "no notification for a new wait";

    // The same wait over ten refreshes, each seen by the program (the
    // session's title and what it waits for change), stays one notification.
    const std::vector<std::string> waits = {"input needed", "dialog open", "permission prompt"};
    for (int round = 0; round < 10; ++round) {
        const std::string title = "fix the checkout totals, take " + std::to_string(round);
        home.set(idB, "waiting", waits[round % waits.size()]);
        home.retitle(idB, title);
        home.publish();
        ASSERT_TRUE(home.showsExactly({{idA, "tidy the imports (waiting)"}, {idB, title + " (waiting)"}}))
            << "round " << round;
    }
    EXPECT_EQ(NotificationDesk::displayed(), 1);
    EXPECT_EQ(NotificationDesk::history(), 0);

    // Answered: the program closes it (dunst keeps it in its history).
    home.set(idB, "busy");
    home.publish();
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::displayed() == 0 && NotificationDesk::history() == 1; }))
        << "the answered wait's notification was not closed";
    const auto told = NotificationDesk::closed();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(NotificationDesk::field(told[0], "appname"), "Brindleaf");
    EXPECT_EQ(NotificationDesk::field(told[0], "summary"), "Claude Code needs you");
    EXPECT_EQ(NotificationDesk::field(told[0], "body"),
              "fix the &lt;b&gt;totals&lt;/b&gt; &amp; tax\nproject-b000 · Claude Code waits for a permission prompt");

    // Two that start waiting in one refresh share one notification; its
    // default action opens the dashboard.
    home.add(idC, "write the release notes", 3, "waiting", "input needed");
    home.add(idD, "bump the version", 3, "waiting", "permission prompt");
    home.publish();
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::displayed() >= 1; })) << "no notification for two waits";
    ASSERT_TRUE(home.showsExactly({{idA, "tidy the imports (waiting)"},
                                   {idB, "fix the checkout totals, take 9"},
                                   {idC, "write the release notes (waiting)"},
                                   {idD, "bump the version (waiting)"}}));
    EXPECT_EQ(NotificationDesk::displayed(), 1);
    EXPECT_FALSE(home.rig().isWindowShown(popoverTitle));
    TrayRig::run("dunstctl action 0");
    EXPECT_TRUE(waitUntil([&] { return home.rig().isWindowShown(popoverTitle); }))
        << "the default action did not open the dashboard";
    if (NotificationDesk::displayed() == 1) TrayRig::run("dunstctl close");
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::history() == 2; }));
    const auto group = NotificationDesk::closed();
    EXPECT_EQ(NotificationDesk::field(group[0], "summary"), "2 sessions need you");
    // The titles a line each, in the order the dashboard lists them (the
    // newer activity first; these two are of the same second).
    const auto body = NotificationDesk::field(group[0], "body");
    EXPECT_TRUE(body == "write the release notes\nbump the version" ||
                body == "bump the version\nwrite the release notes")
        << body;
}

TEST(SessionNotifierTests, OnlyARunOfHalfAMinuteOrMoreIsToldWhenItFinishes) {
    NotificationDesk desk;
    ASSERT_TRUE(desk.isReady()) << "dunst did not come up on the test's bus";
    NotificationRig home;
    home.start();
    ASSERT_TRUE(home.showsExactly({}));

    // Its prompt came 31 s ago: it has worked that long when it ends.
    home.add(idA, "port the parser", 31, "busy");
    home.publish();
    ASSERT_TRUE(home.showsExactly({{idA, "port the parser"}}));
    home.set(idA, "idle");
    home.publish();
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::displayed() == 1; })) << "the long run was not told";
    TrayRig::run("dunstctl close");
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::history() == 1; }));
    auto told = NotificationDesk::closed();
    EXPECT_EQ(NotificationDesk::field(told[0], "summary"), "Claude Code finished");
    EXPECT_EQ(NotificationDesk::field(told[0], "body"), "port the parser");

    // Five seconds: not told. A wait after it is the next notification.
    home.add(idB, "rename a variable", 5, "busy");
    home.publish();
    ASSERT_TRUE(home.showsExactly({{idB, "rename a variable"}}));
    home.set(idB, "idle");
    home.publish();
    ASSERT_TRUE(home.showsExactly({}));
    home.add(idC, "check the fixtures", 3, "waiting", "permission prompt");
    home.publish();
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::displayed() == 1; }));
    TrayRig::run("dunstctl close");
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::history() == 2; }));
    told = NotificationDesk::closed();
    EXPECT_EQ(NotificationDesk::field(told[0], "summary"), "Claude Code needs you");
    EXPECT_EQ(NotificationDesk::field(told[1], "summary"), "Claude Code finished");
}

TEST(SessionNotifierTests, NoneWhileTheUserLooksAtTheSessionsTerminal) {
    NotificationDesk desk;
    ASSERT_TRUE(desk.isReady()) << "dunst did not come up on the test's bus";
    NotificationRig home;
    home.start();
    ASSERT_TRUE(home.showsExactly({}));
    const auto& looked = home.add(idA, "sort the imports", 3, "busy", std::nullopt, NotificationRig::Where::inTerminal);
    const auto& other = home.add(idB, "split the parser", 3, "busy", std::nullopt, NotificationRig::Where::inTerminal);
    home.publish();
    ASSERT_TRUE(home.showsExactly({{idA, "sort the imports"}, {idB, "split the parser"}}));
    // The program takes the processes in the xterms for the sessions' engines.
    ASSERT_TRUE(waitUntil([&] { return home.savedEngine(idA) == looked.pid && home.savedEngine(idB) == other.pid; },
                          NotificationRig::savedUsageBound))
        << "the saved status names engines " << home.savedEngine(idA) << " and " << home.savedEngine(idB)
        << ", not the xterms' processes " << looked.pid << " and " << other.pid;

    // Its terminal in front: the wait is seen, and not told.
    ASSERT_TRUE(focus(looked.terminal->window()));
    home.set(idA, "waiting", "permission prompt");
    home.publish();
    ASSERT_TRUE(home.showsExactly({{idA, "sort the imports (waiting)"}, {idB, "split the parser"}}));
    ASSERT_EQ(activeWindow(), looked.terminal->window()) << "the session's xterm lost the focus to another window";
    EXPECT_EQ(NotificationDesk::displayed(), 0);

    // The other session's terminal is not in front: its wait is told. The
    // program decides on its refreshes in turn, so a notice of the first
    // wait would have come before this one.
    home.set(idB, "waiting", "input needed");
    home.publish();
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::displayed() >= 1; }))
        << "no notification for the wait of a session whose terminal is not in front";
    ASSERT_TRUE(home.showsExactly({{idA, "sort the imports (waiting)"}, {idB, "split the parser (waiting)"}}));
    TrayRig::run("dunstctl close-all");
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::displayed() == 0 && NotificationDesk::history() >= 1; }));
    const auto told = NotificationDesk::closed();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(NotificationDesk::field(told[0], "body"),
              "split the parser\nproject-b000 · Claude Code waits for your answer");
}

TEST(SessionNotifierTests, TheDefaultActionBringsTheSessionsTerminalForward) {
    NotificationDesk desk;
    ASSERT_TRUE(desk.isReady()) << "dunst did not come up on the test's bus";
    NotificationRig home;
    home.start();
    ASSERT_TRUE(home.showsExactly({}));
    const auto& behind = home.add(idA, "tidy the tests", 3, "busy", std::nullopt, NotificationRig::Where::inTerminal);
    const auto& front = home.add(idB, "read the logs", 3, "busy", std::nullopt, NotificationRig::Where::inTerminal);
    home.publish();
    ASSERT_TRUE(waitUntil([&] { return home.savedEngine(idA) == behind.pid; }, NotificationRig::savedUsageBound))
        << "the saved status names engine " << home.savedEngine(idA) << ", not the xterm's process " << behind.pid;
    ASSERT_TRUE(focus(front.terminal->window()));

    home.set(idA, "waiting", "permission prompt");
    home.publish();
    ASSERT_TRUE(waitUntil([] { return NotificationDesk::displayed() == 1; })) << "the wait was not told";
    TrayRig::run("dunstctl action 0");
    EXPECT_TRUE(waitUntil([&] { return activeWindow() == behind.terminal->window(); }))
        << "the default action did not activate the session's xterm; the active window is " << activeWindow();
    EXPECT_FALSE(home.rig().isWindowShown(popoverTitle)) << "the dashboard opened instead";
}
