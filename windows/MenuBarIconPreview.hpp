#pragma once

#include "presentation/StatusIconFactory.hpp"

#include <QTimer>
#include <QWidget>

#include <array>
#include <cstddef>

class QLabel;

namespace brindleaf {

// The tray icon's three looks side by side (Idle, Working, Waiting); the
// Working cell steps through the running frames every 0.1 seconds while the
// preview is visible. Object names, for tests: "previewIdle", "previewWorking",
// "previewWaiting".
class MenuBarIconPreview final : public QWidget {
    Q_OBJECT

public:
    explicit MenuBarIconPreview(QWidget* parent = nullptr);

    // A new set keeps counting from the current frame index.
    void setIcons(const StatusIconFactory::IconSet& icons);
    std::size_t frameIndex() const { return frameIndex_; }
    bool isAnimating() const { return timer_.isActive(); }
    void advanceFrame();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void paintCells();

    StatusIconFactory::IconSet icons_;
    std::size_t frameIndex_ = 0;
    std::array<QLabel*, 3> images_{};
    QTimer timer_;
};

} // namespace brindleaf
