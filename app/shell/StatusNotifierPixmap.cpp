#include "app/shell/StatusNotifierPixmap.hpp"

#include <QDBusMetaType>
#include <QtEndian>

#include <cstring>

namespace brindleaf {

StatusNotifierPixmap StatusNotifierPixmap::fromImage(const QImage& image) {
    StatusNotifierPixmap pixmap;
    if (image.isNull()) return pixmap;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    pixmap.width = argb.width();
    pixmap.height = argb.height();
    pixmap.pixels.resize(static_cast<qsizetype>(pixmap.width) * pixmap.height * 4);
    auto* out = reinterpret_cast<uchar*>(pixmap.pixels.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, out += 4) qToBigEndian(line[x], out);
    }
    return pixmap;
}

QImage StatusNotifierPixmap::toImage() const {
    if (width <= 0 || height <= 0 || pixels.size() != static_cast<qsizetype>(width) * height * 4) return {};
    QImage image(width, height, QImage::Format_ARGB32);
    const auto* in = reinterpret_cast<const uchar*>(pixels.constData());
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x, in += 4) line[x] = qFromBigEndian<quint32>(in);
    }
    return image;
}

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.pixels;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.pixels;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierToolTip& toolTip) {
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.pixmaps << toolTip.title << toolTip.description;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierToolTip& toolTip) {
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.pixmaps >> toolTip.title >> toolTip.description;
    argument.endStructure();
    return argument;
}

void registerStatusNotifierTypes() {
    qDBusRegisterMetaType<StatusNotifierPixmap>();
    qDBusRegisterMetaType<StatusNotifierPixmaps>();
    qDBusRegisterMetaType<StatusNotifierToolTip>();
}

} // namespace brindleaf
