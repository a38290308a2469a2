#include "platform/X11KeyGrabber.hpp"

#include <xcb/xcb.h>
// xcb/xkb.h names a struct member "explicit", a keyword in C++.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace brindleaf {

namespace {

// The core modifier bits that never move.
constexpr std::uint16_t shiftMask = XCB_MOD_MASK_SHIFT;
constexpr std::uint16_t capsLockMask = XCB_MOD_MASK_LOCK;
constexpr std::uint16_t controlMask = XCB_MOD_MASK_CONTROL;

// Where the others usually sit, for a server whose modifier map names no key for them.
constexpr std::uint16_t usualAltMask = XCB_MOD_MASK_1;
constexpr std::uint16_t usualNumLockMask = XCB_MOD_MASK_2;
constexpr std::uint16_t usualSuperMask = XCB_MOD_MASK_4;

// The first bytes every XKB event shares.
struct XkbEventHeader {
    std::uint8_t responseType;
    std::uint8_t xkbType;
};

struct ModifierMasks {
    std::uint16_t alt = usualAltMask;
    std::uint16_t super = usualSuperMask;
    std::uint16_t numLock = usualNumLockMask;
};

struct Held {
    KeyChord chord;
    xcb_keycode_t keycode;
    std::uint16_t mask;
};

} // namespace

struct X11KeyGrabber::Impl {
    MainQueue& queue;
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    xcb_window_t wakeWindow = 0;
    std::int32_t deviceID = -1;
    std::uint8_t xkbEventBase = 0;
    xkb_context* context = nullptr;

    // Guards everything below; the reader thread and the main thread share it.
    mutable std::mutex mutex;
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
    ModifierMasks masks;
    std::map<std::uint32_t, Held> held;
    std::set<xcb_keycode_t> down;
    PressHandler handler;

    std::thread reader;

    explicit Impl(MainQueue& mainQueue) : queue(mainQueue) {}

    bool connect(const char* displayName);
    void loadKeymap();
    ModifierMasks readModifierMasks(xkb_keymap* map) const;
    std::uint16_t maskOf(std::uint32_t modifiers) const;
    void releaseLocked(std::uint32_t id);
    void ungrabVariants(xcb_keycode_t keycode, std::uint16_t mask) const;
    std::array<std::uint16_t, 4> variants(std::uint16_t mask) const {
        return {mask, static_cast<std::uint16_t>(mask | capsLockMask), static_cast<std::uint16_t>(mask | masks.numLock),
                static_cast<std::uint16_t>(mask | capsLockMask | masks.numLock)};
    }
    void readEvents();
    void handleKey(const xcb_key_press_event_t* event, bool pressed);
};

bool X11KeyGrabber::Impl::connect(const char* displayName) {
    if (!displayName && !std::getenv("DISPLAY")) return false;
    int screenNumber = 0;
    connection = xcb_connect(displayName, &screenNumber);
    if (xcb_connection_has_error(connection)) return false;

    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) return false;
    root = screens.data->root;

    if (!xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEventBase, nullptr)) {
        return false;
    }
    deviceID = xkb_x11_get_core_keyboard_device_id(connection);
    if (deviceID < 0) return false;
    context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context) return false;
    loadKeymap();
    if (!keymap) return false;

    // Follow keymap and layout changes.
    const std::uint16_t events =
        XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    const std::uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                   XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS |
                                   XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                   XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState =
        XCB_XKB_STATE_PART_GROUP_BASE | XCB_XKB_STATE_PART_GROUP_LATCH | XCB_XKB_STATE_PART_GROUP_LOCK;
    details.stateDetails = details.affectState;
    xcb_xkb_select_events_aux(connection, static_cast<xcb_xkb_device_spec_t>(deviceID), events, 0, 0, mapParts,
                              mapParts, &details);

    // Held keys send no release between repeats, so a repeat is a press of a key already down.
    auto flags =
        xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0);
    std::free(xcb_xkb_per_client_flags_reply(connection, flags, nullptr));

    // The reader is stopped by a client message sent to this window.
    wakeWindow = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, wakeWindow, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(connection);
    return !xcb_connection_has_error(connection);
}

void X11KeyGrabber::Impl::loadKeymap() {
    xkb_keymap* newKeymap = xkb_x11_keymap_new_from_device(context, connection, deviceID, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!newKeymap) return;
    xkb_state* newState = xkb_x11_state_new_from_device(newKeymap, connection, deviceID);
    if (!newState) {
        xkb_keymap_unref(newKeymap);
        return;
    }
    ModifierMasks newMasks = readModifierMasks(newKeymap);
    std::lock_guard lock(mutex);
    xkb_state_unref(state);
    xkb_keymap_unref(keymap);
    keymap = newKeymap;
    state = newState;
    masks = newMasks;
}

