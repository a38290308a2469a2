#include "tools/gallery/StatusSurfaceFixtures.hpp"

#include "core/ProviderCatalog.hpp"
#include "tools/gallery/GalleryRegistry.hpp"

#include <QApplication>
#include <QPainter>
#include <QWidget>

namespace brindleaf::gallery {

namespace {

constexpr Date now = GalleryOutput::fixedNow;

SessionRuntimeProfile profile(std::string model, std::string effort, SessionRuntimeProfileSource source) {
    return SessionRuntimeProfile(std::move(model), std::move(effort), source);
}

} // namespace

StatusSurfaceFixture::StatusSurfaceFixture(AgentStatusSnapshot snapshot)
    : settings(std::make_shared<ProviderSettingsStore>(UserDefaults::inMemory("gallery-status-surfaces"))) {
    model = std::make_unique<StatusDashboardModel>(queue, std::move(snapshot), settings, access,
                                                   ClearedStaleBaselines{}, ProviderCatalog::all());
}

void StatusSurfaceFixture::settle() {
    for (int i = 0; i < 3; ++i) {
        queue.drain();
        QCoreApplication::processEvents();
    }
}

std::vector<AgentSession> StatusSurfaceFixture::typicalSessions() {
    return {
        AgentSession({.id = "019a7c2e-codex",
                      .provider = "Codex",
                      .title = "Refactor the payload builder",
                      .cwd = "/home/dana/src/brindleaf",
                      .lastActivityAt = now - 12,
                      .evidence = "tool call running: cargo test",
                      .resourceUsage = SessionResourceUsage(48211, 18.4, 212LL * 1024 * 1024, 3),
                      .runtimeProfile = profile("gpt-5-codex", "high", SessionRuntimeProfileSource::codexThreadStore)}),
        AgentSession({.id = "5b1e9f70-claude",
                      .provider = "Claude Code",
                      .title = "Write tests for the run-state ledger",
                      .cwd = "/home/dana/src/ledger/",
                      .lastActivityAt = now - 95,
                      .evidence = "awaiting user authorization for Bash",
                      .needsUserAttention = true,
                      .resourceUsage = SessionResourceUsage(48377, 0.4, 96LL * 1024 * 1024, 1),
                      .runtimeProfile = profile("claude-opus-4", "", SessionRuntimeProfileSource::claudeTranscript)}),
        AgentSession({.id = "a3c0-sub",
                      .provider = "Claude Code",
                      .parentID = "5b1e9f70-claude",
                      .parentAgentNickname = "planner",
                      .title = "Explore the <b>transcript</b> format",
                      .cwd = "/home/dana/src/ledger",
                      .lastActivityAt = now - 40,
                      .evidence = "sub-agent running",
                      .backgroundTaskSummary = "npm test -- --watch"}),
        AgentSession({.id = "hermes-2026-03-14",
                      .provider = "Hermes",
                      .title = "Summarise the nightly logs",
                      .cwd = "/home/dana/src/ml_models-7",
                      .lastActivityAt = now - 3,
                      .evidence = "open turn awaiting assistant response"}),
    };
}

std::vector<AgentSession> StatusSurfaceFixture::manySessions(int count) {
    const char* providers[] = {"Codex", "Claude Code", "Hermes"};
    std::vector<AgentSession> sessions;
    for (int i = 0; i < count; ++i) {
        std::string number = std::to_string(i + 1);
        std::string id = "session-";
        id.append(number);
        std::string title = "Task number ";
        title.append(number);
        std::string cwd = "/home/dana/src/project-";
        cwd.append(number);
        sessions.push_back(AgentSession({.id = id,
                                         .provider = providers[i % 3],
                                         .title = title,
                                         .cwd = cwd,
                                         .lastActivityAt = now - 20.0 * i,
                                         .evidence = i % 4 == 3 ? "waiting for your choice" : "tool call running",
                                         .needsUserAttention = i % 4 == 3}));
    }
    return sessions;
}

AgentStatusSnapshot StatusSurfaceFixture::snapshot(std::vector<AgentSession> sessions,
                                                   std::vector<std::pair<std::string, std::vector<std::string>>> errors,
                                                   std::int64_t staleClaudeSessions) {
    std::vector<ProviderSnapshot> providers;
    for (const auto& descriptor : ProviderCatalog::all()) {
        std::vector<AgentSession> own;
        for (const auto& session : sessions)
            if (session.provider == descriptor.displayName) own.push_back(session);
        std::vector<std::string> providerErrors;
        for (const auto& [name, list] : errors)
            if (name == descriptor.displayName) providerErrors = list;
        providers.push_back(ProviderSnapshot::make(descriptor.displayName, std::nullopt, std::nullopt, own,
                                                   descriptor.id == "claude" ? staleClaudeSessions : 0, now,
                                                   providerErrors));
    }
    return AgentStatusSnapshot::make(std::move(providers), now);
}

void usePalette(const QPalette& palette) { QApplication::setPalette(palette); }

QImage renderWidget(QWidget& widget, int ratio) {
    widget.setAttribute(Qt::WA_DontShowOnScreen);
    widget.show();
    widget.adjustSize();
    QCoreApplication::processEvents();
    QImage image(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    widget.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    painter.end();
    return image;
}

} // namespace brindleaf::gallery
