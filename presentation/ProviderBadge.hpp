#pragma once

#include <QFont>
#include <QSize>
#include <QString>
#include <QWidget>

class QPainter;

namespace brindleaf {

// A provider's name on its own colours: one line, padded, on a rounded
// rectangle, never stretched (see ProviderTheme for the colours). The text is
// plain text.
class ProviderBadge final : public QWidget {
    Q_OBJECT
public:
    ProviderBadge(QString providerName, QFont font, QWidget* parent = nullptr);

    const QString& providerName() const { return providerName_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The badge's ideal size, and the badge drawn with its top left at `origin`.
    static QSizeF badgeSize(const QString& providerName, const QFont& font);
    static void paint(QPainter& painter, QPointF origin, const QString& providerName, const QFont& font,
                      const QPalette& palette);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString providerName_;
    QFont font_;
};

} // namespace brindleaf
