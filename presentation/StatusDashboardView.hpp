#pragma once

#include "presentation/ModelBoundView.hpp"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAbstractButton;
class QPushButton;
class QScreen;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace brindleaf {

class ElidedLabel;
class HoverSymbolButton;
class SessionRowList;
class SessionRowView;
class SymbolIcon;

// The dashboard that opens from the tray icon, 380 pixels wide: the sample-data
// banner, the header with the overall mood and the floating-window button, a
// scroll area with the active sessions (at most 12) and the enabled agents,
// the hidden-stale row, and the footer with the update time, the spinner, the
// update button and Refresh, Settings and Quit. Everything shown comes from
// the dashboard model; every action goes through the model's callbacks, the
// settings store or onCheckForUpdates.
//
// It redraws on the next turn of the event loop after the model or the
// settings change; the shell calls scheduleApply() when folder grants change
// and setPendingUpdateVersion() when the updater's pending version does.
// Session rows are kept per session id between redraws.
//
// Tab and Shift+Tab walk its controls as they are seen, from the banner's
// button down to Quit (each session card is one stop, for its menu); Space,
// Return and Enter press the focused one.
//
// The popup window that holds it belongs to the tray shell (see
// DashboardPanel for the rounded panel around it). Main thread only.
class StatusDashboardView final : public ModelBoundView {
    Q_OBJECT
public:
    explicit StatusDashboardView(StatusDashboardModel& model, QWidget* parent = nullptr);
    ~StatusDashboardView() override;

    // The screen the tray icon is on: its available height caps the scroll
    // area. Null means no screen. The primary screen until set.
    void setHostScreen(QScreen* screen);
    // The version the updater offers; the footer shows "Update to ..." while set.
    void setPendingUpdateVersion(std::optional<std::string> version);
    // Runs the updater's user-initiated check.
    std::function<void()> onCheckForUpdates;

    // The session rows shown, in order.
    std::vector<SessionRowView*> sessionRows() const;
    int scrollAreaHeight() const;

signals:
    // The view's preferred height changed (the host resizes its window).
    void preferredSizeChanged();

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void redraw() override;

private:
    struct AgentRowWidgets;

    void buildHeader(QVBoxLayout* layout);
    void buildPanel(QVBoxLayout* layout);
    void buildFooter(QVBoxLayout* layout);
    void applyHeader(const AgentStatusSnapshot& shown);
    void applySessions(const AgentStatusSnapshot& shown);
    void applyAgents();
    void applyFooter(const AgentStatusSnapshot& shown);
    // Sizes the scroll area to the panel's content once every pending layout
    // below the panel has been redone, so a row whose trailing element just
    // changed counts with its new height.
    void resizeScrollArea();
    void applyTabOrder();
    void run(const std::function<void()>& action) const;

    QPointer<QScreen> hostScreen_;
    bool hasHostScreen_ = true;
    std::optional<std::string> pendingUpdateVersion_;

    QWidget* banner_ = nullptr;
    QPushButton* turnOffButton_ = nullptr;
    QWidget* heroBadge_ = nullptr;
    ElidedLabel* heroTitle_ = nullptr;
    ElidedLabel* heroSummary_ = nullptr;
    HoverSymbolButton* floatingButton_ = nullptr;
    QString floatingButtonTitle_;
    QScrollArea* scroll_ = nullptr;
    QWidget* panel_ = nullptr;
    QVBoxLayout* sessionsLayout_ = nullptr;
    QWidget* emptyView_ = nullptr;
    SymbolIcon* emptySymbol_ = nullptr;
    ElidedLabel* emptyText_ = nullptr;
    QPushButton* emptyAllowAccess_ = nullptr;
    QPushButton* emptyShowSample_ = nullptr;
    QVBoxLayout* agentsLayout_ = nullptr;
    std::vector<AgentRowWidgets*> agentRows_;
    QAbstractButton* staleRow_ = nullptr;
    ElidedLabel* staleCount_ = nullptr;
    ElidedLabel* updatedLabel_ = nullptr;
    QWidget* spinner_ = nullptr;
    QToolButton* updateButton_ = nullptr;
    QToolButton* refreshButton_ = nullptr;
    QToolButton* settingsButton_ = nullptr;
    QToolButton* quitButton_ = nullptr;

    std::unique_ptr<SessionRowList> rows_;
    QSize lastSizeHint_;
};

} // namespace brindleaf
