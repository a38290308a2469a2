#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brindleaf::testing {

// Starts the program `arguments[0]` with only `environment`, its output
// appended to `log`, in a session (and process group) of its own; it ends
// with the test process too. `beforeExec`, when given, runs in the child just
// before the program (e.g. to drop to another user); false ends the child.
pid_t startProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                   const std::filesystem::path& log, const std::function<bool()>& beforeExec = {});

// Ends the program's process group (SIGTERM) and reaps the program.
void stopProgram(pid_t pid);

} // namespace brindleaf::testing
