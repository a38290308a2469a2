#include "bench/tray/TrayAppRig.hpp"

#include "bench/generator/HomeRecipe.hpp"
#include "tests/support/ProgramRun.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace brindleaf::bench {

pid_t startProcess(const std::string& program, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>* environment, const std::filesystem::path& log) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envp;
    if (environment)
        for (const auto& [name, value] : *environment) envp.push_back(name + "=" + value);
    else
        for (char** entry = environ; *entry; ++entry) envp.emplace_back(*entry);
    auto argvPointers = testing::cStringArray(argv);
    auto envPointers = testing::cStringArray(envp);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (in >= 0) ::dup2(in, STDIN_FILENO);
        ::execve(program.c_str(), argvPointers.data(), envPointers.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    return pid;
}

void stopProcess(pid_t pid, double graceSeconds) {
    if (pid <= 0) return;
    ::kill(-pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(graceSeconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) != 0) {
            ::kill(-pid, SIGKILL); // whatever it started
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

TrayAppRig::TrayAppRig(std::filesystem::path root) : root_(std::move(root)) {
    std::filesystem::remove_all(root_);
    for (const char* folder : {"home", "config/brindleaf", "data", "cache", "run"})
        std::filesystem::create_directories(root_ / folder);
    std::filesystem::permissions(root_ / "run", std::filesystem::perms::owner_all);
    std::ofstream(root_ / "passwd") << "bench:x:" << ::getuid() << ":" << ::getgid() << ":Bench:" << home().string()
                                    << ":/bin/sh\n";
    std::ofstream(root_ / "group") << "benchers:x:" << ::getgid() << ":\n";
    // The welcome was seen: a plain launch opens no window.
    std::ofstream(root_ / "config/brindleaf/com.quorvale.Brindleaf.json") << "{\"welcomeShown.v1\": true}\n";

    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) environment_[text.substr(0, equals)] = text.substr(equals + 1);
    }
    environment_["HOME"] = home().string();
    environment_["XDG_CONFIG_HOME"] = (root_ / "config").string();
    environment_["XDG_DATA_HOME"] = (root_ / "data").string();
    environment_["XDG_CACHE_HOME"] = (root_ / "cache").string();
    environment_["XDG_RUNTIME_DIR"] = (root_ / "run").string();
    environment_["NSS_WRAPPER_PASSWD"] = (root_ / "passwd").string();
    environment_["NSS_WRAPPER_GROUP"] = (root_ / "group").string();
    environment_["LD_PRELOAD"] = "libnss_wrapper.so";
    // The latency runs read the per-refresh lines, which only debug logging writes.
    environment_["BRINDLEAF_DEBUG"] = "1";
    environment_.erase("QT_QPA_PLATFORM");
    environment_.erase("WAYLAND_DISPLAY");
}

TrayAppRig::~TrayAppRig() {
    for (pid_t pid : started_) stopProcess(pid);
}

GeneratedHome TrayAppRig::writeTypicalHome(Date now) const {
    return HomeGenerator(HomeRecipe::forSize(HomeSize::typical)).write(home(), now);
}

pid_t TrayAppRig::start(const std::string& program, const std::vector<std::string>& arguments, const std::string& name,
                        const std::map<std::string, std::string>& variables) {
    auto environment = environment_;
    for (const auto& [variable, value] : variables) environment[variable] = value;
    const pid_t pid = startProcess(program, arguments, &environment, root_ / (name + ".log"));
    started_.push_back(pid);
    return pid;
}

std::string TrayAppRig::run(const std::string& program, const std::vector<std::string>& arguments,
                            const std::string& name) {
    const auto log = root_ / (name + ".log");
    std::filesystem::remove(log);
    const pid_t pid = startProcess(program, arguments, &environment_, log);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void TrayAppRig::stop(pid_t pid) {
    stopProcess(pid);
    std::erase(started_, pid);
}

} // namespace brindleaf::bench
