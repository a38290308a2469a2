#pragma once

#include "tests/support/ChildProcess.hpp"

#include <filesystem>
#include <memory>
#include <string>

namespace brindleaf::testing {

// A real Wayland compositor of the test's own: weston on its headless
// backend (drawing with pixman, no GPU) with XWayland, as a desktop session
// runs it. Its socket is made in the runtime folder it is given (the
// session's XDG_RUNTIME_DIR, owner only); XWayland starts on the first X
// client. Ready when made, or problem() says which step did not come.
class HeadlessWeston {
public:
    HeadlessWeston(const std::filesystem::path& runtimeFolder, const std::filesystem::path& logFolder);
    ~HeadlessWeston();
    HeadlessWeston(const HeadlessWeston&) = delete;
    HeadlessWeston& operator=(const HeadlessWeston&) = delete;

    // What WAYLAND_DISPLAY names: the socket's name in the runtime folder.
    static constexpr const char* socketName = "wayland-brindleaf";
    // What DISPLAY names: XWayland's display (":N").
    const std::string& xDisplay() const { return xDisplay_; }
    // Empty once the socket is made and XWayland answers.
    const std::string& problem() const { return problem_; }
    pid_t pid() const { return weston_ ? weston_->pid() : -1; }

private:
    std::unique_ptr<ChildProcess> weston_;
    std::string xDisplay_;
    std::string problem_;
};

} // namespace brindleaf::testing
