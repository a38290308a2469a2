#include "app/shell/PortalKeyGrabber.hpp"

#include "platform/Logger.hpp"
#include "services/HotkeyKeyTable.hpp"
#include "services/PortalShortcutTrigger.hpp"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QTimer>

namespace brindleaf {

namespace {

// A shortcut as the portal's a(sa{sv}) lists it.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

} // namespace brindleaf

Q_DECLARE_METATYPE(brindleaf::PortalShortcut)

namespace brindleaf {

namespace {

using PortalShortcutList = QList<PortalShortcut>;

const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
// Bounds of every call and of the wait for a request's Response.
constexpr int callTimeoutMs = 10000;
constexpr int responseTimeoutMs = 15000;

const Logger& hotkeyLog() {
    static const Logger logger("Hotkey");
    return logger;
}

// The part of a request's object path that names this connection: ":1.42" is "1_42".
QString senderPart(const QString& uniqueName) {
    QString part = uniqueName;
    if (part.startsWith(QLatin1Char(':'))) part.remove(0, 1);
    part.replace(QLatin1Char('.'), QLatin1Char('_'));
    return part;
}

} // namespace

PortalKeyGrabber::PortalKeyGrabber(QDBusConnection bus, std::vector<Slot> shortcuts, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), slots_(std::move(shortcuts)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcutList>();
    responseTimer_ = new QTimer(this);
    responseTimer_->setSingleShot(true);
    connect(responseTimer_, &QTimer::timeout, this, [this] {
        becomeAbsent("the portal did not answer within " + std::to_string(responseTimeoutMs / 1000) + " s");
    });
    if (!bus_.isConnected()) {
        becomeAbsent("there is no session bus");
        return;
    }
    watcher_ = new QDBusServiceWatcher(QString::fromLatin1(portalService), bus_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (newOwner.isEmpty()) {
                    becomeAbsent("the portal left the bus");
                } else {
                    probe();
                }
            });
    // Any sender: naming the portal's service would ask the bus for its owner and wait.
    bus_.connect(QString(), portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                 SLOT(activated(QDBusMessage)));
    bus_.connect(QString(), portalPath, shortcutsInterface, QStringLiteral("ShortcutsChanged"), this,
                 SLOT(shortcutsChanged(QDBusMessage)));
    probe();
}

PortalKeyGrabber::~PortalKeyGrabber() {
    unwatchRequest();
    closeSession();
}

void PortalKeyGrabber::probe() {
    state_ = State::probing;
    const auto generation = ++generation_;
    // Asking for the interface's version starts the portal where the bus can (activation).
    auto message =
        QDBusMessage::createMethodCall(QString::fromLatin1(portalService), portalPath,
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message << shortcutsInterface << QStringLiteral("version");
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(message, callTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, generation](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (generation != generation_) return;
        if (call->isError()) {
            becomeAbsent(call->error().name().toStdString());
            return;
        }
        state_ = State::present;
        session_.clear();
        // Hot keys refused meanwhile are taken again; then one session holds them all.
        changed();
        scheduleBind();
    });
}

KeyGrabResult PortalKeyGrabber::grab(std::uint32_t id, const KeyChord& chord) {
    if (state_ == State::absent) return {KeyGrabResult::noPortal};
    HotkeyShortcut shortcut;
    // The chord back in the stored form, for its trigger.
    auto keyCode = HotkeyKeyTable::keyCode(chord.keyName);
    if (!keyCode) return {KeyGrabResult::noSuchKey};
    shortcut.keyCode = *keyCode;
    if (chord.modifiers & keyModifierControl) shortcut.carbonModifiers |= HotkeyShortcut::controlModifier;
    if (chord.modifiers & keyModifierShift) shortcut.carbonModifiers |= HotkeyShortcut::shiftModifier;
    if (chord.modifiers & keyModifierAlt) shortcut.carbonModifiers |= HotkeyShortcut::optionModifier;
    if (chord.modifiers & keyModifierSuper) shortcut.carbonModifiers |= HotkeyShortcut::commandModifier;
    auto trigger = PortalShortcutTrigger::of(shortcut);
    if (!trigger) return {KeyGrabResult::noSuchKey};
    wanted_[id] = *trigger;
    bound_.erase(id);
    scheduleBind();
    return {};
}

void PortalKeyGrabber::release(std::uint32_t id) {
    if (wanted_.erase(id) == 0) return;
    bound_.erase(id);
    scheduleBind();
}

std::optional<std::string> PortalKeyGrabber::boundTrigger(std::uint32_t id) const {
    auto it = bound_.find(id);
    if (it == bound_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> PortalKeyGrabber::keyText(std::string_view keyName) const {
    return PortalShortcutTrigger::usKeyText(keyName);
}

bool PortalKeyGrabber::isSettled() const {
    return state_ == State::absent || (state_ == State::present && step_ == Step::none && !bindScheduled_);
}

// Registrations that come together (both keys, released and taken again) make one session.
void PortalKeyGrabber::scheduleBind() {
    if (bindScheduled_) return;
    bindScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        bindScheduled_ = false;
        if (state_ == State::present) bind();
    });
}

QVariant PortalKeyGrabber::shortcutList() const {
    PortalShortcutList list;
    for (const auto& slot : slots_) {
        auto it = wanted_.find(slot.id);
        if (it == wanted_.end()) continue;
        QVariantMap properties;
        properties.insert(QStringLiteral("description"), QString::fromStdString(slot.description));
        properties.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(it->second));
        list.push_back({QString::fromStdString(slot.shortcutID), properties});
    }
    return QVariant::fromValue(list);
}

