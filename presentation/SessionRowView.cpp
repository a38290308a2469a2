#include "presentation/SessionRowView.hpp"

#include "presentation/ElidedLabel.hpp"
#include "presentation/PlainToolTip.hpp"
#include "presentation/PlatformStyle.hpp"
#include "presentation/ProviderBadge.hpp"
#include "presentation/SessionGoToItem.hpp"
#include "presentation/SymbolIcon.hpp"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QVBoxLayout>

namespace brindleaf {

namespace {

constexpr double cornerRadius = 8;

QString qstr(const std::string& text) { return QString::fromStdString(text); }

QFont badgeFont() { return PlatformStyle::font(10, QFont::DemiBold); }

// The dot that tells working from waiting: an accent core, or for a waiting
// session an orange core glowing inside a halo and a ring.
class StatusDot final : public QWidget {
public:
    explicit StatusDot(QWidget* parent) : QWidget(parent) {
        // 22 x 18 in the row's layout terms; 22 high here so the halo is not cut.
        setFixedSize(22, 22);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setWaiting(bool waiting) {
        if (waiting == waiting_) return;
        waiting_ = waiting;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF centre(width() / 2.0, height() / 2.0);
        const QColor attention = SessionRowView::attentionColor();
        auto withAlpha = [](QColor color, double alpha) {
            color.setAlphaF(float(alpha));
            return color;
        };
        if (waiting_) {
            // Halo: a disc of 22 whose edge is blurred by about 3.
            QRadialGradient halo(centre, 11);
            halo.setColorAt(0, withAlpha(attention, 0.34));
            halo.setColorAt(6.0 / 11, withAlpha(attention, 0.34));
            halo.setColorAt(1, withAlpha(attention, 0));
            painter.setPen(Qt::NoPen);
            painter.setBrush(halo);
            painter.drawEllipse(centre, 11, 11);
            // Glow of the core.
            QRadialGradient glow(centre, 8);
            glow.setColorAt(0, withAlpha(attention, 0.95));
            glow.setColorAt(1, withAlpha(attention, 0));
            painter.setBrush(glow);
            painter.drawEllipse(centre, 8, 8);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(withAlpha(attention, 0.78), 1));
            painter.drawEllipse(centre, 7.5, 7.5);
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(waiting_ ? attention
                                  : PlatformStyle::color(ThemeColor::system(ThemeColor::Role::accent), palette()));
        painter.drawEllipse(centre, 4, 4);
    }

private:
    bool waiting_ = false;
};

} // namespace

QColor SessionRowView::attentionColor() { return QColor::fromRgbF(1.0f, 0.52f, 0.1f, 1.0f); }

SessionRowView::SessionRowView(const SessionRowContent& content, QWidget* parent, SessionRowActions actions)
    : QWidget(parent), actions_(std::move(actions)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Reached with Tab only: a click on the card leaves the focus where it is.
    setFocusPolicy(Qt::TabFocus);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 9, 10, 9);
    row->setSpacing(10);
    dot_ = new StatusDot(this);
    row->addWidget(dot_, 0, Qt::AlignTop);
    row->setAlignment(dot_, Qt::AlignTop);

    lines_ = new QVBoxLayout;
    lines_->setSpacing(3);
    lines_->setContentsMargins(0, 0, 0, 0);
    row->addLayout(lines_, 1);

    titleLine_ = new QHBoxLayout;
    titleLine_->setSpacing(6);
    title_ = new ElidedLabel(this);
    title_->setObjectName("sessionTitle");
    title_->setTextFont(PlatformStyle::font(TextStyle::body, QFont::DemiBold));
    titleLine_->addWidget(title_, 1);
    titleLine_->addSpacing(6);
    lines_->addLayout(titleLine_);

    activity_ = new ElidedLabel(this);
    activity_->setObjectName("sessionActivity");
    activity_->setTextFont(PlatformStyle::font(TextStyle::subheadline));
    lines_->addWidget(activity_);

