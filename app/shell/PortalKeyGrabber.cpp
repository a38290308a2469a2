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

#include <cctype>

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

// A session's token: the shortcut's id and its preferred trigger, in the
// letters, digits and "_" an object path allows ("brindleaf_toggle_dashboard_CTRL_ALT_LOGO_s").
QString sessionToken(const std::string& shortcutID, const std::string& trigger) {
    std::string token = "brindleaf_" + shortcutID + "_" + trigger;
    for (auto& c : token) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return QString::fromStdString(token);
}

} // namespace

PortalKeyGrabber::PortalKeyGrabber(QDBusConnection bus, std::vector<Slot> shortcuts, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), slots_(std::move(shortcuts)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcutList>();
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
    for (auto& [id, binding] : bindings_) closeSession(binding);
}

void PortalKeyGrabber::probe() {
    state_ = State::probing;
    const auto probe = ++probes_;
    // Asking for the interface's version starts the portal where the bus can (activation).
    auto message =
        QDBusMessage::createMethodCall(QString::fromLatin1(portalService), portalPath,
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message << shortcutsInterface << QStringLiteral("version");
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(message, callTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, probe](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (probe != probes_ || state_ != State::probing) return;
        if (call->isError()) {
            becomeAbsent(call->error().name().toStdString());
            return;
        }
        state_ = State::present;
        // Hot keys refused meanwhile are taken again, then bound.
        changed();
        scheduleBind();
    });
}

const PortalKeyGrabber::Slot* PortalKeyGrabber::slotOf(std::uint32_t id) const {
    for (const auto& slot : slots_) {
        if (slot.id == id) return &slot;
    }
    return nullptr;
}

KeyGrabResult PortalKeyGrabber::grab(std::uint32_t id, const KeyChord& chord) {
    if (state_ == State::absent) return {KeyGrabResult::noPortal};
    if (!slotOf(id)) return {KeyGrabResult::noSuchKey};
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
    auto& binding = bindings_[id];
    if (!binding.timer) {
        binding.timer = new QTimer(this);
        binding.timer->setSingleShot(true);
        connect(binding.timer, &QTimer::timeout, this, [this] {
            becomeAbsent("the portal did not answer within " + std::to_string(responseTimeoutMs / 1000) + " s");
        });
    }
    binding.wanted = *trigger;
    scheduleBind();
    return {};
}

void PortalKeyGrabber::release(std::uint32_t id) {
    auto it = bindings_.find(id);
    if (it == bindings_.end() || it->second.wanted.empty()) return;
    it->second.wanted.clear();
    scheduleBind();
}

std::optional<std::string> PortalKeyGrabber::boundTrigger(std::uint32_t id) const {
    auto it = bindings_.find(id);
    if (it == bindings_.end() || it->second.wanted != it->second.sessionTrigger) return std::nullopt;
    return it->second.bound;
}

std::optional<std::string> PortalKeyGrabber::keyText(std::string_view keyName) const {
    return PortalShortcutTrigger::usKeyText(keyName);
}

bool PortalKeyGrabber::isSettled() const {
    if (state_ == State::absent) return true;
    if (state_ != State::present || bindScheduled_) return false;
    for (const auto& [id, binding] : bindings_) {
        if (binding.step != Step::none || binding.wanted != binding.sessionTrigger) return false;
    }
    return true;
}

// A release and a grab of the same key in a row (both keys registered
// together, a recording that ends) leave its session as it is.
void PortalKeyGrabber::scheduleBind() {
    if (bindScheduled_) return;
    bindScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        bindScheduled_ = false;
        bindChanged();
    });
}

void PortalKeyGrabber::bindChanged() {
    if (state_ != State::present) return;
    bool any = false;
    for (auto& [id, binding] : bindings_) {
        if (binding.wanted == binding.sessionTrigger) continue;
        any = true;
        closeSession(binding);
        if (!binding.wanted.empty()) bind(id, binding);
    }
    if (any) changed();
}

QVariant PortalKeyGrabber::shortcutList(std::uint32_t id, const std::string& trigger) const {
    PortalShortcutList list;
    if (const auto* slot = slotOf(id)) {
        QVariantMap properties;
        properties.insert(QStringLiteral("description"), QString::fromStdString(slot->description));
        properties.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(trigger));
        list.push_back({QString::fromStdString(slot->shortcutID), properties});
    }
    return QVariant::fromValue(list);
}

void PortalKeyGrabber::call(Binding& binding, QDBusMessage message) {
    const auto generation = binding.generation;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(message, callTimeoutMs), this);
    // The binding lives as long as this object (the map never drops an entry).
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, &binding, generation](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (generation != binding.generation || !finished->isError()) return;
                becomeAbsent(finished->error().name().toStdString());
            });
}

void PortalKeyGrabber::bind(std::uint32_t id, Binding& binding) {
    binding.sessionTrigger = binding.wanted;
    const QString token = QStringLiteral("brindleaf%1").arg(++tokens_);
    watchRequest(binding, token);
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("session_handle_token"), sessionToken(slotOf(id)->shortcutID, binding.wanted));
    // The backend of KDE 5.27 registers shortcuts only from here.
    options.insert(QStringLiteral("shortcuts"), shortcutList(id, binding.wanted));
    auto message = QDBusMessage::createMethodCall(QString::fromLatin1(portalService), portalPath, shortcutsInterface,
                                                  QStringLiteral("CreateSession"));
    message << options;
    binding.step = Step::createSession;
    call(binding, message);
}

