#include "presentation/Symbols.hpp"

#include "platform/Logger.hpp"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>

namespace brindleaf::Symbols {

namespace {

QString resourcePath(std::string_view name) {
    return QStringLiteral(":/symbols/") + QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) +
           QStringLiteral(".svg");
}

// Parsed renderers, one per symbol; null for a name without a symbol.
QSvgRenderer* renderer(std::string_view name) {
    static std::unordered_map<std::string, std::unique_ptr<QSvgRenderer>> renderers;
    auto it = renderers.find(std::string(name));
    if (it != renderers.end()) return it->second.get();
    std::unique_ptr<QSvgRenderer> loaded;
    const QString path = resourcePath(name);
    if (QFile::exists(path)) {
        loaded = std::make_unique<QSvgRenderer>(path);
        if (!loaded->isValid()) loaded.reset();
    }
    if (!loaded) Logger("Status").error("symbol.missing name=" + std::string(name));
    return renderers.emplace(std::string(name), std::move(loaded)).first->second.get();
}

QImage render(std::string_view name, QSizeF logicalSize, const QColor& tint, qreal ratio) {
    const int width = std::max(1, static_cast<int>(std::ceil(logicalSize.width() * ratio)));
    const int height = std::max(1, static_cast<int>(std::ceil(logicalSize.height() * ratio)));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QSvgRenderer* svg = renderer(name);
    if (!svg) {
        // The empty frame of an unknown symbol.
        const qreal inset = std::max<qreal>(1, width / 8.0);
        QColor frame = tint;
        frame.setAlphaF(tint.alphaF() * 0.5f);
        painter.setPen(QPen(frame, std::max<qreal>(1, ratio)));
        painter.drawRoundedRect(QRectF(inset, inset, width - 2 * inset, height - 2 * inset), inset, inset);
    } else {
        // Fitted without distortion, centred.
        const QSizeF natural = svg->viewBoxF().size();
        const qreal scale = std::min(width / natural.width(), height / natural.height());
        const QSizeF drawn = natural * scale;
        svg->render(&painter,
                    QRectF((width - drawn.width()) / 2, (height - drawn.height()) / 2, drawn.width(), drawn.height()));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), tint);
    }
    painter.end();
    image.setDevicePixelRatio(ratio);
    return image;
}

class SymbolIconEngine final : public QIconEngine {
public:
    SymbolIconEngine(std::string name, QColor tint) : name_(std::move(name)), tint_(tint) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1;
        painter->drawImage(rect, image(name_, rect.size(), colour(mode), ratio));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        return Symbols::pixmap(name_, size, colour(mode), scale);
    }
    QIconEngine* clone() const override { return new SymbolIconEngine(name_, tint_); }
    QString key() const override { return QStringLiteral("brindleaf-symbol"); }

private:
    QColor colour(QIcon::Mode mode) const {
        QColor c = tint_;
        if (mode == QIcon::Disabled) c.setAlphaF(c.alphaF() * 0.4f);
        return c;
    }
    std::string name_;
    QColor tint_;
};

} // namespace

bool exists(std::string_view name) { return QFile::exists(resourcePath(name)); }

QImage image(std::string_view name, QSizeF logicalSize, const QColor& tint, qreal devicePixelRatio) {
    static QHash<QString, QImage> cache;
    const QString key = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) + '|' +
                        QString::number(logicalSize.width()) + 'x' + QString::number(logicalSize.height()) + '|' +
                        QString::number(tint.rgba64(), 16) + '|' + QString::number(devicePixelRatio);
    auto it = cache.constFind(key);
    if (it != cache.constEnd()) return *it;
    // A bounded cache: symbols are few, sizes and colours a handful each.
    if (cache.size() > 512) cache.clear();
    QImage rendered = render(name, logicalSize, tint, devicePixelRatio);
    cache.insert(key, rendered);
    return rendered;
}

QPixmap pixmap(std::string_view name, QSizeF logicalSize, const QColor& tint, qreal devicePixelRatio) {
    return QPixmap::fromImage(image(name, logicalSize, tint, devicePixelRatio));
}

QIcon icon(std::string_view name, const QColor& tint) { return QIcon(new SymbolIconEngine(std::string(name), tint)); }

} // namespace brindleaf::Symbols
