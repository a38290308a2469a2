#pragma once

#include "bench/generator/HomeGenerator.hpp"

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace brindleaf::bench {

// An isolated user for the real tray application: a home folder (made the
// user's home by nss_wrapper), XDG folders and a runtime folder of its own,
// and the settings suite with the welcome already shown, so no window opens.
// Qt-free; the X server and tray host are the caller's.
class TrayAppRig {
public:
    // Makes the folders below `root` (removed first).
    explicit TrayAppRig(std::filesystem::path root);
    ~TrayAppRig();
    TrayAppRig(const TrayAppRig&) = delete;
    TrayAppRig& operator=(const TrayAppRig&) = delete;

    std::filesystem::path home() const { return root_ / "home"; }
    const std::filesystem::path& root() const { return root_; }
    // The environment the program runs in (this process's, with the rig's
    // home, XDG folders and user database).
    const std::map<std::string, std::string>& environment() const { return environment_; }

    // Writes the typical home with every date relative to `now`.
    GeneratedHome writeTypicalHome(Date now) const;

    // Starts `program` with `arguments` in the rig's environment (with
    // `variables` set on top), its output to `root()/name.log`; the process is
    // stopped when the rig goes.
    pid_t start(const std::string& program, const std::vector<std::string>& arguments, const std::string& name,
                const std::map<std::string, std::string>& variables = {});
    // Runs the program to its end and returns its standard output.
    std::string run(const std::string& program, const std::vector<std::string>& arguments, const std::string& name);
    // Stops a process this rig started (SIGTERM, then SIGKILL after 5 s).
    void stop(pid_t pid);

private:
    std::filesystem::path root_;
    std::map<std::string, std::string> environment_;
    std::vector<pid_t> started_;
};

// Starts a process with the current environment in a process group of its own.
pid_t startProcess(const std::string& program, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>* environment, const std::filesystem::path& log);
// SIGTERM to the process group, SIGKILL after `graceSeconds`, and reaped.
void stopProcess(pid_t pid, double graceSeconds = 5);

} // namespace brindleaf::bench
