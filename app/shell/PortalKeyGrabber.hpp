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
// org.freedesktop.portal.GlobalShortcuts, one session holding every id's
// shortcut. The desktop settles them later, so grab() answers at once (or
// `noPortal` while there is no portal) and the change handler hears when the
// portal answers, goes or comes back. A press arrives as the portal's
// Activated signal (not Deactivated, the release).
//
// Each change of the shortcuts closes the session and opens another, as a
// backend may register shortcuts only from CreateSession's options (KDE
// 5.27's does); they are sent with BindShortcuts too. A key the user chose in
// the desktop's settings stays the desktop's: boundTrigger() reports it.
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

    void probe();
    void scheduleBind();
    void bind();
    void closeSession();
    void watchRequest(const QString& token);
    void unwatchRequest();
    void sessionCreated(const QVariantMap& results);
    void bindAnswered(const QVariantMap& results);
    void takeDescriptions(const QVariant& shortcuts);
    void becomeAbsent(const std::string& reason);
    void changed();
    QVariant shortcutList() const;

    QDBusConnection bus_;
    std::vector<Slot> slots_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QTimer* responseTimer_ = nullptr;
    State state_ = State::probing;
    Step step_ = Step::none;
    bool bindScheduled_ = false;
    // Counts probes, sessions and requests, so a late answer to an earlier one is passed over.
    std::uint64_t generation_ = 0;
    std::uint64_t tokens_ = 0;
    QString requestPath_;
    QString session_;
    std::map<std::uint32_t, std::string> wanted_;
    std::map<std::uint32_t, std::string> bound_;
    PressHandler pressHandler_;
    ChangeHandler changeHandler_;
};

} // namespace brindleaf