void PortalKeyGrabber::watchRequest(Binding& binding, const QString& token) {
    binding.requestPath =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(senderPart(bus_.baseService()), token);
    // Before the call: the Response may come before the call's reply.
    bus_.connect(QString(), binding.requestPath, QStringLiteral("org.freedesktop.portal.Request"),
                 QStringLiteral("Response"), this, SLOT(requestAnswered(QDBusMessage)));
    binding.timer->start(responseTimeoutMs);
}

void PortalKeyGrabber::unwatchRequest(Binding& binding) {
    if (binding.timer) binding.timer->stop();
    if (binding.requestPath.isEmpty()) return;
    bus_.disconnect(QString(), binding.requestPath, QStringLiteral("org.freedesktop.portal.Request"),
                    QStringLiteral("Response"), this, SLOT(requestAnswered(QDBusMessage)));
    binding.requestPath.clear();
}

void PortalKeyGrabber::closeSession(Binding& binding) {
    unwatchRequest(binding);
    ++binding.generation;
    binding.step = Step::none;
    binding.sessionTrigger.clear();
    binding.bound.reset();
    if (binding.session.isEmpty()) return;
    // Nobody waits for the answer.
    auto message =
        QDBusMessage::createMethodCall(QString::fromLatin1(portalService), binding.session,
                                       QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close"));
    bus_.asyncCall(message, callTimeoutMs);
    binding.session.clear();
}

void PortalKeyGrabber::requestAnswered(const QDBusMessage& message) {
    if (message.arguments().size() < 2) return;
    for (auto& [id, binding] : bindings_) {
        if (binding.requestPath.isEmpty() || message.path() != binding.requestPath) continue;
        const auto response = message.arguments().at(0).toUInt();
        const auto results = qdbus_cast<QVariantMap>(message.arguments().at(1));
        const auto step = binding.step;
        unwatchRequest(binding);
        binding.step = Step::none;
        if (response != 0) {
            becomeAbsent("the portal refused the shortcuts (response " + std::to_string(response) + ")");
        } else if (step == Step::createSession) {
            sessionCreated(id, binding, results);
        } else if (step == Step::bindShortcuts) {
            bindAnswered(id, binding, results);
        }
        return;
    }
}

void PortalKeyGrabber::sessionCreated(std::uint32_t id, Binding& binding, const QVariantMap& results) {
    binding.session = results.value(QStringLiteral("session_handle")).toString();
    if (binding.session.isEmpty()) {
        becomeAbsent("the portal made no session");
        return;
    }
    const QString token = QStringLiteral("brindleaf%1").arg(++tokens_);
    watchRequest(binding, token);
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    auto message = QDBusMessage::createMethodCall(QString::fromLatin1(portalService), portalPath, shortcutsInterface,
                                                  QStringLiteral("BindShortcuts"));
    message << QVariant::fromValue(QDBusObjectPath(binding.session)) << shortcutList(id, binding.sessionTrigger)
            << QString() << options;
    binding.step = Step::bindShortcuts;
    call(binding, message);
}

void PortalKeyGrabber::bindAnswered(std::uint32_t id, Binding& binding, const QVariantMap& results) {
    takeDescription(id, binding, results.value(QStringLiteral("shortcuts")));
    if (binding.bound)
        hotkeyLog().info("hotkey.portal.bound id=" + slotOf(id)->shortcutID + " trigger=" + *binding.bound);
    changed();
}

void PortalKeyGrabber::takeDescription(std::uint32_t id, Binding& binding, const QVariant& shortcuts) {
    if (!shortcuts.canConvert<QDBusArgument>()) return;
    const auto list = qdbus_cast<PortalShortcutList>(shortcuts.value<QDBusArgument>());
    const auto* slot = slotOf(id);
    for (const auto& entry : list) {
        if (slot && entry.id.toStdString() == slot->shortcutID) {
            binding.bound = entry.properties.value(QStringLiteral("trigger_description")).toString().toStdString();
        }
    }
}

void PortalKeyGrabber::activated(const QDBusMessage& message) {
    const auto arguments = message.arguments();
    if (arguments.size() < 2) return;
    const auto session = qvariant_cast<QDBusObjectPath>(arguments.at(0)).path();
    const auto shortcutID = arguments.at(1).toString().toStdString();
    for (const auto& [id, binding] : bindings_) {
        if (binding.session.isEmpty() || binding.session != session || binding.wanted.empty()) continue;
        const auto* slot = slotOf(id);
        if (slot && slot->shortcutID == shortcutID && pressHandler_) pressHandler_(id);
    }
}

void PortalKeyGrabber::shortcutsChanged(const QDBusMessage& message) {
    const auto arguments = message.arguments();
    if (arguments.size() < 2) return;
    const auto session = qvariant_cast<QDBusObjectPath>(arguments.at(0)).path();
    for (auto& [id, binding] : bindings_) {
        if (binding.session.isEmpty() || binding.session != session) continue;
        takeDescription(id, binding, arguments.at(1));
        changed();
    }
}

void PortalKeyGrabber::becomeAbsent(const std::string& reason) {
    ++probes_;
    for (auto& [id, binding] : bindings_) {
        unwatchRequest(binding);
        ++binding.generation;
        binding.step = Step::none;
        binding.session.clear();
        binding.sessionTrigger.clear();
        binding.bound.reset();
        // Taken again when the portal is back.
        binding.wanted.clear();
    }
    if (state_ == State::absent) return;
    state_ = State::absent;
    hotkeyLog().error("hotkey.portal.unavailable reason=" + reason);
    changed();
}

void PortalKeyGrabber::changed() {
    if (changeHandler_) changeHandler_();
}

} // namespace brindleaf
