#pragma once

#include "app/TrayHostChoice.hpp"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class QDBusServiceWatcher;
class QSocketNotifier;

namespace brindleaf {

class X11TraySelection;

// Which tray hosts are there, as they come and go: the StatusNotifierWatcher
// on the session bus (and whether it has a host), and an XEmbed tray on the X
// server. A watcher that appears counts as having a host until it answers,
// unless an XEmbed tray is there: then it has none until it says it has one
// (IsStatusNotifierHostRegistered, or StatusNotifierHostRegistered), so that
// the icon moves once, not there and back while a panel starts.
//
// Main thread only.
class TrayHostMonitor final : public QObject {
    Q_OBJECT
public:
    // `bus` may be disconnected (no session bus): no watcher is ever seen.
    // `watchX11`: whether to look for an XEmbed tray on $DISPLAY.
    TrayHostMonitor(QDBusConnection bus, bool watchX11, QObject* parent = nullptr);
    ~TrayHostMonitor() override;

    TrayHostChoice::Hosts hosts() const { return hosts_; }
    // The foreground colour the XEmbed tray asks its icons to use
    // (_NET_SYSTEM_TRAY_COLORS, 16 bits a channel), while it says one.
    std::optional<std::array<std::uint16_t, 3>> trayForeground() const;

signals:
    // A host came or went; hosts() says what is there now.
    void changed();
    // The XEmbed tray's colours changed (or came or went with it).
    void trayColoursChanged();

private slots:
    void hostRegistered();
    void hostUnregistered();

private:
    void askWhetherHostRegistered();
    void update(TrayHostChoice::Hosts hosts);

    QDBusConnection bus_;
    QDBusServiceWatcher* serviceWatcher_ = nullptr;
    std::unique_ptr<X11TraySelection> x11_;
    QSocketNotifier* x11Notifier_ = nullptr;
    TrayHostChoice::Hosts hosts_;
};

} // namespace brindleaf
