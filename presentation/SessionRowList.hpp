#pragma once

#include "core/AgentSession.hpp"
#include "core/Date.hpp"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class QVBoxLayout;
class QWidget;

namespace brindleaf {

class SessionRowView;

// The session cards of a list (the dashboard's, the floating window's) kept
// per session id between refreshes: a session still listed keeps its card,
// new ones get one, and the cards of sessions gone are retired (see
// SessionRowView::retire). A repeated id gets a card of its own.
class SessionRowList {
public:
    // Cards go into `layout`, as children of `parent`.
    SessionRowList(QVBoxLayout* layout, QWidget* parent);

    // Shows the first `limit` sessions, in order.
    void apply(const std::vector<AgentSession>& sessions, std::size_t limit, Date now);
    std::vector<SessionRowView*> rows() const;

private:
    QVBoxLayout* layout_;
    QWidget* parent_;
    std::vector<std::pair<std::string, SessionRowView*>> rows_;
};

} // namespace brindleaf