    setContent(content);
}

SessionRowView::~SessionRowView() {
    if (menu_) menu_->deleteLater();
}

void SessionRowView::setContent(const SessionRowContent& content) {
    const bool first = !badge_;
    if (!first && content == content_) return;
    const bool providerChanged = first || content.provider != content_.provider;
    const bool detailsChanged = first || content.details != content_.details;
    content_ = content;

    title_->setText(qstr(content_.displayTitle));
    if (providerChanged) {
        delete badge_;
        badge_ = new ProviderBadge(qstr(content_.provider), badgeFont(), this);
        titleLine_->addWidget(badge_, 0, Qt::AlignVCenter);
    }
    static_cast<StatusDot*>(dot_)->setWaiting(content_.needsUserAttention);
    activity_->setText(qstr(content_.activity));
    activity_->setColor(
        ThemeColor::system(content_.needsUserAttention ? ThemeColor::Role::orange : ThemeColor::Role::secondaryLabel));
    if (detailsChanged) applyDetails();
    updateAccessibleText();
}

void SessionRowView::applyDetails() {
    // Lines are kept while their number stays; only their texts change.
    while (details_.size() > content_.details.size()) {
        delete details_.back().line;
        details_.pop_back();
    }
    while (details_.size() < content_.details.size()) {
        DetailWidgets widgets;
        widgets.line = new QWidget(this);
        auto* layout = new QHBoxLayout(widgets.line);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(5);
        const double captionSize = textStyleSize(TextStyle::caption);
        widgets.icon =
            new SymbolIcon("", ThemeColor::system(ThemeColor::Role::secondaryLabel),
                           QSizeF(captionSize + 1, captionSize + 1), QSize(14, int(captionSize) + 4), widgets.line);
        widgets.text = new ElidedLabel(widgets.line);
        widgets.text->setObjectName("sessionDetail");
        widgets.text->setTextFont(PlatformStyle::font(TextStyle::caption));
        widgets.text->setColor(ThemeColor::system(ThemeColor::Role::secondaryLabel));
        widgets.text->setElideMode(Qt::ElideMiddle);
        layout->addWidget(widgets.icon);
        layout->addWidget(widgets.text, 1);
        lines_->addWidget(widgets.line);
        details_.push_back(widgets);
    }
    for (std::size_t i = 0; i < details_.size(); ++i) {
        const auto& line = content_.details[i];
        details_[i].icon->setSymbol(line.symbol);
        details_[i].text->setText(qstr(line.text));
        details_[i].line->setToolTip(plainToolTip(qstr(line.help)));
    }
}

void SessionRowView::updateAccessibleText() {
    QString text = qstr(SessionRowContent::statusLabel(content_.needsUserAttention)) + ", " +
                   qstr(content_.displayTitle) + ", " + qstr(content_.provider) + ", " + qstr(content_.activity);
    for (const auto& line : content_.details) text += ", " + qstr(line.text);
    setAccessibleName(text);
}

QMenu* SessionRowView::showContextMenu(const QPoint& globalPosition) {
    if (menu_) menu_->close();
    // The menu is not the row's child and copies texts taken now, so a refresh
    // that replaces or retires the row cannot pull it from under the user.
    auto* menu = new QMenu;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setToolTipsVisible(true);
    const auto pid = content_.processID;
    const SessionGoToItem item = SessionGoToItem::make(pid, std::nullopt);
    QAction* goTo = menu->addAction(qstr(SessionGoToItem::title));
    goTo->setEnabled(item.enabled);
    goTo->setToolTip(qstr(item.tooltip));
    connect(goTo, &QAction::triggered, this, [this, pid] {
        if (pid && actions_.goTo) actions_.goTo(*pid);
    });
    goToAction_ = goTo;
    menu->addSeparator();
    for (const auto& entry : content_.menu) {
        if (entry.separatorBefore) menu->addSeparator();
        const QString copied = qstr(entry.copiedText);
        QAction* action = menu->addAction(qstr(entry.title));
        connect(action, &QAction::triggered, menu, [copied] {
            QClipboard* clipboard = QGuiApplication::clipboard();
            clipboard->clear();
            clipboard->setText(copied);
        });
    }
    connect(menu, &QObject::destroyed, this, [this] {
        if (retired_) deleteLater();
    });
    menu_ = menu;
    menu->popup(globalPosition);
    checkGoTo();
    return menu;
}

void SessionRowView::goToSession() {
    if (content_.processID && actions_.goTo) actions_.goTo(*content_.processID);
}

void SessionRowView::checkGoTo() {
    const auto pid = content_.processID;
    if (!pid) {
        applyGoToCheck(0, {});
        return;
    }
    if (!actions_.check) return;
    QPointer<SessionRowView> self(this);
    actions_.check(*pid, [self, pid](SessionJumpCheck check) {
        if (self) self->applyGoToCheck(*pid, check);
    });
}

void SessionRowView::applyGoToCheck(int64_t pid, const SessionJumpCheck& check) {
    // An answer for a process the card no longer shows is dropped.
    if (content_.processID && *content_.processID != pid) return;
    const SessionGoToItem item = SessionGoToItem::make(content_.processID, check);
    setToolTip(qstr(item.tooltip));
    if (item.enabled)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
    if (goToAction_) {
        goToAction_->setEnabled(item.enabled);
        goToAction_->setToolTip(qstr(item.tooltip));
    }
}

void SessionRowView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void SessionRowView::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) {
        event->accept();
        goToSession();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void SessionRowView::enterEvent(QEnterEvent* event) {
    checkGoTo();
    QWidget::enterEvent(event);
}

void SessionRowView::retire() {
    retired_ = true;
    hide();
    if (!menu_) deleteLater();
}

void SessionRowView::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    // The X server's Menu key comes as a key press and then as this event.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        if (!menu_) showContextMenu(menuPlace());
        return;
    }
    showContextMenu(event->globalPos());
}

QPoint SessionRowView::menuPlace() const { return mapToGlobal(QPoint(title_->x(), title_->geometry().bottom())); }

void SessionRowView::keyPressEvent(QKeyEvent* event) {
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers == Qt::NoModifier && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        event->accept();
        goToSession();
        return;
    }
    const bool opens = (modifiers == Qt::NoModifier && (key == Qt::Key_Space || key == Qt::Key_Menu)) ||
                       (modifiers == Qt::ShiftModifier && key == Qt::Key_F10);
    if (!opens) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    showContextMenu(menuPlace());
}

void SessionRowView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(shape, palette().color(QPalette::Base));
    if (hasFocus()) PlatformStyle::drawFocusRing(painter, QRectF(rect()), cornerRadius, palette());
}

} // namespace brindleaf
