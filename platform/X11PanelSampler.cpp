#include "platform/X11PanelSampler.hpp"
#include "platform/X11Atom.hpp"

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <string>

namespace brindleaf {

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Freed = std::unique_ptr<T, FreeReply>;

} // namespace

// One read: its replies share a deadline; once it has passed, no more waits.
struct X11PanelSampler::Read {
    xcb_connection_t* connection;
    std::chrono::steady_clock::time_point deadline;
    bool late = false;

    template <typename T>
    Freed<T> await(unsigned sequence) {
        Freed<T> result;
        if (late) {
            xcb_discard_reply(connection, sequence);
            return result;
        }
        xcb_flush(connection);
        for (;;) {
            void* reply = nullptr;
            xcb_generic_error_t* error = nullptr;
            // Reads what the server sent, without taking events off the queue.
            if (xcb_poll_for_reply(connection, sequence, &reply, &error)) {
                std::free(error);
                result.reset(static_cast<T*>(reply));
                return result;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (xcb_connection_has_error(connection) || left.count() <= 0) {
                late = true;
                xcb_discard_reply(connection, sequence);
                return result;
            }
            pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
            ::poll(&descriptor, 1, static_cast<int>(left.count()) + 1);
        }
    }
};

X11PanelSampler::X11PanelSampler(const char* displayName, std::chrono::milliseconds timeLimit) : timeLimit_(timeLimit) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(displayName, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection) xcb_disconnect(connection);
        return;
    }
    const xcb_screen_t* screen = screenOf(connection, screenNumber);
    if (!screen) {
        xcb_disconnect(connection);
        return;
    }
    connection_ = connection;
    root_ = screen->root;
    lsbFirst_ = xcb_get_setup(connection)->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    compositorSelection_ = internAtom(connection_, "_NET_WM_CM_S" + std::to_string(screenNumber));
    clientList_ = internAtom(connection_, "_NET_CLIENT_LIST");
    wmPid_ = internAtom(connection_, "_NET_WM_PID");
    windowType_ = internAtom(connection_, "_NET_WM_WINDOW_TYPE");
    dockType_ = internAtom(connection_, "_NET_WM_WINDOW_TYPE_DOCK");
}

X11PanelSampler::~X11PanelSampler() {
    if (connection_) xcb_disconnect(connection_);
}

bool X11PanelSampler::composited(Read& read) {
    auto owner = read.await<xcb_get_selection_owner_reply_t>(
        xcb_get_selection_owner(connection_, compositorSelection_).sequence);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

void X11PanelSampler::appendImage(Read& read, std::uint32_t window, int x, int y, int width, int height, int holeX,
                                  int holeY, int holeWidth, int holeHeight, std::vector<std::uint32_t>& out) {
    if (width <= 0 || height <= 0 || !lsbFirst_) return;
    auto image = read.await<xcb_get_image_reply_t>(
        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), ~0u)
            .sequence);
    // Depth 24 or 32 at four bytes a pixel; other depths are not read.
    if (!image || (image->depth != 24 && image->depth != 32) ||
        xcb_get_image_data_length(image.get()) != width * height * 4)
        return;
    const std::uint8_t* data = xcb_get_image_data(image.get());
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            const int px = x + column, py = y + row;
            if (px >= holeX && px < holeX + holeWidth && py >= holeY && py < holeY + holeHeight) continue;
            std::uint32_t pixel = 0;
            std::memcpy(&pixel, data + 4 * (row * width + column), 4);
            if (image->depth == 24) pixel |= 0xff000000u;
            out.push_back(pixel);
        }
}

