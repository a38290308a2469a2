#pragma once

#include "core/AgentSession.hpp"
#include "core/Date.hpp"

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QVBoxLayout;
class QWidget;

namespace brindleaf {

class SessionRowView;
struct SessionRowActions;

// The session cards of a list (the dashboard's, the floating window's) kept
// per session id between refreshes: a session still listed keeps its card,
// new ones get one, and the cards of sessions gone are retired (see
// SessionRowView::retire). A repeated id gets a card of its own.
class SessionRowList {
public:
    // Cards go into `layout`, as children of `parent`.
    // `actions` go to every card.
    SessionRowList(QVBoxLayout* layout, QWidget* parent, const SessionRowActions& actions);
    ~SessionRowList();

    // Shows the first `limit` sessions, in order.
    void apply(const std::vector<AgentSession>& sessions, std::size_t limit, Date now);
    std::vector<SessionRowView*> rows() const;

private:
    QVBoxLayout* layout_;
    QWidget* parent_;
    std::unique_ptr<SessionRowActions> actions_;
    std::vector<std::pair<std::string, SessionRowView*>> rows_;
};

} // namespace brindleaf
