#include "presentation/DashboardPanel.hpp"

#include "presentation/PlatformStyle.hpp"
#include "presentation/StatusDashboardView.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QVBoxLayout>

namespace brindleaf {

DashboardPanel::DashboardPanel(StatusDashboardView* view, QWidget* parent) : QWidget(parent), view_(view) {
    setObjectName("dashboardPanel");
    setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(this);
    // Enough inset that the rounded corners never clip the view's content.
    layout->setContentsMargins(1, 4, 1, 4);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    view_->setParent(this);
    layout->addWidget(view_);
}

void DashboardPanel::setRoundedMask(bool on) {
    roundedMask_ = on;
    applyMask();
}

void DashboardPanel::applyMask() {
    if (!roundedMask_) {
        clearMask();
        return;
    }
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

void DashboardPanel::resizeEvent(QResizeEvent* event) {
    applyMask();
    QWidget::resizeEvent(event);
}

void DashboardPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    painter.fillPath(shape, palette().color(QPalette::Window));
    painter.setPen(QPen(PlatformStyle::color(ThemeColor::system(ThemeColor::Role::primaryLabel, 0.15), palette()), 1));
    painter.drawPath(shape);
}

} // namespace brindleaf
