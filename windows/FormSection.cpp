#include "windows/FormSection.hpp"

#include "presentation/PlatformStyle.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace brindleaf {

FormSection::FormSection(const QString& header, const QString& footer, QWidget* parent)
    : QWidget(parent), box_(new QFrame(this)), rows_(new QVBoxLayout(box_)), footerLayout_(new QVBoxLayout) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!header.isEmpty()) {
        auto* title = makeLabel(header, TextStyle::headline);
        title->setFont(PlatformStyle::font(TextStyle::headline, QFont::DemiBold));
        title->setContentsMargins(4, 0, 0, 0);
        layout->addWidget(title);
    }
    box_->setObjectName("formSectionBox");
    box_->setFrameShape(QFrame::StyledPanel);
    box_->setStyleSheet("#formSectionBox { border: 1px solid palette(mid); border-radius: 6px; }");
    rows_->setContentsMargins(10, 8, 10, 8);
    rows_->setSpacing(8);
    layout->addWidget(box_);
    footerLayout_->setContentsMargins(4, 0, 4, 0);
    footerLayout_->setSpacing(4);
    if (!footer.isEmpty()) {
        footer_ = makeLabel(footer, TextStyle::footnote, ThemeColor::system(ThemeColor::Role::secondaryLabel), true);
        footerLayout_->addWidget(footer_);
    }
    layout->addLayout(footerLayout_);
}

void FormSection::addWidget(QWidget* widget) { rows_->addWidget(widget); }

void FormSection::addRow(const QString& title, QWidget* widget) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(makeLabel(title));
    layout->addStretch(1);
    layout->addWidget(widget);
    rows_->addWidget(row);
}

QLabel* makeLabel(const QString& text, TextStyle style, ThemeColor color, bool wraps, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(PlatformStyle::font(style, style == TextStyle::headline ? QFont::DemiBold : QFont::Normal));
    label->setWordWrap(wraps);
    setLabelColor(label, color);
    return label;
}

void setLabelColor(QLabel* label, ThemeColor color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, PlatformStyle::color(color, palette));
    label->setPalette(palette);
}

} // namespace brindleaf