ModifierMasks X11KeyGrabber::Impl::readModifierMasks(xkb_keymap* map) const {
    ModifierMasks found{0, 0, 0};
    auto cookie = xcb_get_modifier_mapping(connection);
    xcb_get_modifier_mapping_reply_t* reply = xcb_get_modifier_mapping_reply(connection, cookie, nullptr);
    if (reply) {
        const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(reply);
        const int perModifier = reply->keycodes_per_modifier;
        // Rows 0 to 2 are Shift, Lock and Control; Mod1 to Mod5 follow.
        for (int row = 3; row < 8; ++row) {
            const auto bit = static_cast<std::uint16_t>(1u << row);
            for (int i = 0; i < perModifier; ++i) {
                xcb_keycode_t keycode = keycodes[row * perModifier + i];
                if (keycode == 0) continue;
                for (xkb_level_index_t level = 0; level < 2; ++level) {
                    const xkb_keysym_t* syms = nullptr;
                    int count = xkb_keymap_key_get_syms_by_level(map, keycode, 0, level, &syms);
                    for (int s = 0; s < count; ++s) {
                        switch (syms[s]) {
                        case XKB_KEY_Alt_L:
                        case XKB_KEY_Alt_R:
                            found.alt |= bit;
                            break;
                        case XKB_KEY_Super_L:
                        case XKB_KEY_Super_R:
                            found.super |= bit;
                            break;
                        case XKB_KEY_Num_Lock:
                            found.numLock |= bit;
                            break;
                        default:
                            break;
                        }
                    }
                }
            }
        }
        std::free(reply);
    }
    if (!found.alt) found.alt = usualAltMask;
    if (!found.super) found.super = usualSuperMask;
    if (!found.numLock) found.numLock = usualNumLockMask;
    return found;
}

std::uint16_t X11KeyGrabber::Impl::maskOf(std::uint32_t modifiers) const {
    std::uint16_t mask = 0;
    if (modifiers & keyModifierControl) mask |= controlMask;
    if (modifiers & keyModifierShift) mask |= shiftMask;
    if (modifiers & keyModifierAlt) mask |= masks.alt;
    if (modifiers & keyModifierSuper) mask |= masks.super;
    return mask;
}

void X11KeyGrabber::Impl::ungrabVariants(xcb_keycode_t keycode, std::uint16_t mask) const {
    for (auto variant : variants(mask)) xcb_ungrab_key(connection, keycode, root, variant);
}

void X11KeyGrabber::Impl::releaseLocked(std::uint32_t id) {
    auto it = held.find(id);
    if (it == held.end()) return;
    const Held previous = it->second;
    held.erase(it);
    // Two ids may hold the same chord for a moment; the X grab stays while one does.
    for (const auto& [otherID, other] : held) {
        if (other.keycode == previous.keycode && other.mask == previous.mask) return;
    }
    ungrabVariants(previous.keycode, previous.mask);
    down.erase(previous.keycode);
    xcb_flush(connection);
}

void X11KeyGrabber::Impl::handleKey(const xcb_key_press_event_t* event, bool pressed) {
    std::lock_guard lock(mutex);
    if (!pressed) {
        down.erase(event->detail);
        return;
    }
    if (!down.insert(event->detail).second) return; // autorepeat
    const std::uint16_t relevant = shiftMask | controlMask | masks.alt | masks.super;
    const std::uint16_t mask = event->state & relevant;
    for (const auto& [id, chord] : held) {
        if (chord.keycode != event->detail || chord.mask != mask) continue;
        if (!handler) return;
        auto target = handler;
        auto pressedID = id;
        queue.post([target, pressedID] { target(pressedID); });
        return;
    }
}

void X11KeyGrabber::Impl::readEvents() {
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CLIENT_MESSAGE && reinterpret_cast<xcb_client_message_event_t*>(event)->window == wakeWindow) {
            std::free(event);
            return;
        }
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            handleKey(reinterpret_cast<xcb_key_press_event_t*>(event), type == XCB_KEY_PRESS);
        } else if (type == xkbEventBase) {
            const auto* header = reinterpret_cast<const XkbEventHeader*>(event);
            if (header->xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || header->xkbType == XCB_XKB_MAP_NOTIFY) {
                loadKeymap();
            } else if (header->xkbType == XCB_XKB_STATE_NOTIFY) {
                const auto* notify = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
                std::lock_guard lock(mutex);
                if (state) {
                    xkb_state_update_mask(state, notify->baseMods, notify->latchedMods, notify->lockedMods,
                                          static_cast<xkb_layout_index_t>(notify->baseGroup),
                                          static_cast<xkb_layout_index_t>(notify->latchedGroup),
                                          static_cast<xkb_layout_index_t>(notify->lockedGroup));
                }
            }
        }
        std::free(event);
    }
}

