#pragma once

#include <filesystem>
#include <string>

namespace brindleaf {

// The machine's name as shown to people.
class DeviceName {
public:
    // PRETTY_HOSTNAME of /etc/machine-info when set and not empty, else the
    // host name; empty when neither is available.
    static std::string current();
    // The same, reading the given machine-info file.
    static std::string fromMachineInfo(const std::filesystem::path& machineInfoPath);
    // The PRETTY_HOSTNAME value of a machine-info file's text (shell-style
    // quoting and escapes undone), empty when absent.
    static std::string prettyHostName(const std::string& machineInfoText);
    // gethostname(), empty on failure.
    static std::string hostName();
};

} // namespace brindleaf
