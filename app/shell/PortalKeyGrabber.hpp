#pragma once

#include "platform/KeyGrabber.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QDBusServiceWatcher;
class QTimer;

namespace brindleaf {

// The global hot keys of a Wayland session: shortcuts of the desktop portal's
// org.freedesktop.portal.GlobalShortcuts. The desktop settles them later, so
// grab() answers at once (or `noPortal` while there is no portal) and the
// change handler hears when the portal answers, goes or comes back. A press
// arrives as the portal's Activated signal (not Deactivated, the release).
//
// Each shortcut has a session of its own, named after its id and preferred
// trigger: the desktop keeps what it stores under that name (KDE 5.27 keeps
// the key it first bound, or the one the user chose in its settings, over a
// later preferred trigger), so a newly recorded shortcut gets a session the
// desktop has not seen, while the other shortcut's session stays as it is.
// KDE 5.27's backend registers shortcuts only from CreateSession's options;
// they are sent with BindShortcuts too. boundTrigger() is the key the desktop
// reports (ListShortcuts' and ShortcutsChanged's trigger_description).
//
// Every call is asynchronous with a bound; nothing here waits on the bus.
// Without the portal, the journal says so once (`hotkey.portal.unavailable`)
// until it is back. Main thread only.
class PortalKeyGrabber final : public QObject, public KeyGrabber {
    Q_OBJECT
public:
    // An id's shortcut as the portal lists it ("toggle-dashboard" and the
    // description the desktop shows).
    struct Slot {
        std::uint32_t id = 0;
        std::string shortcutID;
        std::string description;
    };

    // `bus` may be disconnected (no session bus): there is no portal then.
    PortalKeyGrabber(QDBusConnection bus, std::vector<Slot> shortcuts, QObject* parent = nullptr);
    ~PortalKeyGrabber() override;

    bool isAvailable() const override { return state_ != State::absent; }
    KeyGrabResult grab(std::uint32_t id, const KeyChord& chord) override;
    void release(std::uint32_t id) override;
    void setPressHandler(PressHandler handler) override { pressHandler_ = std::move(handler); }
    void setChangeHandler(ChangeHandler handler) override { changeHandler_ = std::move(handler); }
    std::optional<std::string> boundTrigger(std::uint32_t id) const override;
    // What a US layout prints on the key: there is no X keymap to ask here.
    std::optional<std::string> keyText(std::string_view keyName) const override;
    std::optional<std::string> keyNameOfKeycode(std::uint32_t) const override { return std::nullopt; }

    // The portal has answered the last bind (or said it is gone): for tests.
    bool isSettled() const;

    static constexpr const char* portalService = "org.freedesktop.portal.Desktop";

private slots:
    void requestAnswered(const QDBusMessage& message);
    void activated(const QDBusMessage& message);
    void shortcutsChanged(const QDBusMessage& message);

private:
    enum class State { probing, present, absent };
    enum class Step { none, createSession, bindShortcuts };

    // One shortcut's session with the portal.
    struct Binding {
        // The preferred trigger wanted; empty when the id holds none.
        std::string wanted;
        // The trigger the session (live or on its way) was made for.
        std::string sessionTrigger;
        QString session;
        QString requestPath;
        Step step = Step::none;
        // Counts the requests, so a late answer to an earlier one is passed over.
        std::uint64_t generation = 0;
        std::optional<std::string> bound;
        QTimer* timer = nullptr;
    };

    void probe();
    void scheduleBind();
    void bindChanged();
    void bind(std::uint32_t id, Binding& binding);
    void closeSession(Binding& binding);
    void watchRequest(Binding& binding, const QString& token);
    void unwatchRequest(Binding& binding);
    void sessionCreated(std::uint32_t id, Binding& binding, const QVariantMap& results);
    void bindAnswered(std::uint32_t id, Binding& binding, const QVariantMap& results);
    void takeDescription(std::uint32_t id, Binding& binding, const QVariant& shortcuts);
    void becomeAbsent(const std::string& reason);
    void changed();
    const Slot* slotOf(std::uint32_t id) const;
    QVariant shortcutList(std::uint32_t id, const std::string& trigger) const;
    void call(Binding& binding, QDBusMessage message);

    QDBusConnection bus_;
    std::vector<Slot> slots_;
    QDBusServiceWatcher* watcher_ = nullptr;
    State state_ = State::probing;
    bool bindScheduled_ = false;
    std::uint64_t probes_ = 0;
    std::uint64_t tokens_ = 0;
    std::map<std::uint32_t, Binding> bindings_;
    PressHandler pressHandler_;
    ChangeHandler changeHandler_;
};

} // namespace brindleaf