X11PanelSampler::Pixels X11PanelSampler::aroundWindow(std::uint32_t window) {
    Pixels pixels;
    if (!connection_ || !window) return pixels;
    Read read{connection_, std::chrono::steady_clock::now() + timeLimit_};
    auto own = read.await<xcb_get_geometry_reply_t>(xcb_get_geometry(connection_, window).sequence);
    if (!own) return pixels;
    // Up the window tree to the first window with room around the icon.
    xcb_window_t panel = window;
    Freed<xcb_get_geometry_reply_t> area;
    for (int level = 0; level < 8; ++level) {
        auto tree = read.await<xcb_query_tree_reply_t>(xcb_query_tree(connection_, panel).sequence);
        if (!tree || tree->parent == XCB_WINDOW_NONE || tree->parent == root_) return pixels;
        panel = tree->parent;
        area = read.await<xcb_get_geometry_reply_t>(xcb_get_geometry(connection_, panel).sequence);
        if (!area) return pixels;
        if (area->width >= own->width + 2 || area->height >= own->height + 2) break;
    }
    if (!area || (area->width < own->width + 2 && area->height < own->height + 2)) return pixels;
    auto at = read.await<xcb_translate_coordinates_reply_t>(
        xcb_translate_coordinates(connection_, window, panel, 0, 0).sequence);
    if (!at) return pixels;
    constexpr int band = 6;
    const int left = std::max(0, at->dst_x - band), top = std::max(0, at->dst_y - band);
    const int right = std::min<int>(area->width, at->dst_x + own->width + band);
    const int bottom = std::min<int>(area->height, at->dst_y + own->height + band);
    appendImage(read, panel, left, top, right - left, bottom - top, at->dst_x, at->dst_y, own->width, own->height,
                pixels.argb);
    if (!pixels.argb.empty()) pixels.composited = composited(read);
    return pixels;
}

std::uint32_t X11PanelSampler::findDock(Read& read, std::uint32_t pid) {
    auto list = read.await<xcb_get_property_reply_t>(
        xcb_get_property(connection_, 0, root_, clientList_, XCB_ATOM_WINDOW, 0, 4096).sequence);
    if (!list || list->format != 32) return 0;
    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
    const int count = xcb_get_property_value_length(list.get()) / 4;
    // Asked all at once, answered in order.
    std::vector<std::pair<unsigned, unsigned>> asked;
    for (int i = 0; i < count; ++i)
        asked.emplace_back(xcb_get_property(connection_, 0, windows[i], wmPid_, XCB_ATOM_CARDINAL, 0, 1).sequence,
                           xcb_get_property(connection_, 0, windows[i], windowType_, XCB_ATOM_ATOM, 0, 16).sequence);
    std::uint32_t found = 0;
    for (int i = 0; i < count; ++i) {
        auto owner = read.await<xcb_get_property_reply_t>(asked[i].first);
        auto type = read.await<xcb_get_property_reply_t>(asked[i].second);
        if (found || !owner || !type || owner->format != 32 || xcb_get_property_value_length(owner.get()) < 4 ||
            *static_cast<const std::uint32_t*>(xcb_get_property_value(owner.get())) != pid || type->format != 32)
            continue;
        const auto* types = static_cast<const xcb_atom_t*>(xcb_get_property_value(type.get()));
        const int typeCount = xcb_get_property_value_length(type.get()) / 4;
        if (std::find(types, types + typeCount, dockType_) != types + typeCount) found = windows[i];
    }
    return found;
}

X11PanelSampler::Pixels X11PanelSampler::dockOfProcess(std::uint32_t pid) {
    Pixels pixels;
    if (!connection_ || !pid) return pixels;
    Read read{connection_, std::chrono::steady_clock::now() + timeLimit_};
    if (pid != dockPid_) {
        dockPid_ = pid;
        dock_ = 0;
    }
    const auto sample = [&] {
        auto area = read.await<xcb_get_geometry_reply_t>(xcb_get_geometry(connection_, dock_).sequence);
        if (!area) return;
        const int width = std::min<int>(area->width, 2048);
        for (const int row : {area->height / 4, area->height / 2, area->height * 3 / 4})
            appendImage(read, dock_, 0, row, width, 1, 0, 0, 0, 0, pixels.argb);
    };
    // The dock found before, while it lasts; else looked for anew.
    if (dock_) sample();
    if (pixels.argb.empty()) {
        dock_ = findDock(read, pid);
        if (dock_) sample();
    }
    if (pixels.argb.empty()) {
        dock_ = 0;
        return pixels;
    }
    pixels.composited = composited(read);
    return pixels;
}

} // namespace brindleaf
