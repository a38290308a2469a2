// The one running copy per user, as the built program keeps it: where its lock
// and socket may live, who is heard on the socket, and how long anyone waits.
#include "app/InstanceName.hpp"
#include "app/LaunchPlan.hpp"
#include "tests/app/x11/InstanceNameHolder.hpp"
#include "tests/app/x11/TrayRig.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace brindleaf;
using namespace brindleaf::testing;
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

namespace {

const std::string noAnswer =
    "brindleaf: already running for this user, but the running copy did not answer within 5 seconds\n";
const std::string popoverTitle = "Brindleaf Dashboard";
const std::string floatingTitle = "Brindleaf";

// A start run to its end, or ended by the test at `seconds` (then `ended` is false).
struct Run {
    bool ended = false;
    int exitStatus = -1;
    std::string standardError;
    double seconds = 0;
};

Run runWithin(std::vector<std::string> argv, std::vector<std::string> environment, double seconds) {
    int errors[2];
    if (::pipe2(errors, O_CLOEXEC) != 0) return {};
    const auto started = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int nothing = ::open("/dev/null", O_RDWR);
        ::dup2(nothing, 0);
        ::dup2(nothing, 1);
        ::dup2(errors[1], 2);
        auto args = cStringArray(argv);
        auto envp = cStringArray(environment);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(errors[1]);
    Run run;
    const auto deadline = started + std::chrono::duration<double>(seconds);
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{errors[0], POLLIN, 0};
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) == 0) break;
        const ssize_t n = ::read(errors[0], buffer, sizeof buffer);
        if (n > 0) run.standardError.append(buffer, static_cast<std::size_t>(n));
        if (n == 0) {
            run.ended = true;
            break;
        }
    }
    ::close(errors[0]);
    if (!run.ended) ::kill(-pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (run.ended) run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// The rig's start: its environment is this process's.
Run runApp(const std::vector<std::string>& arguments, double seconds = 30) {
    std::vector<std::string> argv = {TrayRig::program().string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment{"LD_PRELOAD=libnss_wrapper.so"};
    for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
    return runWithin(argv, environment, seconds);
}

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Waits until the copy holds the lock in `folder` (the lock file names it)
// and listens beside it.
::testing::AssertionResult holdsLockIn(pid_t pid, const fs::path& folder) {
    if (!waitUntil([&] { return firstLine(folder / "instance.lock") == std::to_string(pid); }))
        return ::testing::AssertionFailure() << "the copy " << pid << " took no lock in " << folder;
    if (!waitUntil([&] { return fs::is_socket(folder / "instance.socket"); }))
        return ::testing::AssertionFailure() << "the copy " << pid << " made no socket in " << folder;
    return ::testing::AssertionSuccess();
}

// A client of the copy's socket, connected now; it sends and reads by a deadline of 30 s.
struct Client {
    int descriptor = -1;
    // A socket file, or an abstract name written "@name".
    explicit Client(const fs::path& socket) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
        socklen_t length = sizeof address;
        if (address.sun_path[0] == '@') {
            address.sun_path[0] = '\0';
            length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket.string().size());
        }
        descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(descriptor, reinterpret_cast<sockaddr*>(&address), length) != 0) {
            ::close(descriptor);
            descriptor = -1;
        }
        timeval bound{30, 0};
        ::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        ::setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    }
    ~Client() {
        if (descriptor >= 0) ::close(descriptor);
    }
    // The answer after the whole message: what came until the copy closed
    // ("timeout" when it never did within the bound).
    std::string answer() {
        std::string reply;
        char buffer[64];
        for (;;) {
            const ssize_t n = ::recv(descriptor, buffer, sizeof buffer, 0);
            if (n > 0) reply.append(buffer, static_cast<std::size_t>(n));
            if (n == 0 || (n < 0 && errno != EINTR)) return n < 0 && errno == EAGAIN ? "timeout" : reply;
        }
    }
};

// What a process of another user got from the copy's socket for a hand-off message.
std::string answerToOtherUser(const fs::path& socket, uid_t user, const std::string& message) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(2);
        Client client(socket);
        std::string reply = "no connection";
        if (client.descriptor >= 0) {
            ::send(client.descriptor, message.data(), message.size(), MSG_NOSIGNAL);
            ::shutdown(client.descriptor, SHUT_WR);
            reply = client.answer();
        }
        if (::write(pipe[1], reply.data(), reply.size()) < 0) ::_exit(3);
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string reply;
    char buffer[64];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        reply.append(buffer, static_cast<std::size_t>(n));
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? reply
                                                         : "the client could not become user " + std::to_string(user);
}

} // namespace

