#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

struct xcb_connection_t;

namespace brindleaf {

// Reads a panel's pixels from the X server, for telling a light panel from a
// dark one: around a tray icon's window (XEmbed: the first of its ancestors
// that is larger than the icon), or across the dock window of a process (the
// panel that shows a StatusNotifierItem). On a connection of its own; every
// reply is awaited for at most the sampler's time limit, shared by the
// requests of one read, so a server that does not answer costs that much
// once and then nothing until the next read.
//
// Without an X server it is never connected and reads nothing. One thread at
// a time.
class X11PanelSampler {
public:
    struct Pixels {
        // 0xAARRGGBB with premultiplied alpha; opaque for a window without alpha.
        std::vector<std::uint32_t> argb;
        // A compositing manager runs (it blends translucent windows).
        bool composited = false;
    };

    explicit X11PanelSampler(const char* displayName = nullptr,
                             std::chrono::milliseconds timeLimit = std::chrono::milliseconds(100));
    ~X11PanelSampler();
    X11PanelSampler(const X11PanelSampler&) = delete;
    X11PanelSampler& operator=(const X11PanelSampler&) = delete;

    bool isConnected() const { return connection_ != nullptr; }

    // The pixels of the panel in a band of 6 pixels around the icon's window
    // (the icon's own area left out); none while it is not embedded.
    Pixels aroundWindow(std::uint32_t window);
    // Three rows across the mapped dock window (_NET_WM_WINDOW_TYPE_DOCK) of
    // the process, found among the window manager's clients; none without one.
    Pixels dockOfProcess(std::uint32_t pid);

private:
    struct Read;
    bool composited(Read& read);
    void appendImage(Read& read, std::uint32_t window, int x, int y, int width, int height, int holeX, int holeY,
                     int holeWidth, int holeHeight, std::vector<std::uint32_t>& out);
    std::uint32_t findDock(Read& read, std::uint32_t pid);

    xcb_connection_t* connection_ = nullptr;
    std::chrono::milliseconds timeLimit_;
    std::uint32_t root_ = 0;
    std::uint32_t compositorSelection_ = 0;
    std::uint32_t clientList_ = 0, wmPid_ = 0, windowType_ = 0, dockType_ = 0;
    // The dock last found, and whose it is.
    std::uint32_t dock_ = 0, dockPid_ = 0;
    bool lsbFirst_ = true;
};

} // namespace brindleaf
