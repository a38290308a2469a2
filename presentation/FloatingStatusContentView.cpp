#include "presentation/FloatingStatusContentView.hpp"

#include "presentation/ElidedLabel.hpp"
#include "presentation/FloatingContentLayout.hpp"
#include "presentation/HoverSymbolButton.hpp"
#include "presentation/PlatformStyle.hpp"
#include "presentation/ScreenshotMode.hpp"
#include "presentation/SessionRowList.hpp"
#include "presentation/SessionRowView.hpp"
#include "presentation/SymbolIcon.hpp"
#include "presentation/Symbols.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>

namespace brindleaf {

namespace {

using Role = ThemeColor::Role;
namespace Layout = FloatingContentLayout;

QString qstr(const std::string& text) { return QString::fromStdString(text); }

// The tile: the mood's tint with the number of active sessions, or a check
// mark (a question mark while no agent could be read).
class MoodTile final : public QWidget {
public:
    explicit MoodTile(QWidget* parent) : QWidget(parent) {
        setFixedSize(int(Layout::tileSide), int(Layout::tileSide));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setState(StatusWording::Mood mood, std::int64_t count) {
        if (mood == mood_ && count == count_) return;
        mood_ = mood;
        count_ = count;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const ThemeColor moodColor = Layout::moodColor(mood_);
        ThemeColor tint = moodColor;
        tint.alpha *= Layout::tileOpacity(count_ > 0);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), Layout::tileRadius, Layout::tileRadius);
        painter.fillPath(shape, PlatformStyle::color(tint, palette()));
        const QColor color = PlatformStyle::color(moodColor, palette());
        if (count_ > 0) {
            painter.setPen(color);
            painter.setFont(PlatformStyle::font(30, QFont::Black));
            painter.drawText(QRectF(rect()), Qt::AlignCenter, QString::number(count_));
        } else {
            const QImage image = Symbols::image(Layout::tileSymbol(mood_), QSizeF(26, 26), color, devicePixelRatioF());
            const QSizeF size = image.deviceIndependentSize();
            painter.drawImage(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), image);
        }
    }

private:
    StatusWording::Mood mood_ = StatusWording::Mood::idle;
    std::int64_t count_ = -1;
};

// A 10-pixel dot in the accent colour that fades to 35 % and grows by 40 %
// and back, 0.9 seconds each way, each way eased in and out, while shown.
// Clicks pass through it; the colour is read from the palette on every frame,
// so light and dark recolour it without restarting the pulse.
class PulsingDot final : public QWidget {
public:
    explicit PulsingDot(QWidget* parent) : QWidget(parent) {
        setFixedSize(int(Layout::pulsingDotSide), int(Layout::pulsingDotSide));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        // The animation counts the seconds of one loop; the phase eases each way.
        pulse_.setStartValue(0.0);
        pulse_.setEndValue(2 * Layout::pulseLeg);
        pulse_.setDuration(int(std::lround(2000 * Layout::pulseLeg)));
        pulse_.setLoopCount(-1);
        QObject::connect(&pulse_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            phase_ = Layout::pulsePhase(value.toDouble());
            update();
        });
    }
    bool isPulsing() const { return pulse_.state() == QAbstractAnimation::Running; }

protected:
    void showEvent(QShowEvent*) override {
        if (!isPulsing()) pulse_.start();
    }
    void hideEvent(QHideEvent*) override { pulse_.stop(); }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(1.0 - 0.65 * phase_);
        painter.setPen(Qt::NoPen);
        painter.setBrush(PlatformStyle::color(ThemeColor::system(Role::accent), palette()));
        const double radius = 5 * (1.0 + 0.4 * phase_);
        painter.drawEllipse(QPointF(width() / 2.0, height() / 2.0), radius, radius);
    }

private:
    QVariantAnimation pulse_;
    double phase_ = 0;
};