// The copy hears only its own user: a process of another user that reaches
// the socket (here the folders are opened to it) or the name (open to anyone)
// is refused unanswered, and its flags are never acted on.
TEST(SingleInstanceTests, AnotherUsersHandOffIsRefused) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root, to be a client of another user";
    TrayRig rig;
    const auto folder = rig.root() / "run" / "brindleaf";
    const pid_t copy = rig.startApp().pid();
    ASSERT_TRUE(holdsLockIn(copy, folder));
    for (const auto& open : {rig.root().path(), rig.root() / "run", folder}) fs::permissions(open, fs::perms::all);
    fs::permissions(folder / "instance.socket", fs::perms::all);
    const std::string message = LaunchPlan::handoffMessage({"--show-settings=about"});
    EXPECT_EQ(answerToOtherUser(folder / "instance.socket", 4242, message), "");
    EXPECT_EQ(answerToOtherUser("@" + rig.instanceName(), 4242, message), "");
    // Closed again: a start passes over a runtime folder open to others.
    for (const auto& open : {rig.root().path(), rig.root() / "run", folder})
        fs::permissions(open, fs::perms::owner_all);
    // Taken in order: once a later start of the user's own has been acted
    // on, the refused one would have been too.
    EXPECT_EQ(runApp({"--show-glance"}).exitStatus, 0);
    ASSERT_TRUE(waitUntil([&] { return rig.isWindowShown(floatingTitle); }));
    EXPECT_FALSE(rig.isWindowShown("About"));
}

