#pragma once

#include "app/TrayHostChoice.hpp"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <memory>

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

signals:
    // A host came or went; hosts() says what is there now.
    void changed();

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