// The header keeps the pulsing dot over the tile's top right corner: the
// dot's own top right corner on the tile's, moved 5 right and 5 up.
class Header final : public QWidget {
public:
    explicit Header(QWidget* parent) : QWidget(parent) {}
    QWidget* tile = nullptr;
    QWidget* dot = nullptr;

    void placeDot() {
        if (!tile || !dot) return;
        dot->move(tile->pos() + QPoint(int(Layout::pulsingDotLeft), int(Layout::pulsingDotTop)));
        dot->raise();
    }

protected:
    void resizeEvent(QResizeEvent*) override { placeDot(); }
};

} // namespace

FloatingStatusContentView::FloatingStatusContentView(StatusDashboardModel& model, std::function<void()> onClose,
                                                     std::function<void(double)> onIdealHeight, QWidget* parent)
    : ModelBoundView(model, parent), onClose_(std::move(onClose)), onIdealHeight_(std::move(onIdealHeight)) {
    setObjectName("floatingContent");
    setMinimumSize(int(Layout::minimumWidth), int(Layout::minimumHeight));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll_);
    scroll_->installEventFilter(this);

    stack_ = new QWidget;
    auto* stack = new QVBoxLayout(stack_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    // Header.
    auto* header = new Header(stack_);
    header_ = header;
    auto* headerRow = new QHBoxLayout(header_);
    headerRow->setContentsMargins(20, 18, 20, 14);
    headerRow->setSpacing(14);
    tile_ = new MoodTile(header_);
    tile_->setObjectName("moodTile");
    headerRow->addWidget(tile_);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    title_ = new ElidedLabel(header_);
    title_->setObjectName("floatingTitle");
    title_->setTextFont(PlatformStyle::font(20, QFont::Bold));
    summary_ = new ElidedLabel(header_);
    summary_->setObjectName("floatingSummary");
    summary_->setTextFont(PlatformStyle::font(12));
    summary_->setColor(ThemeColor::system(Role::secondaryLabel));
    texts->addWidget(title_);
    texts->addWidget(summary_);
    headerRow->addLayout(texts, 1);
    headerRow->addSpacing(12);
    closeButton_ = new HoverSymbolButton("xmark", QStringLiteral("Close (Esc)"), Layout::tileSide,
                                         HoverSymbolButton::Shape::roundedSquare, 22, header_);
    closeButton_->setObjectName("floatingClose");
    closeButton_->setAccessibleName(QStringLiteral("Close"));
    connect(closeButton_, &QAbstractButton::clicked, this, [this] {
        if (onClose_) onClose_();
    });
    headerRow->addWidget(closeButton_);
    pulsingDot_ = new PulsingDot(header_);
    pulsingDot_->setObjectName("pulsingDot");
    header->tile = tile_;
    header->dot = pulsingDot_;
    stack->addWidget(header_);

    // Sample-data notice.
    notice_ = new QWidget(stack_);
    notice_->setObjectName("sampleDataNotice");
    {
        auto* row = new QHBoxLayout(notice_);
        row->setContentsMargins(20, 0, 20, 10);
        row->setSpacing(5);
        const double side = textStyleSize(TextStyle::caption) + 2;
        row->addWidget(new SymbolIcon("eye", ThemeColor::system(Role::orange), QSizeF(side, side),
                                      QSize(int(side) + 2, int(side) + 2), notice_));
        auto* text = new ElidedLabel(notice_);
        text->setTextFont(PlatformStyle::font(TextStyle::caption, QFont::Medium));
        text->setColor(ThemeColor::system(Role::orange));
        text->setText(QStringLiteral("Showing Sample Data"));
        row->addWidget(text, 1);
    }
    stack->addWidget(notice_);

    // Empty state.
    empty_ = new QWidget(stack_);
    empty_->setObjectName("floatingEmpty");
    {
        auto* column = new QVBoxLayout(empty_);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(8);
        column->addSpacing(12);
        column->addStretch(1);
        column->addWidget(new SymbolIcon("moon.zzz.fill", ThemeColor::system(Role::tertiaryLabel), QSizeF(30, 30),
                                         QSize(34, 34), empty_),
                          0, Qt::AlignHCenter);
        auto* text = new ElidedLabel(empty_);
        text->setTextFont(PlatformStyle::font(13));
        text->setColor(ThemeColor::system(Role::secondaryLabel));
        text->setAlignment(Qt::AlignCenter);
        text->setText(QStringLiteral("No agents are running."));
        column->addWidget(text);
        column->addSpacing(24);
        column->addStretch(1);
    }
    stack->addWidget(empty_);

    // Sessions: all of them.
    list_ = new QWidget(stack_);
    auto* listLayout = new QVBoxLayout(list_);
    listLayout->setContentsMargins(16, 0, 16, 20);
    listLayout->setSpacing(8);
    rows_ = std::make_unique<SessionRowList>(listLayout, list_, sessionRowActions());
    stack->addWidget(list_);
    stack->addStretch(1);

    scroll_->setWidget(stack_);
    // Not filled (the scroll area fills the widget it is given): the view's
    // own background shows through. Filled, the stack would count as opaque
    // and Qt would scroll it by copying the scroll area's whole rectangle,
    // the rounded corners cut off by its mask included, leaving copies of
    // them along the left edge that nothing paints again.
    stack_->setAutoFillBackground(false);

    followModel();
}