// A client that sends without end is cut off once its message is longer than
// any hand-off, and one that sends nothing at the copy's bound of 5 s; the
// copy hears other starts meanwhile.
TEST(SingleInstanceTests, EndlessAndSilentClientsAreCutOff) {
    TrayRig rig;
    const auto folder = rig.root() / "run" / "brindleaf";
    const pid_t copy = rig.startApp().pid();
    ASSERT_TRUE(holdsLockIn(copy, folder));

    Client silent(folder / "instance.socket");
    ASSERT_GE(silent.descriptor, 0);
    const auto silentSince = Clock::now();
    {
        Client endless(folder / "instance.socket");
        ASSERT_GE(endless.descriptor, 0);
        const std::string chunk(64 * 1024, 'x');
        // Far more than the copy keeps; the system's buffers take a few hundred KiB.
        constexpr std::size_t limit = 64u << 20;
        std::size_t sent = 0;
        while (sent < limit) {
            const ssize_t n = ::send(endless.descriptor, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        EXPECT_LT(sent, 16u << 20) << "the copy took " << sent << " bytes of one hand-off without cutting it off";
    }
    const auto start = runApp({"--show-glance"});
    EXPECT_EQ(start.exitStatus, 0) << "a start beside a silent client was not heard: " << start.standardError;

    // The silent one is closed unanswered, at the bound and not before.
    EXPECT_EQ(silent.answer(), "") << "the copy kept a silent client beyond 30 s";
    const double silentSeconds = std::chrono::duration<double>(Clock::now() - silentSince).count();
    EXPECT_GE(silentSeconds, 4.5);
    EXPECT_LT(silentSeconds, 30);
}

// A copy that does not answer (stopped) holds a second start until the bound
// of 5 s, not longer: the start ends by itself.
TEST(SingleInstanceTests, SecondStartEndsAtTheBound) {
    TrayRig rig;
    const pid_t copy = rig.startApp().pid();
    ASSERT_TRUE(holdsLockIn(copy, rig.root() / "run" / "brindleaf"));
    ASSERT_EQ(::kill(copy, SIGSTOP), 0);
    Resume resume{copy};
    const auto second = runApp({"--show-settings=about"}, 30);
    ASSERT_TRUE(second.ended) << "the start did not end within 30 s";
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_EQ(second.standardError, noAnswer);
    EXPECT_GE(second.seconds, 5);
}

// A lock is held while the process it names runs, however old the file: a
// start beside it waits for that holder (here one that has no socket) and
// does not take the lock over.
TEST(SingleInstanceTests, OldLockOfALiveHolderIsNotTakenOver) {
    TrayRig rig;
    ChildProcess holder("/bin/sleep", {"/bin/sleep", "60"});
    const auto folder = rig.root() / "run" / "brindleaf";
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all);
    // The lock file as QLockFile writes it: pid, program name, host, machine id, boot id.
    const auto lock = folder / "instance.lock";
    std::ofstream(lock) << holder.pid() << "\nsleep\n"
                        << TrayRig::run("hostname | tr -d '\\n'") << "\n"
                        << TrayRig::run("tr -d '\\n' < /etc/machine-id") << "\n"
                        << TrayRig::run("tr -d '\\n' < /proc/sys/kernel/random/boot_id") << "\n";
    setFileTime(lock, static_cast<double>(::time(nullptr) - 3600));
    const auto start = runApp({}, 30);
    ASSERT_TRUE(start.ended) << "the start took an hour-old lock of a running process over, and ran as a second copy";
    EXPECT_EQ(start.exitStatus, 1);
    EXPECT_EQ(start.standardError, noAnswer);
    EXPECT_EQ(firstLine(lock), std::to_string(holder.pid()));
}

// The lock and the socket keep the sticky bit (the runtime folder's clean-up
// passes over them). With only the lock removed, the copy is still found at
// its socket. Once both are removed anyway while the copy runs (and its name
// was taken by another process before it started, so it is found nowhere
// else), the next start runs as the only copy; when the first copy then quits
// it leaves the new copy's socket alone, and later starts are handed to the
// new copy.
TEST(SingleInstanceTests, CopyWhoseFilesWereRemovedLeavesTheNextCopysSocket) {
    TrayRig rig;
    InstanceNameHolder name(rig.instanceName(), InstanceNameHolder::Kind::bound, ::getuid());
    ASSERT_EQ(name.failure(), "");
    rig.startTrayHost();
    const auto folder = rig.root() / "run" / "brindleaf";
    const pid_t first = rig.startApp().pid();
    ASSERT_TRUE(holdsLockIn(first, folder));
    for (const char* name : {"instance.lock", "instance.socket"}) {
        struct stat status {};
        ASSERT_EQ(::lstat((folder / name).c_str(), &status), 0);
        EXPECT_TRUE(status.st_mode & S_ISVTX) << name << " has no sticky bit";
    }

    // With only the lock removed, a plain start is still handed to the copy,
    // which opens its dashboard; the dashboard's last control is Quit.
    fs::remove(folder / "instance.lock");
    const auto handed = runApp({});
    EXPECT_EQ(handed.exitStatus, 0) << "a copy whose lock was removed was not found: " << handed.standardError;
    ASSERT_TRUE(waitUntil([&] { return TrayRig::windowOwners(popoverTitle) == std::to_string(first) + "\n"; }))
        << "the first copy opened no dashboard: " << rig.describeWindow(popoverTitle);
    const auto dashboardActive = [] {
        return TrayRig::run("xdotool getactivewindow getwindowname 2>/dev/null").starts_with(popoverTitle);
    };
    ASSERT_TRUE(waitUntil(dashboardActive)) << rig.describeWindow(popoverTitle);

    fs::remove(folder / "instance.socket");
    const pid_t next = rig.startApp().pid();
    ASSERT_TRUE(holdsLockIn(next, folder));
    ASSERT_TRUE(waitUntil(dashboardActive)) << "the first copy's dashboard lost the keyboard when the next copy "
                                               "started: "
                                            << rig.describeWindow(popoverTitle);
    TrayRig::key("shift+Tab");
    TrayRig::key("Return");
    ASSERT_TRUE(waitUntil([&] { return !TrayRig::isRunning(first); })) << "the first copy did not quit";
    EXPECT_TRUE(fs::is_socket(folder / "instance.socket")) << "the first copy removed the next one's socket";
    const auto later = runApp({"--show-settings=about"});
    EXPECT_EQ(later.exitStatus, 0) << later.standardError;
    EXPECT_TRUE(waitUntil([&] { return TrayRig::windowOwners("About") == std::to_string(next) + "\n"; }));
}

namespace {

constexpr uid_t user = 4242;
constexpr const char* programFolder = "brindleaf-program";

// The program run as a plain user (4242) in a mount namespace of its own,
// where /tmp and /run/user are the test's folders: tmp/ and runuser/ here
// (this folder itself stays at its path inside, and the program's folder is
// /tmp/brindleaf-program there, wherever the build tree lies: under /tmp, or
// in a folder the user cannot enter). Its home and XDG folders are the user's.
// Needs root, unshare and setpriv.
class PlainUser {
public:
    PlainUser() {
        for (const char* name : {"home", "config/brindleaf", "data", "cache"}) fs::create_directories(root_ / name);
        std::ofstream(root_ / "config/brindleaf/com.quorvale.Brindleaf.json") << "{\"welcomeShown.v1\":true}\n";
        fs::create_directories(root_ / "runuser");
        fs::create_directories(root_ / "tmp" / root_.path().filename());
        fs::create_directories(root_ / "tmp" / programFolder);
        fs::permissions(root_ / "tmp", fs::perms::all | fs::perms::sticky_bit);
        fs::permissions(root_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        if (const char* cookie = std::getenv("XAUTHORITY")) fs::copy_file(cookie, root_ / "xauthority");
        for (const char* name : {"home", "config", "config/brindleaf", "config/brindleaf/com.quorvale.Brindleaf.json",
                                 "data", "cache", "xauthority"})
            ownByUser(root_ / name);
    }

    static bool possible() {
        return ::getuid() == 0 && ::access("/usr/bin/unshare", X_OK) == 0 && ::access("/usr/bin/setpriv", X_OK) == 0 &&
               fs::is_directory("/run/user");
    }
    static void ownByUser(const fs::path& path) { ::lchown(path.c_str(), user, user); }

    const TempDir& root() const { return root_; }
    // Where /tmp/brindleaf-4242 and /run/user/4242 of the program are.
    fs::path tmpFolder() const { return root_ / "tmp" / ("brindleaf-" + std::to_string(user)); }
    fs::path userRuntime() const { return root_ / "runuser" / std::to_string(user); }

    // The command line of a start with XDG_RUNTIME_DIR as given (unset when empty).
    std::vector<std::string> argv(const std::vector<std::string>& arguments, const std::string& runtime) const {
        const std::string script = "mount --bind \"$1\" /run/user && mount --bind \"$2\" \"$3\" && "
                                   "mount --bind \"$4\" \"$5\" && mount --rbind \"$6\" /tmp && shift 6 && "
                                   "exec setpriv --reuid=" +
                                   std::to_string(user) + " --regid=" + std::to_string(user) +
                                   " --clear-groups /usr/bin/env -i \"$@\"";
        std::vector<std::string> argv{
            "/usr/bin/unshare", "--mount", "/bin/sh", "-c", script, "sh", (root_ / "runuser").string(),
            root_.path().string(), (root_ / "tmp" / root_.path().filename()).string(),
            TrayRig::program().parent_path().string(), (root_ / "tmp" / programFolder).string(),
            (root_ / "tmp").string(), "PATH=/usr/bin:/bin",
            "DISPLAY=" + std::string(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : ""),
            "XAUTHORITY=" + (root_ / "xauthority").string(),
            // No bus for this user: none is started either.
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (root_ / "no-bus").string(), "HOME=" + (root_ / "home").string(),
            "XDG_CONFIG_HOME=" + (root_ / "config").string(), "XDG_DATA_HOME=" + (root_ / "data").string(),
            "XDG_CACHE_HOME=" + (root_ / "cache").string()};
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
            if (const char* value = std::getenv(name)) argv.push_back(std::string(name) + "=" + value);
        if (!runtime.empty()) argv.push_back("XDG_RUNTIME_DIR=" + runtime);
        argv.push_back((fs::path("/tmp") / programFolder / TrayRig::program().filename()).string());
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return argv;
    }
    // A copy, its standard error written to `standardError` when given.
    pid_t startCopy(const std::string& runtime = {}, const fs::path& standardError = {}) {
        auto args = argv({}, runtime);
        if (!standardError.empty())
            args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$@\" 2>\"$0\"", standardError.string()});
        copies_.push_back(std::make_unique<ChildProcess>(args.front(), args));
        return copies_.back()->pid();
    }
    // The name of this user's copies.
    std::string instanceName() const { return InstanceName::forUser(user, root_ / "home"); }
    // A runtime folder of the user's own, `root/name`, as a start gives it.
    fs::path privateRuntime(const char* name) const {
        fs::create_directories(root_ / name);
        fs::permissions(root_ / name, fs::perms::owner_all);
        ownByUser(root_ / name);
        return root_ / name;
    }
    Run run(const std::vector<std::string>& arguments, const std::string& runtime = {}) const {
        return runWithin(argv(arguments, runtime), {}, 30);
    }

private:
    TempDir root_;
    std::vector<std::unique_ptr<ChildProcess>> copies_;
};

// A start that ran as another copy beside the first does not end by itself.
const char* secondCopy = "the start did not end within 30 s: it runs as a second copy";

} // namespace

