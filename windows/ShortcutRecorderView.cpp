#include "windows/ShortcutRecorderView.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

// The icon is compiled into this static library; nothing else would pull it in.
static void initRecorderResources() { Q_INIT_RESOURCE(ShortcutRecorderView); }

namespace brindleaf {

namespace {

std::optional<std::uint32_t> keyCodeOfQtKey(int key) {
    switch (key) {
    case Qt::Key_Escape:
        return 53;
    case Qt::Key_Return:
        return 36;
    case Qt::Key_Enter:
        return 76;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 48;
    case Qt::Key_Backspace:
        return 51;
    case Qt::Key_Delete:
        return 117;
    case Qt::Key_Home:
        return 115;
    case Qt::Key_End:
        return 119;
    case Qt::Key_PageUp:
        return 116;
    case Qt::Key_PageDown:
        return 121;
    case Qt::Key_Left:
        return 123;
    case Qt::Key_Right:
        return 124;
    case Qt::Key_Down:
        return 125;
    case Qt::Key_Up:
        return 126;
    case Qt::Key_F1:
        return 122;
    case Qt::Key_F2:
        return 120;
    case Qt::Key_F3:
        return 99;
    case Qt::Key_F4:
        return 118;
    case Qt::Key_F5:
        return 96;
    case Qt::Key_F6:
        return 97;
    case Qt::Key_F7:
        return 98;
    case Qt::Key_F8:
        return 100;
    case Qt::Key_F9:
        return 101;
    case Qt::Key_F10:
        return 109;
    case Qt::Key_F11:
        return 103;
    case Qt::Key_F12:
        return 111;
    case Qt::Key_Shift:
        return 56;
    case Qt::Key_Control:
        return 59;
    case Qt::Key_Alt:
        return 58;
    case Qt::Key_AltGr:
        return 61;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
        return 55;
    case Qt::Key_Super_R:
        return 54;
    case Qt::Key_CapsLock:
        return 57;
    default:
        break;
    }
    if (key >= 0x20 && key < 0x7f) return ShortcutRecorderModel::keyCodeOfUSCharacter(static_cast<char32_t>(key));
    return std::nullopt;
}

} // namespace

ShortcutRecorderView::ShortcutRecorderView(std::unique_ptr<ShortcutRecorderModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      shortcutButton_(new QPushButton(this)),
      resetButton_(new QToolButton(this)),
      message_(new QLabel(this)) {
    initRecorderResources();
    shortcutButton_->setObjectName("shortcutButton");
    shortcutButton_->setMinimumWidth(96);
    shortcutButton_->setAccessibleDescription(QString::fromUtf8(ShortcutRecorderModel::accessibilityHint));

    resetButton_->setObjectName("resetButton");
    resetButton_->setAutoRaise(true);
    resetButton_->setIcon(QIcon(":/windows/icons/arrow.uturn.backward.svg"));
    resetButton_->setAccessibleName(QString::fromUtf8(ShortcutRecorderModel::resetAccessibilityLabel));

    message_->setObjectName("shortcutMessage");
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    QFont caption = message_->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    message_->setFont(caption);
    QPalette red = message_->palette();
    red.setColor(QPalette::WindowText, QColor(0xd7, 0x26, 0x1e));
    message_->setPalette(red);

    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(shortcutButton_, 0, Qt::AlignVCenter);
    row->addWidget(resetButton_, 0, Qt::AlignVCenter);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    column->addLayout(row);
    column->setAlignment(row, Qt::AlignRight);
    column->addWidget(message_);

    connect(shortcutButton_, &QPushButton::clicked, this, [this] { model_->pressRecordButton(); });
    connect(resetButton_, &QToolButton::clicked, this, [this] { model_->pressReset(); });
    model_->setOnChanged([this] { refresh(); });
    refresh();
}

ShortcutRecorderView::~ShortcutRecorderView() {
    model_->setOnChanged(nullptr);
    if (filtering_) qApp->removeEventFilter(this);
}

void ShortcutRecorderView::refresh() {
    shortcutButton_->setText(QString::fromStdString(model_->buttonTitle()));
    shortcutButton_->setAccessibleName(QString::fromStdString(model_->buttonAccessibilityLabel()));
    resetButton_->setEnabled(model_->isResetEnabled());
    resetButton_->setToolTip(QString::fromStdString(model_->resetHelp()));
    auto message = model_->message();
    message_->setText(message ? QString::fromStdString(*message) : QString());
    message_->setVisible(message.has_value());

    // Key presses reach the recorder from the whole application while it records.
    const bool recording = model_->isRecording();
    if (recording && !filtering_) qApp->installEventFilter(this);
    if (!recording && filtering_) qApp->removeEventFilter(this);
    filtering_ = recording;
}

std::optional<std::uint32_t> ShortcutRecorderView::keyCodeOf(const QKeyEvent& event) {
    if (event.nativeScanCode() != 0) {
        if (auto code = GlobalHotkeyMonitor::keyCodeOfNativeKey(event.nativeScanCode())) return code;
    }
    return keyCodeOfQtKey(event.key());
}

bool ShortcutRecorderView::eventFilter(QObject* watched, QEvent* event) {
    if (!model_->isRecording()) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Keeps the window's own shortcuts from taking the press first.
        event->accept();
        return true;
    }
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    const auto& key = static_cast<const QKeyEvent&>(*event);
    const auto flags = key.modifiers();
    if (auto code = keyCodeOf(key)) {
        model_->keyDown(*code,
                        ShortcutRecorderModel::carbonModifiers(flags & Qt::ControlModifier, flags & Qt::AltModifier,
                                                               flags & Qt::ShiftModifier, flags & Qt::MetaModifier));
    }
    return true;
}

void ShortcutRecorderView::hideEvent(QHideEvent* event) {
    model_->stopRecording();
    QWidget::hideEvent(event);
}

} // namespace brindleaf