FloatingStatusContentView::~FloatingStatusContentView() = default;

void FloatingStatusContentView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

void FloatingStatusContentView::redraw() {
    const AgentStatusSnapshot& shown = model_.displaySnapshot();
    const auto mood = model_.activityState();
    const auto running = std::int64_t(shown.runningSessions().size());
    const auto waiting = std::int64_t(shown.waitingSessions().size());
    const auto active = std::int64_t(shown.activeSessions.size());
    static_cast<MoodTile*>(tile_)->setState(mood, active);
    tile_->setProperty("count", QVariant::fromValue<qlonglong>(active));
    pulsingDot_->setVisible(mood == StatusWording::Mood::working);
    static_cast<Header*>(header_)->placeDot();
    title_->setText(qstr(StatusWording::title(mood)));
    summary_->setText(qstr(StatusWording::summary(mood, running, waiting, std::nullopt, now())));
    notice_->setVisible(model_.settings().isShowingSampleData() && !isScreenshotMode());
    empty_->setVisible(active == 0);
    list_->setVisible(active > 0);
    rows_->apply(shown.activeSessions, shown.activeSessions.size(), now());
    reportHeight();
}

void FloatingStatusContentView::reportHeight() {
    // The natural height of the stack (without the stretch below it).
    auto* layout = stack_->layout();
    layout->activate();
    double height = 0;
    for (int i = 0; i < layout->count(); ++i) {
        QWidget* widget = layout->itemAt(i)->widget();
        if (widget && !widget->isHidden()) height += widget->sizeHint().height();
    }
    if (std::abs(height - idealHeight_) < 0.5) return;
    idealHeight_ = height;
    if (onIdealHeight_) onIdealHeight_(height);
}

std::vector<SessionRowView*> FloatingStatusContentView::sessionRows() const { return rows_->rows(); }

void FloatingStatusContentView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), Layout::cornerRadius, Layout::cornerRadius);
    painter.fillPath(shape, palette().color(QPalette::Window));
}

bool FloatingStatusContentView::eventFilter(QObject* watched, QEvent* event) {
    // The cards and the scroll bar are square: the scroll area, which fills
    // the view, is clipped to the rounded corners. The view's own background,
    // drawn smooth, shows through where it is cut.
    if (watched == scroll_ && event->type() == QEvent::Resize) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(scroll_->rect()), Layout::cornerRadius, Layout::cornerRadius);
        scroll_->setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }
    return ModelBoundView::eventFilter(watched, event);
}

} // namespace brindleaf