void PortalKeyGrabber::bind() {
    unwatchRequest();
    closeSession();
    bound_.clear();
    ++generation_;
    if (wanted_.empty()) {
        step_ = Step::none;
        changed();
        return;
    }
    const QString token = QStringLiteral("brindleaf%1").arg(++tokens_);
    watchRequest(token);
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("brindleaf"));
    // The backend of KDE 5.27 registers shortcuts only from here.
    options.insert(QStringLiteral("shortcuts"), shortcutList());
    auto message = QDBusMessage::createMethodCall(QString::fromLatin1(portalService), portalPath, shortcutsInterface,
                                                  QStringLiteral("CreateSession"));
    message << options;
    step_ = Step::createSession;
    const auto generation = generation_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(message, callTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, generation](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (generation != generation_ || !call->isError()) return;
        becomeAbsent(call->error().name().toStdString());
    });
}

void PortalKeyGrabber::watchRequest(const QString& token) {
    requestPath_ =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(senderPart(bus_.baseService()), token);
    // Before the call: the Response may come before the call's reply.
    bus_.connect(QString(), requestPath_, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                 this, SLOT(requestAnswered(QDBusMessage)));
    responseTimer_->start(responseTimeoutMs);
}

void PortalKeyGrabber::unwatchRequest() {
    responseTimer_->stop();
    if (requestPath_.isEmpty()) return;
    bus_.disconnect(QString(), requestPath_, QStringLiteral("org.freedesktop.portal.Request"),
                    QStringLiteral("Response"), this, SLOT(requestAnswered(QDBusMessage)));
    requestPath_.clear();
}

void PortalKeyGrabber::closeSession() {
    if (session_.isEmpty()) return;
    // Nobody waits for the answer.
    auto message =
        QDBusMessage::createMethodCall(QString::fromLatin1(portalService), session_,
                                       QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close"));
    bus_.asyncCall(message, callTimeoutMs);
    session_.clear();
}

void PortalKeyGrabber::requestAnswered(const QDBusMessage& message) {
    if (message.path() != requestPath_ || message.arguments().size() < 2) return;
    const auto response = message.arguments().at(0).toUInt();
    const auto results = qdbus_cast<QVariantMap>(message.arguments().at(1));
    const auto step = step_;
    unwatchRequest();
    if (response != 0) {
        step_ = Step::none;
        becomeAbsent("the portal refused the shortcuts (response " + std::to_string(response) + ")");
        return;
    }
    if (step == Step::createSession)
        sessionCreated(results);
    else if (step == Step::bindShortcuts)
        bindAnswered(results);
}

void PortalKeyGrabber::sessionCreated(const QVariantMap& results) {
    session_ = results.value(QStringLiteral("session_handle")).toString();
    if (session_.isEmpty()) {
        becomeAbsent("the portal made no session");
        return;
    }
    const QString token = QStringLiteral("brindleaf%1").arg(++tokens_);
    watchRequest(token);
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    auto message = QDBusMessage::createMethodCall(QString::fromLatin1(portalService), portalPath, shortcutsInterface,
                                                  QStringLiteral("BindShortcuts"));
    message << QVariant::fromValue(QDBusObjectPath(session_)) << shortcutList() << QString() << options;
    step_ = Step::bindShortcuts;
    const auto generation = generation_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(message, callTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, generation](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (generation != generation_ || !call->isError()) return;
        becomeAbsent(call->error().name().toStdString());
    });
}

void PortalKeyGrabber::bindAnswered(const QVariantMap& results) {
    step_ = Step::none;
    takeDescriptions(results.value(QStringLiteral("shortcuts")));
    for (const auto& slot : slots_) {
        auto it = bound_.find(slot.id);
        if (it == bound_.end()) continue;
        hotkeyLog().info("hotkey.portal.bound id=" + slot.shortcutID + " trigger=" + it->second);
    }
    changed();
}

void PortalKeyGrabber::takeDescriptions(const QVariant& shortcuts) {
    if (!shortcuts.canConvert<QDBusArgument>()) return;
    const auto list = qdbus_cast<PortalShortcutList>(shortcuts.value<QDBusArgument>());
    for (const auto& entry : list) {
        for (const auto& slot : slots_) {
            if (entry.id.toStdString() != slot.shortcutID || !wanted_.count(slot.id)) continue;
            bound_[slot.id] = entry.properties.value(QStringLiteral("trigger_description")).toString().toStdString();
        }
    }
}

void PortalKeyGrabber::activated(const QDBusMessage& message) {
    const auto arguments = message.arguments();
    if (session_.isEmpty() || arguments.size() < 2) return;
    if (qvariant_cast<QDBusObjectPath>(arguments.at(0)).path() != session_) return;
    const auto shortcutID = arguments.at(1).toString().toStdString();
    for (const auto& slot : slots_) {
        if (slot.shortcutID == shortcutID && wanted_.count(slot.id) && pressHandler_) pressHandler_(slot.id);
    }
}

void PortalKeyGrabber::shortcutsChanged(const QDBusMessage& message) {
    const auto arguments = message.arguments();
    if (session_.isEmpty() || arguments.size() < 2) return;
    if (qvariant_cast<QDBusObjectPath>(arguments.at(0)).path() != session_) return;
    takeDescriptions(arguments.at(1));
    changed();
}

void PortalKeyGrabber::becomeAbsent(const std::string& reason) {
    ++generation_;
    unwatchRequest();
    step_ = Step::none;
    session_.clear();
    bound_.clear();
    // Taken again when the portal is back.
    wanted_.clear();
    if (state_ == State::absent) return;
    state_ = State::absent;
    hotkeyLog().error("hotkey.portal.unavailable reason=" + reason);
    changed();
}

void PortalKeyGrabber::changed() {
    if (changeHandler_) changeHandler_();
}

} // namespace brindleaf
