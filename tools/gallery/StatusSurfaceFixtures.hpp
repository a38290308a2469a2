#pragma once

#include "core/AgentStatusSnapshot.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/StatusDashboardModel.hpp"

#include <QImage>
#include <QPalette>

#include <memory>
#include <set>
#include <string>
#include <vector>

class QWidget;

namespace brindleaf::gallery {

// Made-up sessions, snapshots and a dashboard model for the pages of the
// dashboard and the floating window, all at the gallery's fixed clock.
struct StatusSurfaceFixture {
    class FolderAccess final : public FolderAccessQuery {
    public:
        std::set<std::string> missing;
        std::set<std::string> granted{"codex", "claude", "hermes"};
        bool hasMissingFolders(const std::string& id) const override { return missing.count(id) > 0; }
        bool hasAccess(const std::string& id) const override { return granted.count(id) > 0; }
    };

    ManualMainQueue queue;
    std::shared_ptr<ProviderSettingsStore> settings;
    std::shared_ptr<FolderAccess> access = std::make_shared<FolderAccess>();
    std::unique_ptr<StatusDashboardModel> model;

    explicit StatusSurfaceFixture(AgentStatusSnapshot snapshot);
    // Runs the model's and the widgets' next-turn work.
    void settle();

    // Four sessions of the three agents: working, waiting, a subagent, thinking.
    static std::vector<AgentSession> typicalSessions();
    // `count` sessions, every fourth waiting.
    static std::vector<AgentSession> manySessions(int count);
    static AgentStatusSnapshot snapshot(std::vector<AgentSession> sessions,
                                        std::vector<std::pair<std::string, std::vector<std::string>>> errors = {},
                                        std::int64_t staleClaudeSessions = 0);
};

// Renders a widget (made while the palette was the application's) into an
// image at a device pixel ratio, on a transparent background.
QImage renderWidget(QWidget& widget, int ratio);
// Makes the palette the application's, for the widgets built next.
void usePalette(const QPalette& palette);

} // namespace brindleaf::gallery
