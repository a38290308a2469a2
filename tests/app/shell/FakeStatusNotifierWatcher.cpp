#include "tests/app/shell/FakeStatusNotifierWatcher.hpp"

#include <QTimer>

#include <utility>

namespace brindleaf::testing {

namespace {

const QString service = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString path = QStringLiteral("/StatusNotifierWatcher");

} // namespace

FakeStatusNotifierWatcher::FakeStatusNotifierWatcher(const QString& address, Options initial)
    : options(initial),
      connection_(QDBusConnection::connectToBus(address, QStringLiteral("fake-watcher-%1").arg(++count_))),
      hostRegistered_(initial.hostRegistered) {
    if (!options.nameFirst) exportObject();
    takeName();
}

FakeStatusNotifierWatcher::~FakeStatusNotifierWatcher() {
    connection_.unregisterService(service);
    QDBusConnection::disconnectFromBus(connection_.name());
}

void FakeStatusNotifierWatcher::exportObject() {
    if (exported_) return;
    exported_ = connection_.registerObject(path, this,
                                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                                               QDBusConnection::ExportAllSignals);
}

void FakeStatusNotifierWatcher::releaseName() { connection_.unregisterService(service); }

void FakeStatusNotifierWatcher::takeName() { connection_.registerService(service); }

void FakeStatusNotifierWatcher::answerHeld() {
    for (const auto& answer : std::exchange(held_, {})) answer();
}

void FakeStatusNotifierWatcher::registerHost() {
    hostRegistered_ = true;
    emit StatusNotifierHostRegistered();
}

bool FakeStatusNotifierWatcher::isHostRegistered() const {
    ++hostQueries;
    return hostRegistered_;
}

QStringList FakeStatusNotifierWatcher::registeredItems() const {
    ++itemQueries;
    QStringList listed;
    for (const QString& item : items) listed << item + QStringLiteral("/StatusNotifierItem");
    return listed;
}

void FakeStatusNotifierWatcher::RegisterStatusNotifierItem(const QString& item, const QDBusMessage& message) {
    message.setDelayedReply(true);
    ++calls;
    const auto answer = [this, item, message] {
        ++answered;
        if (options.refuseItems || options.refuseNext > 0) {
            if (options.refuseNext > 0) --options.refuseNext;
            connection_.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("no items taken")));
            return;
        }
        if (!items.contains(item)) items.push_back(item);
        connection_.send(message.createReply());
    };
    if (options.holdAnswers)
        held_.push_back(answer);
    else if (options.answerDelayMs > 0)
        QTimer::singleShot(options.answerDelayMs, this, answer);
    else
        answer();
}

} // namespace brindleaf::testing