// /tmp/brindleaf-UID made beforehand by someone else, or a link there, is
// never used: the copy says so and keeps its lock in the cache folder, where
// the next start finds it; nothing is put into the other folder.
TEST(SingleInstanceTests, ForeignTmpFolderIsPassedOver) {
    if (!PlainUser::possible()) GTEST_SKIP() << "needs root, unshare, setpriv and /run/user";
    struct Case {
        const char* what;
        fs::perms mode;
        bool link;
        const char* reason;
    };
    const Case cases[] = {
        {"made by root, mode 0755", fs::perms(0755), false, "it belongs to user 0"},
        {"made by root, open to all", fs::perms(0777), false, "it belongs to user 0"},
        {"a link to the user's folder", fs::perms(0755), true, "it is a symbolic link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PlainUser plain;
        const fs::path other = plain.root() / "elsewhere";
        if (c.link) {
            fs::create_directories(other);
            PlainUser::ownByUser(other);
            fs::create_directory_symlink(other, plain.tmpFolder());
            PlainUser::ownByUser(plain.tmpFolder());
        } else {
            fs::create_directories(plain.tmpFolder());
        }
        fs::permissions(c.link ? other : plain.tmpFolder(), c.mode);
        const std::string refusal =
            "brindleaf: not using /tmp/brindleaf-4242 for the instance lock: " + std::string(c.reason) + "\n";

        const pid_t copy = plain.startCopy();
        ASSERT_TRUE(holdsLockIn(copy, plain.root() / "cache" / "brindleaf"));
        const auto second = plain.run({"--show-glance"});
        ASSERT_TRUE(second.ended) << secondCopy;
        EXPECT_EQ(second.exitStatus, 0);
        EXPECT_EQ(second.standardError, refusal);
        // The folder the link leads to, or the foreign folder itself, as it was.
        const fs::path target = c.link ? other : plain.tmpFolder();
        EXPECT_TRUE(fs::is_empty(target)) << "the copy put files into " << target;
        EXPECT_EQ(fs::status(target).permissions(), c.mode);
    }
}

// A desktop session's start (XDG_RUNTIME_DIR=/run/user/UID) and one without
// the variable (cron, ssh) find the same copy, either way round.
TEST(SingleInstanceTests, StartsWithAndWithoutRuntimeFolderFindOneCopy) {
    if (!PlainUser::possible()) GTEST_SKIP() << "needs root, unshare, setpriv and /run/user";
    PlainUser plain;
    fs::create_directories(plain.userRuntime());
    fs::permissions(plain.userRuntime(), fs::perms::owner_all);
    PlainUser::ownByUser(plain.userRuntime());
    const std::string runtime = "/run/user/" + std::to_string(user);
    const pid_t copy = plain.startCopy(runtime);
    ASSERT_TRUE(holdsLockIn(copy, plain.userRuntime() / "brindleaf"));
    for (const std::string& variable : {std::string(), runtime}) {
        SCOPED_TRACE(variable.empty() ? "without XDG_RUNTIME_DIR" : "with XDG_RUNTIME_DIR");
        const auto start = plain.run({"--show-glance"}, variable);
        ASSERT_TRUE(start.ended) << secondCopy;
        EXPECT_EQ(start.exitStatus, 0);
        EXPECT_EQ(start.standardError, "");
    }
    EXPECT_FALSE(fs::exists(plain.tmpFolder()));
}

// A folder that passes but where no lock can be made (the user's own, read
// only) is neither taken for the only copy nor for another's: the copy says
// so and uses the next folder, where the next start finds it.
TEST(SingleInstanceTests, FolderWithoutALockIsPassedOver) {
    if (!PlainUser::possible()) GTEST_SKIP() << "needs root, unshare, setpriv and /run/user";
    PlainUser plain;
    const fs::path runtime = plain.root() / "run";
    fs::create_directories(runtime / "brindleaf");
    for (const auto& folder : {runtime, runtime / "brindleaf"}) PlainUser::ownByUser(folder);
    fs::permissions(runtime, fs::perms::owner_all);
    fs::permissions(runtime / "brindleaf", fs::perms::owner_read | fs::perms::owner_exec);

    const pid_t copy = plain.startCopy(runtime.string());
    ASSERT_TRUE(holdsLockIn(copy, plain.tmpFolder()));
    struct stat status {};
    ASSERT_EQ(::lstat(plain.tmpFolder().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_EQ(status.st_uid, user);
    // The next start finds the copy's socket before it tries a lock anywhere,
    // so it has no folder to pass over.
    const auto second = plain.run({"--show-glance"}, runtime.string());
    ASSERT_TRUE(second.ended) << secondCopy;
    EXPECT_EQ(second.exitStatus, 0);
    EXPECT_EQ(second.standardError, "");
}

// A start without XDG_RUNTIME_DIR (cron, ssh) finds the copy a start with a
// private runtime folder (not /run/user/UID) made, at the user's name: it
// could not know that folder. So does a start once the copy's lock and socket
// were removed. No lock is taken in the folders such a start would choose.
TEST(SingleInstanceTests, StartWithoutTheRuntimeFolderFindsTheCopyOfAPrivateOne) {
    if (!PlainUser::possible()) GTEST_SKIP() << "needs root, unshare, setpriv and /run/user";
    PlainUser plain;
    const fs::path runtime = plain.privateRuntime("private-run");
    const pid_t copy = plain.startCopy(runtime.string());
    ASSERT_TRUE(holdsLockIn(copy, runtime / "brindleaf"));
    const auto second = plain.run({"--show-glance"});
    ASSERT_TRUE(second.ended) << secondCopy;
    EXPECT_EQ(second.exitStatus, 0);
    EXPECT_EQ(second.standardError, "");
    for (const char* name : {"instance.lock", "instance.socket"}) fs::remove(runtime / "brindleaf" / name);
    const auto third = plain.run({"--show-glance"}, runtime.string());
    ASSERT_TRUE(third.ended) << secondCopy;
    EXPECT_EQ(third.exitStatus, 0);
    for (const char* name : {"instance.lock", "instance.socket"})
        EXPECT_FALSE(fs::exists(runtime / "brindleaf" / name)) << "a start took the folder of a running copy";
    EXPECT_FALSE(fs::exists(plain.tmpFolder()));
    EXPECT_FALSE(fs::exists(plain.root() / "cache" / "brindleaf"));
}

// Anyone may take an abstract name first. Taken by another user's process
// (listening: it is asked who it is, and told nothing) or by one that only
// holds it, the name does not stop the user's copy: it runs, says once why
// it does without the name, and a later start finds it at its folder.
TEST(SingleInstanceTests, NameTakenByAnotherProcessIsPassedOver) {
    if (!PlainUser::possible()) GTEST_SKIP() << "needs root, unshare, setpriv and /run/user";
    struct Case {
        const char* what;
        InstanceNameHolder::Kind kind;
        const char* reason;
        // Whether a later start, which only connects, sees it too.
        bool laterStartSaysSo;
    };
    const Case cases[] = {
        {"listening, as user 4243", InstanceNameHolder::Kind::listening, "it is held by user 4243", true},
        {"bound only", InstanceNameHolder::Kind::bound, "another process holds it without listening", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PlainUser plain;
        InstanceNameHolder holder(plain.instanceName(), c.kind, user + 1);
        ASSERT_EQ(holder.failure(), "");
        const std::string refusal =
            "brindleaf: not using the name @" + plain.instanceName() + " to find a running copy: " + c.reason + "\n";
        const fs::path runtime = plain.privateRuntime("private-run");
        const fs::path errors = plain.root() / "copy-errors";
        const pid_t copy = plain.startCopy(runtime.string(), errors);
        ASSERT_TRUE(holdsLockIn(copy, runtime / "brindleaf"));
        std::ifstream in(errors);
        const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_THAT(said, HasSubstr(refusal));
        EXPECT_EQ(said.find(refusal), said.rfind(refusal)) << "said more than once: " << said;

        const auto second = plain.run({"--show-glance"}, runtime.string());
        ASSERT_TRUE(second.ended) << secondCopy;
        EXPECT_EQ(second.exitStatus, 0);
        EXPECT_EQ(second.standardError, c.laterStartSaysSo ? refusal : "");
        if (c.kind == InstanceNameHolder::Kind::listening) {
            const auto heard = holder.hear();
            EXPECT_EQ(heard.connections, 2) << "the copy and the later start each ask once";
            EXPECT_EQ(heard.bytes, "") << "a start sent its flags to another user's process";
        }
    }
}
