#include "windows/MenuBarIconPreview.hpp"

#include "presentation/PlatformStyle.hpp"
#include "windows/FormSection.hpp"
#include "windows/GeneralPaneContent.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace brindleaf {

MenuBarIconPreview::MenuBarIconPreview(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    static constexpr std::array<const char*, 3> names = {"previewIdle", "previewWorking", "previewWaiting"};
    for (std::size_t i = 0; i < images_.size(); ++i) {
        auto* cell = new QWidget(this);
        auto* stack = new QVBoxLayout(cell);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(2);
        images_[i] = new QLabel(cell);
        images_[i]->setObjectName(names[i]);
        images_[i]->setFixedSize(40, 28);
        images_[i]->setAlignment(Qt::AlignCenter);
        const QString label = QString::fromUtf8(GeneralPaneContent::previewCellLabels[i]);
        cell->setAccessibleName(label + " icon");
        stack->addWidget(images_[i], 0, Qt::AlignHCenter);
        stack->addWidget(makeLabel(label, TextStyle::caption2, ThemeColor::system(ThemeColor::Role::secondaryLabel)), 0,
                         Qt::AlignHCenter);
        row->addWidget(cell);
    }
    timer_.setInterval(static_cast<int>(GeneralPaneContent::previewStepSeconds * 1000));
    connect(&timer_, &QTimer::timeout, this, &MenuBarIconPreview::advanceFrame);
}

void MenuBarIconPreview::setIcons(const StatusIconFactory::IconSet& icons) {
    icons_ = icons;
    paintCells();
}

void MenuBarIconPreview::advanceFrame() {
    frameIndex_ = GeneralPaneContent::nextPreviewFrame(frameIndex_, icons_.running.size());
    paintCells();
}

void MenuBarIconPreview::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_.start();
}

void MenuBarIconPreview::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

void MenuBarIconPreview::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) paintCells();
}

void MenuBarIconPreview::paintCells() {
    const StatusIconImageRef working =
        icons_.running.empty() ? nullptr
                               : icons_.running[GeneralPaneContent::previewFrame(frameIndex_, icons_.running.size())];
    const std::array<StatusIconImageRef, 3> images = {icons_.idle, working, icons_.waiting};
    const qreal ratio = devicePixelRatioF();
    const Appearance appearance = PlatformStyle::appearance(palette());
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (!images[i]) {
            images_[i]->clear();
            continue;
        }
        // A template image takes the primary text colour, as the panel would tint it.
        const StatusIconImageRef shown = tintedForPanel(images[i], appearance);
        QPixmap pixmap = QPixmap::fromImage(shown->forRatio(ratio));
        pixmap.setDevicePixelRatio(ratio > 1 ? 2 : 1);
        images_[i]->setPixmap(pixmap);
    }
}

} // namespace brindleaf