X11KeyGrabber::X11KeyGrabber(MainQueue& queue, const char* displayName) : impl_(std::make_unique<Impl>(queue)) {
    if (impl_->connect(displayName)) {
        impl_->reader = std::thread([impl = impl_.get()] { impl->readEvents(); });
    }
}

X11KeyGrabber::~X11KeyGrabber() {
    auto& impl = *impl_;
    if (impl.reader.joinable()) {
        xcb_client_message_event_t wake{};
        wake.response_type = XCB_CLIENT_MESSAGE;
        wake.format = 32;
        wake.window = impl.wakeWindow;
        xcb_send_event(impl.connection, 0, impl.wakeWindow, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char*>(&wake));
        xcb_flush(impl.connection);
        impl.reader.join();
    }
    xkb_state_unref(impl.state);
    xkb_keymap_unref(impl.keymap);
    xkb_context_unref(impl.context);
    if (impl.connection) xcb_disconnect(impl.connection);
}

bool X11KeyGrabber::isAvailable() const {
    return impl_->reader.joinable() && !xcb_connection_has_error(impl_->connection);
}

KeyGrabResult X11KeyGrabber::grab(std::uint32_t id, const KeyChord& chord) {
    auto& impl = *impl_;
    if (!isAvailable()) return {KeyGrabResult::noServer};
    std::lock_guard lock(impl.mutex);
    impl.releaseLocked(id);
    const xkb_keycode_t keycode = xkb_keymap_key_by_name(impl.keymap, chord.keyName.c_str());
    if (keycode == XKB_KEYCODE_INVALID || keycode > 255) return {KeyGrabResult::noSuchKey};
    const Held wanted{chord, static_cast<xcb_keycode_t>(keycode), impl.maskOf(chord.modifiers)};
    for (const auto& [otherID, other] : impl.held) {
        if (other.keycode == wanted.keycode && other.mask == wanted.mask) {
            impl.held[id] = wanted;
            return {};
        }
    }

    std::array<xcb_void_cookie_t, 4> cookies{};
    const auto variants = impl.variants(wanted.mask);
    for (std::size_t i = 0; i < variants.size(); ++i) {
        cookies[i] = xcb_grab_key_checked(impl.connection, 0, impl.root, variants[i], wanted.keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    int status = KeyGrabResult::grabbed;
    for (auto cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(impl.connection, cookie)) {
            if (status == KeyGrabResult::grabbed) status = error->error_code;
            std::free(error);
        }
    }
    if (status == KeyGrabResult::grabbed && xcb_connection_has_error(impl.connection)) {
        status = KeyGrabResult::noServer;
    }
    if (status != KeyGrabResult::grabbed) {
        // All four or none: a chord that only works with Num Lock off is worse than none.
        impl.ungrabVariants(wanted.keycode, wanted.mask);
        xcb_flush(impl.connection);
        return {status};
    }
    impl.held[id] = wanted;
    return {};
}

void X11KeyGrabber::release(std::uint32_t id) {
    if (!isAvailable()) return;
    std::lock_guard lock(impl_->mutex);
    impl_->releaseLocked(id);
}

void X11KeyGrabber::setPressHandler(PressHandler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->handler = std::move(handler);
}

std::optional<std::string> X11KeyGrabber::keyText(std::string_view keyName) const {
    auto& impl = *impl_;
    std::lock_guard lock(impl.mutex);
    if (!impl.keymap || !impl.state) return std::nullopt;
    const xkb_keycode_t keycode = xkb_keymap_key_by_name(impl.keymap, std::string(keyName).c_str());
    if (keycode == XKB_KEYCODE_INVALID) return std::nullopt;
    const xkb_layout_index_t layout = xkb_state_key_get_layout(impl.state, keycode);
    if (layout == XKB_LAYOUT_INVALID) return std::nullopt;
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(impl.keymap, keycode, layout, 0, &syms) != 1) return std::nullopt;
    char text[16] = {};
    int length = xkb_keysym_to_utf8(syms[0], text, sizeof text);
    if (length <= 1) return std::nullopt;
    // Escape, Return, Tab and Backspace translate to control characters, which show nothing.
    const auto first = static_cast<unsigned char>(text[0]);
    if (length == 2 && (first < 0x20 || first == 0x7f)) return std::nullopt;
    return std::string(text);
}

std::optional<std::string> X11KeyGrabber::keyNameOfKeycode(std::uint32_t keycode) const {
    auto& impl = *impl_;
    std::lock_guard lock(impl.mutex);
    if (!impl.keymap) return std::nullopt;
    const char* name = xkb_keymap_key_get_name(impl.keymap, keycode);
    if (!name) return std::nullopt;
    return std::string(name);
}

} // namespace brindleaf
