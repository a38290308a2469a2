// The desktop's colour scheme as the settings portal tells it: read without
// waiting at start (a portal late to answer holds nothing up), then followed.
#include "app/shell/DesktopSessionMonitor.hpp"
#include "tests/app/shell/ShellTestSupport.hpp"
#include "tests/support/PrivateSessionBus.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace brindleaf {
namespace {

using testing::runUntil;

// The settings portal on a test's bus, answering Read late (as a portal
// that starts on the first call does) or never.
class FakeSettingsPortal final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    FakeSettingsPortal(const QString& address, uint colourScheme, bool answers)
        : connection_(QDBusConnection::connectToBus(address, QStringLiteral("fake-portal"))),
          colourScheme_(colourScheme),
          answers_(answers) {
        connection_.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                                   QDBusConnection::ExportAllSlots);
        connection_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~FakeSettingsPortal() override { QDBusConnection::disconnectFromBus(connection_.name()); }

    // The user picks another scheme.
    void change(uint colourScheme) {
        colourScheme_ = colourScheme;
        announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"), colourScheme);
    }
    void announce(const QString& nameSpace, const QString& key, const QVariant& value) {
        auto signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                 QStringLiteral("org.freedesktop.portal.Settings"),
                                                 QStringLiteral("SettingChanged"));
        signal << nameSpace << key << QVariant::fromValue(QDBusVariant(value));
        connection_.send(signal);
    }
    int reads = 0;

public slots:
    QDBusVariant Read(const QString& nameSpace, const QString& key, const QDBusMessage& message) {
        ++reads;
        message.setDelayedReply(true);
        if (!answers_) return {};
        QTimer::singleShot(200, this, [this, nameSpace, key, message] {
            if (nameSpace != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme")) {
                connection_.send(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                                                          QStringLiteral("no such setting")));
                return;
            }
            // The older portals wrap the value twice.
            const QVariant inner = QVariant::fromValue(QDBusVariant(colourScheme_));
            connection_.send(message.createReply(QVariant::fromValue(QDBusVariant(inner))));
        });
        return {};
    }

private:
    QDBusConnection connection_;
    uint colourScheme_;
    bool answers_;
};

} // namespace

TEST(DesktopSessionMonitorTests, TheColourSchemeIsReadWithoutWaitingAndFollowedAsIsTheAnimationSetting) {
    testing::shellApplication();
    testing::PrivateSessionBus daemon;
    ASSERT_TRUE(daemon.isReady());
    const QString address = QString::fromStdString(daemon.address());
    FakeSettingsPortal portal(address, 1, true);
    auto session = QDBusConnection::connectToBus(address, QStringLiteral("monitor-session"));
    std::vector<std::optional<Appearance>> heard;
    std::optional<bool> reduceMotion;
    {
        DesktopSessionMonitor monitor(
            {.animationSuspended = {},
             .reduceMotion = [&](bool reduce) { reduceMotion = reduce; },
             .colourScheme = [&](std::optional<Appearance> scheme) { heard.push_back(scheme); }},
            nullptr, session);
        // Made before the portal answered.
        EXPECT_TRUE(heard.empty());
        ASSERT_TRUE(runUntil([&] { return !heard.empty(); })) << "reads: " << portal.reads;
        EXPECT_EQ(heard, (std::vector<std::optional<Appearance>>{Appearance::dark}));
        portal.change(2);
        ASSERT_TRUE(runUntil([&] { return heard.size() == 2; }));
        EXPECT_EQ(heard.back(), Appearance::light);
        // No preference says nothing of light or dark.
        portal.change(0);
        ASSERT_TRUE(runUntil([&] { return heard.size() == 3; }));
        EXPECT_EQ(heard.back(), std::nullopt);
        // The desktop's animation setting is followed the same way.
        portal.announce(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations"), false);
        ASSERT_TRUE(runUntil([&] { return reduceMotion.has_value(); }));
        EXPECT_EQ(reduceMotion, true);
    }
    QDBusConnection::disconnectFromBus(session.name());
}

TEST(DesktopSessionMonitorTests, APortalThatNeverAnswersHoldsNothingUp) {
    testing::shellApplication();
    testing::PrivateSessionBus daemon;
    const QString address = QString::fromStdString(daemon.address());
    FakeSettingsPortal portal(address, 1, false);
    auto session = QDBusConnection::connectToBus(address, QStringLiteral("monitor-silent"));
    bool heard = false;
    {
        DesktopSessionMonitor monitor({.animationSuspended = {},
                                       .reduceMotion = {},
                                       .colourScheme = [&](std::optional<Appearance>) { heard = true; }},
                                      nullptr, session);
        // Asked (the constructor did not wait for it), and still nothing heard.
        ASSERT_TRUE(runUntil([&] { return portal.reads == 2; }));
        EXPECT_FALSE(heard);
    }
    QDBusConnection::disconnectFromBus(session.name());
}

} // namespace brindleaf

#include "DesktopSessionMonitorTests.moc"
