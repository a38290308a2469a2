#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>

namespace brindleaf {

// One icon image as a StatusNotifierItem sends it ("(iiay)"): its pixel size
// and its pixels as ARGB32, not premultiplied, each pixel in network byte
// order (alpha first).
struct StatusNotifierPixmap {
    int width = 0;
    int height = 0;
    QByteArray pixels;

    static StatusNotifierPixmap fromImage(const QImage& image);
    // The image again (tests, tools): ARGB32, device pixel ratio 1.
    QImage toImage() const;
};

using StatusNotifierPixmaps = QList<StatusNotifierPixmap>;

// The item's tooltip ("(sa(iiay)ss)"): an icon name and pixmaps (we send
// none), a title and a description.
struct StatusNotifierToolTip {
    QString iconName;
    StatusNotifierPixmaps pixmaps;
    QString title;
    QString description;
};

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierToolTip& toolTip);

// Makes the two types known to QtDBus; call before exporting or reading them.
void registerStatusNotifierTypes();

} // namespace brindleaf

Q_DECLARE_METATYPE(brindleaf::StatusNotifierPixmap)
Q_DECLARE_METATYPE(brindleaf::StatusNotifierToolTip)
